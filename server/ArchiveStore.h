#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Account.h"
#include "DataFolder.h"
#include "TemporaryFile.h"
#include "platform/FileHandle.h"

namespace tidewell::webfolder {

// One archive in the index: its name as the client knows it, its size, and the file that
// holds it, relative to the archives folder.
struct StoredArchive {
    std::string name;
    std::int64_t size = 0;
    std::string file;
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

// An archive opened for a download; the handle stays readable even if an upload removes the
// archive meanwhile.
struct OpenedArchive {
    std::string name;
    std::int64_t size = 0;
    std::shared_ptr<FileHandle> file;
};

enum class UploadVerdict {
    Accepted,
    QuotaExceeded,
    PeriodEnded,
    AccountMissing,
    CompanyLimit,  // a new company would pass the account's limit
    NameTaken,     // append-only: an archive of that name is stored already
};

struct UploadRoom {
    UploadVerdict verdict = UploadVerdict::Accepted;
    std::int64_t maxBytes = 0;  // how large the archive may be when accepted
    bool newCompany = false;    // the upload would create the company
};

struct NewArchive {
    std::string companyKey;
    std::string companyName;  // empty: keep the name the company has
    std::string name;
};

// What an account may store beyond the quota, and whether anything may be given up.
struct StoreRules {
    // Append-only: no company is deleted and no archive replaced or pushed out; only an
    // operator's `prune` removes archives. Against a stolen password or ransomware.
    bool appendOnly = false;
    std::size_t maxCompanies = 200;
};

// What an operator's `prune` removes; archives go by the order they arrived in, never by
// their names, which a client (or a thief) chooses.
struct PruneRules {
    std::optional<std::size_t> keep;         // each company's newest N arrivals stay
    std::optional<std::int64_t> keepBefore;  // archives that arrived at or after this time go
    std::optional<std::int64_t> accountId;   // only this account's companies
};

struct PruneResult {
    std::size_t archives = 0;
    std::int64_t bytes = 0;
    std::size_t companies = 0;  // left without archives by keepBefore, and made after it
};

// The quota counts what an account costs on disk, whatever the mode: each archive rounded up to
// the file system's block, plus its index row; each company its folder and its row.
inline constexpr std::int64_t kCompanyCharge = 16 * 1024;
inline constexpr std::int64_t kIndexRowCharge = 512;

// The longest company name stored, in bytes as the client sends it (CP949).
inline constexpr std::size_t kMaxCompanyNameBytes = 255;

// Companies and their archives: the index in the database and the files beside it. Every
// change runs in one write transaction, so concurrent requests always see a consistent index;
// files are put in place before the index names them and removed after it has let them go.
class ArchiveStore {
public:
    static constexpr std::size_t kKeptArchives = 3;

    explicit ArchiveStore(const DataFolder& folder, StoreRules rules = {});

    const StoreRules& Rules() const { return rules_; }
    // What an archive of this many bytes is charged.
    std::int64_t Cost(std::int64_t size) const;

    std::int64_t DiskUsed(std::int64_t accountId) const;
    // Company keys in the order the companies were first stored.
    std::vector<std::string> CompanyKeys(std::int64_t accountId) const;
    std::optional<CompanyInfo> FindCompany(std::int64_t accountId, std::string_view key) const;
    // Removes the company, its archives and their files; false when there was no such company.
    bool DeleteCompany(std::int64_t accountId, std::string_view key) const;
    // The company's newest archive; nullopt when it has none.
    std::optional<OpenedArchive> OpenLatest(std::int64_t accountId, std::string_view key) const;

    // Decided before the first byte arrives, so a refused upload never reaches the disk.
    UploadRoom RoomFor(const Account& account, std::string_view key, std::string_view name) const;
    // Checks again under the write lock (other uploads may have come first), then stores the
    // file, creating the company on its first archive and dropping archives beyond the newest.
    UploadVerdict Store(std::int64_t accountId, const NewArchive& archive, TemporaryFile& file,
                        std::int64_t now) const;

    // Removes the archives the rules name, files and index, in one transaction.
    PruneResult Prune(const PruneRules& rules) const;

private:
    struct Decision {
        UploadVerdict verdict = UploadVerdict::Accepted;
        std::optional<std::int64_t> companyId;
        ArchivePlan plan;
        std::int64_t room = 0;
    };
    Decision Decide(SqliteDatabase& db, std::int64_t accountId, std::int64_t quota,
                    std::string_view key, std::string_view name) const;

    const DataFolder& folder_;
    StoreRules rules_;
    std::int64_t blockBytes_ = 4096;
};

}  // namespace tidewell::webfolder
