#pragma once

#include <cstdint>
#include <filesystem>

#include "DataFolder.h"

namespace tidewell::webfolder {

struct BackupResult {
    std::size_t archives = 0;
    std::int64_t bytes = 0;
};

// Copies the data folder as one consistent state into destination, a new folder that can be
// served as it is: the index through SQLite's backup, and every archive the copy names. For
// the moment it takes, writers wait: the archives are hard-linked into a staging folder
// beside the index, so none of them can disappear before it is copied; the slow copy runs
// afterwards. The copied index says it is an unfinished backup until backup-complete, written
// last with the counts and a checksum of the index, vouches for it: a backup cut off midway
// is never taken for a whole one. Raises Exception; a destination that exists is refused.
BackupResult BackupDataFolder(const DataFolder& folder, const std::filesystem::path& destination);

// Copies a whole backup (one that DataFolder accepts) into destination, a new folder, which
// then serves as it is. Raises Exception.
BackupResult RestoreBackup(const std::filesystem::path& backup,
                           const std::filesystem::path& destination);

}  // namespace tidewell::webfolder
