#include "ArchiveStore.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

#include "SystemRandom.h"
#include "platform/Error.h"

namespace fs = std::filesystem;

namespace tidewell::webfolder {
namespace {

std::optional<std::int64_t> FindCompanyId(const SqliteDatabase& db, std::int64_t accountId,
                                          std::string_view key) {
    auto find =
        SqliteStatement(db, "SELECT id FROM companies WHERE account_id = ? AND company_key = ?");
    find.Bind(1, accountId).Bind(2, key);
    if (!find.Step()) return std::nullopt;
    return find.ColumnInt(0);
}

std::vector<StoredArchive> LoadArchives(const SqliteDatabase& db, std::int64_t companyId) {
    auto list = SqliteStatement(
        db, "SELECT name, size, file FROM archives WHERE company_id = ? ORDER BY id DESC");
    list.Bind(1, companyId);
    std::vector<StoredArchive> archives;
    while (list.Step())
        archives.push_back({list.ColumnText(0), list.ColumnInt(1), list.ColumnText(2)});
    return archives;
}

// What the account costs: its archives, each rounded up to whole blocks with its row, plus the
// charge of each company.
std::int64_t UsedBytes(const SqliteDatabase& db, std::int64_t accountId, std::int64_t block) {
    auto sum = SqliteStatement(
        db,
        "SELECT (SELECT COALESCE(SUM((a.size + ?3 - 1) / ?3 * ?3 + ?4), 0) FROM archives a "
        "JOIN companies c ON a.company_id = c.id WHERE c.account_id = ?1) + ?2 * (SELECT "
        "COUNT(*) FROM companies WHERE account_id = ?1)");
    sum.Bind(1, accountId).Bind(2, kCompanyCharge).Bind(3, block).Bind(4, kIndexRowCharge);
    sum.Step();
    return sum.ColumnInt(0);
}

std::int64_t BlockBytes(const fs::path& folder) {
    struct statvfs st {};
    if (::statvfs(folder.c_str(), &st) != 0) return 4096;
    const auto block = static_cast<std::int64_t>(st.f_frsize ? st.f_frsize : st.f_bsize);
    return block > 0 ? block : 4096;
}

std::int64_t CompanyCount(const SqliteDatabase& db, std::int64_t accountId) {
    auto count = SqliteStatement(db, "SELECT COUNT(*) FROM companies WHERE account_id = ?");
    count.Bind(1, accountId);
    count.Step();
    return count.ColumnInt(0);
}

// A name no other upload will pick: the archive's time for people reading the folder, then
// 128 random bits.
std::string UniqueFileName(std::string_view archiveName) {
    return std::string(archiveName.substr(0, 14)) + "-" + RandomHex(16) + ".bck";
}

void RemoveQuietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

}  // namespace

ArchivePlan PlanArchives(std::vector<StoredArchive> existing, std::string_view newName,
                         std::size_t keep) {
    // The archive stored last is the newest, whatever time its name carries: a user who sends
    // older data on purpose wants the web folder to hold it. existing comes newest first.
    std::vector<std::string> names{std::string(newName)};
    for (const auto& archive : existing) {
        if (archive.name != newName) names.push_back(archive.name);
    }
    if (names.size() > keep) names.resize(keep);

    ArchivePlan plan;
    plan.kept = true;
    for (auto& archive : existing) {
        const bool stays = archive.name != newName &&
                           std::find(names.begin(), names.end(), archive.name) != names.end();
        if (stays) continue;
        plan.releasedBytes += archive.size;
        plan.released.push_back(std::move(archive));
    }
    return plan;
}

ArchiveStore::ArchiveStore(const DataFolder& folder, StoreRules rules)
    : folder_(folder), rules_(rules), blockBytes_(BlockBytes(folder.ArchivesFolder())) {}

std::int64_t ArchiveStore::Cost(std::int64_t size) const {
    return (size + blockBytes_ - 1) / blockBytes_ * blockBytes_ + kIndexRowCharge;
}

std::int64_t ArchiveStore::DiskUsed(std::int64_t accountId) const {
    return UsedBytes(*folder_.Database(), accountId, blockBytes_);
}

std::vector<std::string> ArchiveStore::CompanyKeys(std::int64_t accountId) const {
    auto lease = folder_.Database();
    SqliteDatabase& db = *lease;
    auto list = db.Prepare("SELECT company_key FROM companies WHERE account_id = ? ORDER BY id");
    list.Bind(1, accountId);
    std::vector<std::string> keys;
    while (list.Step()) keys.push_back(list.ColumnText(0));
    return keys;
}

std::optional<CompanyInfo> ArchiveStore::FindCompany(std::int64_t accountId,
                                                     std::string_view key) const {
    auto lease = folder_.Database();
    SqliteDatabase& db = *lease;
    SqliteTransaction snapshot(db, "BEGIN");
    auto find = db.Prepare(
        "SELECT id, company_key, name, created FROM companies WHERE account_id = ? AND "
        "company_key = ?");
    find.Bind(1, accountId).Bind(2, key);
    if (!find.Step()) return std::nullopt;
    CompanyInfo info{find.ColumnText(1), find.ColumnText(2), find.ColumnInt(3), std::nullopt};
    auto archives = LoadArchives(db, find.ColumnInt(0));
    info.archiveCount = static_cast<std::int64_t>(archives.size());
    if (!archives.empty()) info.latest = std::move(archives.front());
    return info;
}

bool ArchiveStore::DeleteCompany(std::int64_t accountId, std::string_view key) const {
    auto lease = folder_.Database();
    SqliteDatabase& db = *lease;
    SqliteTransaction transaction(db);
    const auto companyId = FindCompanyId(db, accountId, key);
    if (!companyId) return false;
    const auto archives = LoadArchives(db, *companyId);
    db.Prepare("DELETE FROM companies WHERE id = ?").Bind(1, *companyId).Run();
    transaction.Commit();

    for (const auto& archive : archives) RemoveQuietly(folder_.ArchivesFolder() / archive.file);
    RemoveQuietly(folder_.ArchivesFolder() / std::to_string(*companyId));
    return true;
}

std::optional<OpenedArchive> ArchiveStore::OpenLatest(std::int64_t accountId,
                                                      std::string_view key) const {
    // An upload may drop the archive between reading the index and opening the file;
    // the index then names a newer one, so look again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        auto lease = folder_.Database();
        SqliteDatabase& db = *lease;
        auto latest = db.Prepare(
            "SELECT a.name, a.file FROM archives a JOIN companies c ON a.company_id = c.id "
            "WHERE c.account_id = ? AND c.company_key = ? ORDER BY a.id DESC LIMIT 1");
        latest.Bind(1, accountId).Bind(2, key);
        if (!latest.Step()) return std::nullopt;
        const fs::path path = folder_.ArchivesFolder() / latest.ColumnText(1);
        auto file =
            std::make_shared<FileHandle>(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (!*file) {
            if (errno == ENOENT) continue;
            throw Exception("cannot open " + path.string() + ": " + strerror(errno));
        }
        struct stat st {};
        if (::fstat(file->get(), &st) != 0) throw Exception("cannot read " + path.string());
        return OpenedArchive{latest.ColumnText(0), static_cast<std::int64_t>(st.st_size),
                             std::move(file)};
    }
    throw Exception("the newest archive keeps disappearing");
}

// Weighs an upload against the index as it stands: the company limit, append-only, and the
// room the quota leaves once the plan has released what the new archive replaces.
ArchiveStore::Decision ArchiveStore::Decide(SqliteDatabase& db, std::int64_t accountId,
                                            std::int64_t quota, std::string_view key,
                                            std::string_view name) const {
    Decision decision;
    decision.companyId = FindCompanyId(db, accountId, key);
    if (!decision.companyId &&
        CompanyCount(db, accountId) >= static_cast<std::int64_t>(rules_.maxCompanies)) {
        decision.verdict = UploadVerdict::CompanyLimit;
        return decision;
    }
    const auto existing =
        decision.companyId ? LoadArchives(db, *decision.companyId) : std::vector<StoredArchive>{};
    if (rules_.appendOnly &&
        std::any_of(existing.begin(), existing.end(),
                    [&](const StoredArchive& archive) { return archive.name == name; })) {
        decision.verdict = UploadVerdict::NameTaken;
        return decision;
    }
    decision.plan =
        PlanArchives(existing, name,
                     rules_.appendOnly ? std::numeric_limits<std::size_t>::max() : kKeptArchives);
    std::int64_t released = 0;
    for (const auto& archive : decision.plan.released) released += Cost(archive.size);
    const std::int64_t charge = decision.companyId ? 0 : kCompanyCharge;
    decision.room = quota - (UsedBytes(db, accountId, blockBytes_) + charge - released);
    decision.verdict = decision.room > 0 ? UploadVerdict::Accepted : UploadVerdict::QuotaExceeded;
    return decision;
}

UploadRoom ArchiveStore::RoomFor(const Account& account, std::string_view key,
                                 std::string_view name) const {
    auto lease = folder_.Database();
    SqliteDatabase& db = *lease;
    SqliteTransaction snapshot(db, "BEGIN");
    const Decision decision = Decide(db, account.id, account.quota, key, name);
    if (decision.verdict != UploadVerdict::Accepted) return {decision.verdict, 0, false};
    // The largest file whose cost fits the room.
    const std::int64_t maxBytes = (decision.room - kIndexRowCharge) / blockBytes_ * blockBytes_;
    if (maxBytes <= 0) return {UploadVerdict::QuotaExceeded, 0, false};
    return {UploadVerdict::Accepted, maxBytes, !decision.companyId};
}

UploadVerdict ArchiveStore::Store(std::int64_t accountId, const NewArchive& archive,
                                  TemporaryFile& file, std::int64_t now) const {
    auto lease = folder_.Database();
    SqliteDatabase& db = *lease;
    SqliteTransaction transaction(db);
    std::int64_t expireAt = 0, quota = 0;
    {
        auto account = db.Prepare("SELECT expire_at, quota FROM accounts WHERE id = ?");
        account.Bind(1, accountId);
        if (!account.Step()) return UploadVerdict::AccountMissing;
        expireAt = account.ColumnInt(0);
        quota = account.ColumnInt(1);
    }
    if (PeriodEnded(expireAt, now)) return UploadVerdict::PeriodEnded;

    const Decision decision = Decide(db, accountId, quota, archive.companyKey, archive.name);
    if (decision.verdict != UploadVerdict::Accepted) return decision.verdict;
    if (Cost(file.Size()) > decision.room) return UploadVerdict::QuotaExceeded;
    auto companyId = decision.companyId;
    const ArchivePlan& plan = decision.plan;

    if (!companyId) {
        db.Prepare(
              "INSERT INTO companies(account_id, company_key, name, created) VALUES(?, ?, ?, ?)")
            .Bind(1, accountId)
            .Bind(2, archive.companyKey)
            .Bind(3, archive.companyName)
            .Bind(4, now)
            .Run();
        companyId = sqlite3_last_insert_rowid(db.get());
    } else if (!archive.companyName.empty()) {
        db.Prepare("UPDATE companies SET name = ? WHERE id = ?")
            .Bind(1, archive.companyName)
            .Bind(2, *companyId)
            .Run();
    }

    const fs::path companyFolder = folder_.ArchivesFolder() / std::to_string(*companyId);
    if (::mkdir(companyFolder.c_str(), 0700) != 0 && errno != EEXIST) {
        throw Exception("cannot create " + companyFolder.string() + ": " + strerror(errno));
    }
    const std::string relative = std::to_string(*companyId) + "/" + UniqueFileName(archive.name);
    file.MoveTo(folder_.ArchivesFolder() / relative);
    try {
        auto drop = db.Prepare("DELETE FROM archives WHERE file = ?");
        for (const auto& old : plan.released) {
            drop.Bind(1, old.file).Run();
            drop.Reset();
        }
        db.Prepare(
              "INSERT INTO archives(company_id, name, file, size, stored) VALUES(?, ?, ?, ?, ?)")
            .Bind(1, *companyId)
            .Bind(2, archive.name)
            .Bind(3, relative)
            .Bind(4, file.Size())
            .Bind(5, now)
            .Run();
        transaction.Commit();
    } catch (...) {
        RemoveQuietly(folder_.ArchivesFolder() / relative);
        throw;
    }
    for (const auto& old : plan.released) RemoveQuietly(folder_.ArchivesFolder() / old.file);
    return UploadVerdict::Accepted;
}

PruneResult ArchiveStore::Prune(const PruneRules& rules) const {
    if (rules.keep && *rules.keep == 0) {
        throw Exception("prune must keep at least one archive of each company");
    }
    auto lease = folder_.Database();
    SqliteDatabase& db = *lease;
    SqliteTransaction transaction(db);
    struct Company {
        std::int64_t id;
        std::int64_t created;
    };
    std::vector<Company> companies;
    {
        auto list = db.Prepare(
            "SELECT id, created FROM companies WHERE ?1 IS NULL OR account_id = ?1 ORDER BY id");
        if (rules.accountId) list.Bind(1, *rules.accountId);
        while (list.Step()) companies.push_back({list.ColumnInt(0), list.ColumnInt(1)});
    }
    std::vector<StoredArchive> dropped;
    std::vector<std::int64_t> emptied;
    auto drop = db.Prepare("DELETE FROM archives WHERE file = ?");
    auto arrived = db.Prepare("SELECT stored FROM archives WHERE file = ?");
    PruneResult result;
    for (const Company& company : companies) {
        // Newest arrival first.
        auto archives = LoadArchives(db, company.id);
        std::size_t left = archives.size();
        for (std::size_t i = 0; i < archives.size(); ++i) {
            bool goes = rules.keep && i >= *rules.keep;
            if (!goes && rules.keepBefore) {
                arrived.Bind(1, archives[i].file);
                goes = arrived.Step() && arrived.ColumnInt(0) >= *rules.keepBefore;
                arrived.Reset();
            }
            if (!goes) continue;
            drop.Bind(1, archives[i].file).Run();
            drop.Reset();
            result.bytes += archives[i].size;
            dropped.push_back(std::move(archives[i]));
            --left;
        }
        // A company someone made after that time goes with its archives.
        if (rules.keepBefore && left == 0 && company.created >= *rules.keepBefore) {
            db.Prepare("DELETE FROM companies WHERE id = ?").Bind(1, company.id).Run();
            emptied.push_back(company.id);
        }
    }
    transaction.Commit();
    for (const auto& archive : dropped) RemoveQuietly(folder_.ArchivesFolder() / archive.file);
    for (const std::int64_t company : emptied) {
        RemoveQuietly(folder_.ArchivesFolder() / std::to_string(company));
    }
    result.archives = dropped.size();
    result.companies = emptied.size();
    return result;
}

}  // namespace tidewell::webfolder
