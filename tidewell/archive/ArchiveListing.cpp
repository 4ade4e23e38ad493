#include "archive/ArchiveListing.h"

#include <filesystem>
#include <memory>
#include <optional>

#include "archive/ArchiveFormat.h"
#include "archive/ArchiveIo.h"
#include "archive/BlockCodec.h"
#include "platform/CodePage.h"

namespace tidewell::archive {
namespace {

void ReadBlockList(ArchiveReader& reader, BlockInflater& inflater, ArchiveMember& member) {
    auto in = std::make_unique<unsigned char[]>(kBlockSize);
    auto out = std::make_unique<unsigned char[]>(kBlockSize);
    reader.ReadSignature();
    for (;;) {
        const std::int32_t length = reader.ReadBlockLength();
        if (length == 0) return;
        const auto size = static_cast<std::size_t>(length < 0 ? -length : length);
        reader.ReadBytes(in.get(), size);
        member.storedSize += static_cast<std::int64_t>(size);
        member.size += static_cast<std::int64_t>(
            length < 0 ? size : inflater.Inflate(in.get(), size, out.get()));
    }
}

}  // namespace

void ListArchive(const std::string& archiveName,
                 const std::function<void(const ArchiveMember&)>& onMember) {
    std::string diskName = archiveName;
    unsigned disk = 1;
    auto reader = std::make_unique<ArchiveReader>(diskName);
    reader->ReadHeader();
    BlockInflater inflater;
    std::optional<ArchiveMember> member;  // complete unless the next record continues it
    for (;;) {
        if (reader->AtEnd()) {
            if (member) onMember(*member);
            throw ArchiveError("The archive is incomplete: " + reader->Where() +
                               " ends where the next record should be");
        }
        const std::optional<std::string> name = reader->ReadName();
        if (!name) break;
        if (name->starts_with(kNextDiskPrefix)) {
            if (!member) reader->Damaged("it continues on another disk before any member");
            disk = reader->NextDisk(*name, disk);
            diskName = DiskFileName(diskName, DiskSuffix(disk));
            std::error_code ec;
            if (!std::filesystem::exists(diskName, ec)) {
                throw ArchiveError("The archive continues in " + diskName + ", which is missing");
            }
            reader = std::make_unique<ArchiveReader>(diskName);
            ReadBlockList(*reader, inflater, *member);
            continue;
        }
        if (member) onMember(*member);
        member.emplace();
        member->name = AnsiToUtf8(*name);
        member->date = reader->ReadInt32();
        ReadBlockList(*reader, inflater, *member);
    }
    if (member) onMember(*member);
}

}  // namespace tidewell::archive
