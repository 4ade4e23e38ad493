#include "FolderBytes.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "SystemRandom.h"
#include "UploadFile.h"
#include "platform/Error.h"

namespace fs = std::filesystem;

namespace tidewell::webfolder {
namespace {

std::int64_t BlockBytes(const fs::path& folder) {
    struct statvfs st {};
    if (::statvfs(folder.c_str(), &st) != 0) return 4096;
    const auto block = static_cast<std::int64_t>(st.f_frsize ? st.f_frsize : st.f_bsize);
    return block > 0 ? block : 4096;
}

void RemoveQuietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

class FileWriter : public ArchiveWriter {
public:
    FileWriter(const DataFolder& folder, const std::string& name)
        : folder_(folder), name_(name), file_(folder.UploadsFolder()) {}
    ~FileWriter() override {
        if (!placed_.empty() && !kept_) RemoveQuietly(folder_.ArchivesFolder() / placed_);
    }

    void Write(const char* data, std::size_t size) override { file_.Write(data, size); }
    std::int64_t Size() const override { return file_.Size(); }
    void Seal() override { file_.Flush(); }

    std::string Place(std::int64_t companyId) override {
        const fs::path companyFolder = folder_.ArchivesFolder() / std::to_string(companyId);
        if (::mkdir(companyFolder.c_str(), 0700) == 0) {
            // The new folder's name, before what goes in it. An operator may have linked
            // archives/ to another disk: flush the folder the name really lives in.
            SyncFolder(fs::canonical(folder_.ArchivesFolder()));
        } else if (errno != EEXIST) {
            const int code = errno;
            throw SystemError("cannot create " + companyFolder.string() + ": " + strerror(code),
                              code);
        }
        // A name no other upload will pick: the archive's time for people reading the folder,
        // then 128 random bits.
        const std::string relative =
            std::to_string(companyId) + "/" + name_.substr(0, 14) + "-" + RandomHex(16) + ".bck";
        file_.MoveTo(folder_.ArchivesFolder() / relative);
        placed_ = relative;
        return relative;
    }

    void Kept() override { kept_ = true; }

private:
    const DataFolder& folder_;
    std::string name_;
    UploadFile file_;
    std::string placed_;
    bool kept_ = false;
};

class FileReader : public ArchiveReader {
public:
    FileReader(FileHandle file, std::int64_t size) : file_(std::move(file)), size_(size) {}

    std::int64_t Size() const override { return size_; }
    std::int64_t Read(std::uint64_t position, char* buffer, std::size_t size,
                      const std::shared_ptr<ReadWaiter>&) override {
        const ssize_t got = ::pread(file_.get(), buffer, size, static_cast<off_t>(position));
        return got > 0 ? got : kFailed;
    }

private:
    FileHandle file_;
    std::int64_t size_;
};

}  // namespace

FolderBytes::FolderBytes(const DataFolder& folder)
    : folder_(folder), charges_{BlockBytes(folder.ArchivesFolder())} {}

std::unique_ptr<ArchiveWriter> FolderBytes::NewWriter(std::int64_t, const std::string& name) {
    return std::make_unique<FileWriter>(folder_, name);
}

std::shared_ptr<ArchiveReader> FolderBytes::Open(const StoredArchive& archive) {
    const fs::path path = folder_.ArchivesFolder() / archive.object;
    FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!file) {
        if (errno == ENOENT) return nullptr;
        throw Exception("cannot open " + path.string() + ": " + strerror(errno));
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) throw Exception("cannot read " + path.string());
    return std::make_shared<FileReader>(std::move(file), static_cast<std::int64_t>(st.st_size));
}

void FolderBytes::Release(const Released& released) {
    for (const auto& object : released.objects) RemoveQuietly(folder_.ArchivesFolder() / object);
    for (const std::int64_t company : released.companies) {
        RemoveQuietly(folder_.ArchivesFolder() / std::to_string(company));
    }
}

}  // namespace tidewell::webfolder
