#pragma once

#include "ArchiveIndex.h"
#include "DataFolder.h"

namespace tidewell::webfolder {

// The embedded index: the SQLite database of a data folder. One writer at a time (SQLite's
// write lock), which is what holds an account while an upload is stored.
class SqliteIndex : public ArchiveIndex {
public:
    explicit SqliteIndex(const DataFolder& folder) : folder_(folder) {}

    bool SaveAccount(const AccountRecord& record, std::int64_t now) override;
    std::optional<Account> FindAccount(std::string_view userId) override;
    bool ReplacePasswordRecord(std::int64_t accountId, std::string_view oldRecord,
                               std::string_view newRecord) override;

    std::int64_t DiskUsed(std::int64_t accountId, const Charges& charges) override;
    std::vector<std::string> CompanyKeys(std::int64_t accountId) override;
    std::optional<CompanyInfo> FindCompany(std::int64_t accountId, std::string_view key) override;
    std::optional<StoredArchive> LatestArchive(std::int64_t accountId,
                                               std::string_view key) override;

    UploadDecision WeighUpload(const UploadQuery& query, std::int64_t quota) override;
    StoreOutcome StoreArchive(const UploadQuery& query, const NewArchive& archive,
                              std::int64_t size, std::int64_t now, const Place& place) override;
    std::optional<Released> DeleteCompany(std::int64_t accountId, std::string_view key) override;
    PruneResult Prune(const PruneRules& rules,
                      const std::function<void(const Released&)>& released) override;

private:
    const DataFolder& folder_;
};

// Reads an account row selected with kAccountColumns.
Account ReadAccount(const SqliteStatement& row);
inline constexpr char kAccountColumns[] =
    "id, user_id, name, password, created, last_modified, expire_at, quota";

}  // namespace tidewell::webfolder
