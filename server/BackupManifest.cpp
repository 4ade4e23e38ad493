#include "BackupManifest.h"

#include <fcntl.h>
#include <nettle/sha2.h>
#include <unistd.h>

#include <charconv>
#include <fstream>

#include "platform/Error.h"
#include "platform/FileHandle.h"
#include "platform/FileKit.h"
#include "platform/Identity.h"

namespace tidewell::webfolder {

void BackupManifest::Write(const std::filesystem::path& folder) const {
    const std::string text = "tidewell-webfolder backup\narchives=" + std::to_string(archives) +
                             "\nbytes=" + std::to_string(bytes) + "\nindex-sha256=" + indexSha256 +
                             "\n";
    TemporaryFile part = CreateTemporaryFile(folder, std::string(kFile) + ".part-");
    ScopedFileRemoval removal(part.path);
    WriteAll(part.handle.get(), text.data(), text.size(), part.path.string());
    part.handle.Reset();
    SyncFile(part.path);
    std::filesystem::rename(part.path, folder / kFile);
    removal.Keep();
    SyncFolder(folder);
}

std::optional<BackupManifest> BackupManifest::Read(const std::filesystem::path& folder) {
    std::ifstream in(folder / kFile);
    if (!in) return std::nullopt;
    BackupManifest manifest;
    bool archives = false, bytes = false;
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string name = line.substr(0, eq), value = line.substr(eq + 1);
        auto number = [&](std::int64_t& target) {
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), target);
            return error == std::errc() && end == value.data() + value.size();
        };
        if (name == "archives") archives = number(manifest.archives);
        if (name == "bytes") bytes = number(manifest.bytes);
        if (name == "index-sha256") manifest.indexSha256 = value;
    }
    if (!archives || !bytes || manifest.indexSha256.size() != 64) return std::nullopt;
    return manifest;
}

std::string FileSha256(const std::filesystem::path& file) {
    const FileHandle in(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) throw Exception("cannot read " + file.string());
    sha256_ctx context;
    sha256_init(&context);
    char buffer[64 * 1024];
    ssize_t got = 0;
    while ((got = ::read(in.get(), buffer, sizeof buffer)) > 0) {
        sha256_update(&context, static_cast<std::size_t>(got),
                      reinterpret_cast<const std::uint8_t*>(buffer));
    }
    if (got < 0) throw Exception("cannot read " + file.string());
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, sizeof digest, digest);
    return HexText(digest, sizeof digest);
}

}  // namespace tidewell::webfolder
