#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "Backend.h"

namespace tidewell::webfolder {

struct MigrateResult {
    std::size_t accounts = 0;
    std::size_t companies = 0;
    std::size_t archives = 0;
    std::int64_t bytes = 0;
};

// Moves an embedded data folder into an index in PostgreSQL and an S3 bucket: accounts with
// their password records, quotas and periods, companies and archives with their IDs, so the
// order they arrived in stays, each archive's bytes checked on the way. The archives go up
// first, known to the ledger, then the index takes everything in one transaction: a move cut
// off anywhere leaves the target without accounts (and the uploads for the sweep), so it can
// simply run again. The data folder is only read, and must not be served meanwhile. Raises
// Exception; `progress` hears of each archive.
MigrateResult MigrateDataFolder(const std::filesystem::path& dataFolder,
                                const StoreLocation& target,
                                const std::function<void(const std::string&)>& progress);

}  // namespace tidewell::webfolder
