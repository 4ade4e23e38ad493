#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tidewell::webfolder {

// What a whole backup vouches for, in the file it writes last.
struct BackupManifest {
    static constexpr char kFile[] = "backup-complete";
    // Written first and removed last by a backup.
    static constexpr char kUnfinishedFile[] = "backup-unfinished";
    // The index setting a copied index carries until its backup is accepted.
    static constexpr char kStateSetting[] = "backup_state";

    std::int64_t archives = 0;
    std::int64_t bytes = 0;
    std::string indexSha256;

    // Written whole or not at all, and made durable.
    void Write(const std::filesystem::path& folder) const;
    static std::optional<BackupManifest> Read(const std::filesystem::path& folder);
};

// SHA-256 of a file, in hexadecimal; raises Exception.
std::string FileSha256(const std::filesystem::path& file);

}  // namespace tidewell::webfolder
