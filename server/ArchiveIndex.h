#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Account.h"

namespace tidewell::webfolder {

// One archive in the index: its name as the client knows it, its size, and the name its bytes
// are kept under in the archive store (a file relative to the archives folder, or an object key).
struct StoredArchive {
    std::string name;
    std::int64_t size = 0;
    std::string object;
    // For a download from a store that others may prune: the read the index records, which
    // keeps the object from going until the read ends. Empty where none is needed.
    std::string reader;
};

// What storing an archive named newName does to a company's archives (given newest first): the
// new one becomes the newest, replaces one of the same name, and pushes out those no longer
// among the newest `keep`.
struct ArchivePlan {
    bool kept = false;
    std::vector<StoredArchive> released;
    std::int64_t releasedBytes = 0;
};
ArchivePlan PlanArchives(std::vector<StoredArchive> existing, std::string_view newName,
                         std::size_t keep);

struct CompanyInfo {
    std::string key;
    std::string name;
    std::int64_t created = 0;
    std::optional<StoredArchive> latest;
    std::int64_t archiveCount = 0;  // the latest and the older ones kept
};

enum class UploadVerdict {
    Accepted,
    QuotaExceeded,
    PeriodEnded,
    AccountMissing,
    CompanyLimit,  // a new company would pass the account's limit
    NameTaken,     // append-only: an archive of that name is stored already
};

// What an account may store beyond the quota, and whether anything may be given up.
struct StoreRules {
    // Append-only: no company is deleted and no archive replaced or pushed out; only an
    // operator's `prune` removes archives. Against a stolen password or ransomware.
    bool appendOnly = false;
    std::size_t maxCompanies = 200;
};

// The quota counts what an account costs in the store, whatever the mode: each archive rounded
// up to the store's block, plus its index row; each company its folder and its row.
inline constexpr std::int64_t kCompanyCharge = 16 * 1024;
inline constexpr std::int64_t kIndexRowCharge = 512;

struct Charges {
    std::int64_t block = 4096;
    std::int64_t Cost(std::int64_t size) const {
        return (size + block - 1) / block * block + kIndexRowCharge;
    }
};

// The longest company name stored, in bytes as the client sends it (CP949).
inline constexpr std::size_t kMaxCompanyNameBytes = 255;
// Archives each company keeps unless the store is append-only.
inline constexpr std::size_t kKeptArchives = 3;

// What the index holds of one account at the moment an upload is weighed.
struct AccountArchives {
    std::optional<std::int64_t> companyId;  // the upload's company, when it is stored already
    std::int64_t companyCount = 0;
    std::vector<StoredArchive> existing;  // the company's archives, newest first
    std::int64_t used = 0;                // what the account is charged now
};

struct UploadDecision {
    UploadVerdict verdict = UploadVerdict::Accepted;
    ArchivePlan plan;
    std::int64_t room = 0;    // what the new archive may cost
    bool newCompany = false;  // the upload would create the company
};

// Weighs an upload named `name` against the account as it stands: the company limit,
// append-only, and the room the quota leaves once the plan has released what it replaces.
UploadDecision Decide(const AccountArchives& account, std::int64_t quota, std::string_view name,
                      const StoreRules& rules, const Charges& charges);

// An upload to weigh or to store.
struct UploadQuery {
    std::int64_t accountId = 0;
    std::string companyKey;
    std::string name;
    StoreRules rules;
    Charges charges;
};

struct NewArchive {
    std::string companyKey;
    std::string companyName;  // empty: keep the name the company has
    std::string name;
};

// What the index let go of: the stores' bytes may go now.
struct Released {
    std::vector<std::string> objects;
    std::vector<std::int64_t> companies;  // companies gone with all their archives
    bool Empty() const { return objects.empty() && companies.empty(); }
};

struct StoreOutcome {
    UploadVerdict verdict = UploadVerdict::Accepted;
    Released released;
};

// What an operator's `prune` removes; archives go by the order they arrived in, never by
// their names, which a client (or a thief) chooses.
struct PruneRules {
    std::optional<std::size_t> keep;         // each company's newest N arrivals stay
    std::optional<std::int64_t> keepBefore;  // archives that arrived at or after this time go
    std::optional<std::int64_t> accountId;   // only this account's companies
};

// Which of a company's archives a prune removes, given their arrival times newest first, and
// whether the company goes with them (one made after keepBefore and left empty).
struct PrunePlan {
    std::vector<std::size_t> going;  // positions in the list
    bool companyGoes = false;
};
PrunePlan PlanPrune(const std::vector<std::int64_t>& arrivals, std::int64_t companyCreated,
                    const PruneRules& rules);

struct PruneResult {
    std::size_t archives = 0;
    std::int64_t bytes = 0;
    std::size_t companies = 0;  // left without archives by keepBefore, and made after it
};

// An account as `adduser` stores it: the password already made into its record.
struct AccountRecord {
    std::string userId;
    std::string name;
    std::string passwordRecord;
    std::int64_t expireAt = 0;
    std::int64_t quota = 0;
};

// The index: accounts, companies and which archives they hold, in arrival order. Every change
// is one transaction, so concurrent requests (of this process or of others sharing the index)
// always see a consistent state; an upload is weighed again inside the transaction that stores
// it, with the account held, so no race lets two uploads pass the quota together.
class ArchiveIndex {
public:
    virtual ~ArchiveIndex() = default;

    // Creates the account, or replaces everything of it but its creation time; true when new.
    virtual bool SaveAccount(const AccountRecord& record, std::int64_t now) = 0;
    // IDs compare without regard to ASCII letter case.
    virtual std::optional<Account> FindAccount(std::string_view userId) = 0;
    // Puts a new record for the same password in place, unless the password was changed
    // meanwhile; true when it did.
    virtual bool ReplacePasswordRecord(std::int64_t accountId, std::string_view oldRecord,
                                       std::string_view newRecord) = 0;

    virtual std::int64_t DiskUsed(std::int64_t accountId, const Charges& charges) = 0;
    // Company keys in the order the companies were first stored.
    virtual std::vector<std::string> CompanyKeys(std::int64_t accountId) = 0;
    virtual std::optional<CompanyInfo> FindCompany(std::int64_t accountId,
                                                   std::string_view key) = 0;
    // The company's newest archive, for a download; nullopt when it has none. An index whose
    // store reads archives a piece at a time keeps its bytes from going until the read ends.
    virtual std::optional<StoredArchive> LatestArchive(std::int64_t accountId,
                                                       std::string_view key) = 0;

    // The upload weighed against the index as it stands, nothing held.
    virtual UploadDecision WeighUpload(const UploadQuery& query, std::int64_t quota) = 0;
    // In one transaction that holds the account: checks the period and weighs the upload again,
    // creates the company on its first archive, names the archive and drops those the plan
    // pushes out. `place` puts the bytes where the company keeps them and gives the name to
    // record; it runs inside the transaction, once the company is known.
    using Place = std::function<std::string(std::int64_t companyId)>;
    virtual StoreOutcome StoreArchive(const UploadQuery& query, const NewArchive& archive,
                                      std::int64_t size, std::int64_t now, const Place& place) = 0;
    // Removes the company and its archives; nullopt when there was no such company.
    virtual std::optional<Released> DeleteCompany(std::int64_t accountId, std::string_view key) = 0;
    // Removes what the rules name; `released` is told after each committed batch.
    virtual PruneResult Prune(const PruneRules& rules,
                              const std::function<void(const Released&)>& released) = 0;
};

}  // namespace tidewell::webfolder
