#pragma once

#include <optional>
#include <string>

#include "ArchiveIndex.h"
#include "LoginGuard.h"
#include "ObjectLedger.h"
#include "PgConnection.h"

namespace tidewell::webfolder {

// The index in PostgreSQL, shared by every instance of the service. An upload, a company's
// deletion and a prune hold the account's row (SELECT ... FOR UPDATE) for their transaction,
// so one account's changes are serialised, whichever instance makes them, while other
// accounts go on. A download holds the archive's row while it records its read, so the archive
// cannot be let go of unseen between the two.
class PgIndex : public ArchiveIndex, public ObjectLedger {
public:
    explicit PgIndex(PgPool& pool) : pool_(pool) {}

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

    void NoteUnnamed(const std::string& object) override;
    void Forget(const std::vector<std::string>& objects) override;
    std::vector<std::string> Removable(const std::vector<std::string>& objects) override;
    std::vector<std::string> Doomed(std::int64_t pendingSeconds, std::size_t limit) override;
    void ExtendRead(const std::string& object, const std::string& reader) override;
    void EndRead(const std::string& object, const std::string& reader) override;
    // Drops reads whose time ran out (their instance stopped); returns how many.
    std::int64_t EndStaleReads();

    // For fsck: every archive's object and size; the size of the one naming an object, if any;
    // whether the ledger knows an object; repairs.
    std::vector<std::pair<std::string, std::int64_t>> ArchiveObjects();
    std::optional<std::int64_t> NamedSize(const std::string& object);
    bool InLedger(const std::string& object);
    void DropArchive(const std::string& object);
    void SetArchiveSize(const std::string& object, std::int64_t size);

    // What a data folder holds, moved in whole: rows keep their IDs, so companies and archives
    // keep the order they arrived in. One transaction; the index must hold no account yet.
    struct Import {
        std::vector<Account> accounts;
        struct Company {
            std::int64_t id, accountId;
            std::string key, name;
            std::int64_t created;
        };
        std::vector<Company> companies;
        struct Archive {
            std::int64_t id, companyId;
            std::string name, object;
            std::int64_t size, stored;
        };
        std::vector<Archive> archives;
    };
    bool HoldsAccounts();
    void ImportAll(const Import& import);

    std::optional<std::string> ReadSetting(const std::string& name);
    // Writes the value unless one is there already; returns the one in place.
    std::string SettleSetting(const std::string& name, const std::string& value);
    bool NamesArchives();

private:
    PgPool& pool_;
};

// Failed logins counted in the index, so every instance gives a guesser the same budget, with
// the same rules as the in-memory count and the database's clock for all of them.
class PgThrottle : public LoginThrottle {
public:
    explicit PgThrottle(PgPool& pool, ThrottleRules perAccount = {},
                        ThrottleRules perAddress = LoginGuard::AddressRules())
        : pool_(pool), perAccount_(perAccount), perAddress_(perAddress) {}

    std::chrono::seconds Wait(std::string_view account, std::string_view address,
                              Clock::time_point now) override;
    std::chrono::seconds Failed(std::string_view account, std::string_view address,
                                Clock::time_point now) override;
    void Succeeded(std::string_view account, std::string_view address) override;
    // Forgets counts old enough to be forgotten and no longer refused; returns how many.
    std::int64_t Tidy();

private:
    PgPool& pool_;
    ThrottleRules perAccount_;
    ThrottleRules perAddress_;
};

}  // namespace tidewell::webfolder
