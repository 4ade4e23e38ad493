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
// afterwards. Raises Exception; a destination that exists is refused.
BackupResult BackupDataFolder(const DataFolder& folder, const std::filesystem::path& destination);

}  // namespace tidewell::webfolder
