#include "SqliteIndex.h"

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
std::int64_t UsedBytes(const SqliteDatabase& db, std::int64_t accountId, const Charges& charges) {
    auto sum = SqliteStatement(
        db,
        "SELECT (SELECT COALESCE(SUM((a.size + ?3 - 1) / ?3 * ?3 + ?4), 0) FROM archives a "
        "JOIN companies c ON a.company_id = c.id WHERE c.account_id = ?1) + ?2 * (SELECT "
        "COUNT(*) FROM companies WHERE account_id = ?1)");
    sum.Bind(1, accountId).Bind(2, kCompanyCharge).Bind(3, charges.block).Bind(4, kIndexRowCharge);
    sum.Step();
    return sum.ColumnInt(0);
}

std::int64_t CompanyCount(const SqliteDatabase& db, std::int64_t accountId) {
    auto count = SqliteStatement(db, "SELECT COUNT(*) FROM companies WHERE account_id = ?");
    count.Bind(1, accountId);
    count.Step();
    return count.ColumnInt(0);
}

AccountArchives LoadAccountArchives(const SqliteDatabase& db, const UploadQuery& query) {
    AccountArchives account;
    account.companyId = FindCompanyId(db, query.accountId, query.companyKey);
    account.companyCount = CompanyCount(db, query.accountId);
    if (account.companyId) account.existing = LoadArchives(db, *account.companyId);
    account.used = UsedBytes(db, query.accountId, query.charges);
    return account;
}

}  // namespace

Account ReadAccount(const SqliteStatement& row) {
    Account account;
    account.id = row.ColumnInt(0);
    account.userId = row.ColumnText(1);
    account.name = row.ColumnText(2);
    account.passwordRecord = row.ColumnText(3);
    account.created = row.ColumnInt(4);
    account.lastModified = row.ColumnInt(5);
    account.expireAt = row.ColumnInt(6);
    account.quota = row.ColumnInt(7);
    return account;
}

bool SqliteIndex::SaveAccount(const AccountRecord& record, std::int64_t now) {
    auto lease = folder_.Database();
    SqliteDatabase& db = *lease;
    SqliteTransaction transaction(db);
    const bool exists = [&] {
        auto find = db.Prepare("SELECT 1 FROM accounts WHERE user_id = ?");
        find.Bind(1, record.userId);
        return find.Step();
    }();
    db.Prepare(
          "INSERT INTO accounts(user_id, password, name, created, last_modified, expire_at, "
          "quota) VALUES(?1, ?2, ?3, ?4, ?4, ?5, ?6) ON CONFLICT(user_id) DO UPDATE SET "
          "user_id = excluded.user_id, password = excluded.password, name = excluded.name, "
          "last_modified = excluded.last_modified, expire_at = excluded.expire_at, "
          "quota = excluded.quota")
        .Bind(1, record.userId)
        .Bind(2, record.passwordRecord)
        .Bind(3, record.name)
        .Bind(4, now)
        .Bind(5, record.expireAt)
        .Bind(6, record.quota)
        .Run();
    transaction.Commit();
    return !exists;
}

std::optional<Account> SqliteIndex::FindAccount(std::string_view userId) {
    auto db = folder_.Database();
    auto find =
        db->Prepare(std::string("SELECT ") + kAccountColumns + " FROM accounts WHERE user_id = ?");
    find.Bind(1, userId);
    if (!find.Step()) return std::nullopt;
    return ReadAccount(find);
}

bool SqliteIndex::ReplacePasswordRecord(std::int64_t accountId, std::string_view oldRecord,
                                        std::string_view newRecord) {
    auto db = folder_.Database();
    auto update = db->Prepare("UPDATE accounts SET password = ? WHERE id = ? AND password = ?");
    update.Bind(1, newRecord).Bind(2, accountId).Bind(3, oldRecord).Run();
    return sqlite3_changes(db->get()) == 1;
}

std::int64_t SqliteIndex::DiskUsed(std::int64_t accountId, const Charges& charges) {
    return UsedBytes(*folder_.Database(), accountId, charges);
}

std::vector<std::string> SqliteIndex::CompanyKeys(std::int64_t accountId) {
    auto lease = folder_.Database();
    auto list =
        lease->Prepare("SELECT company_key FROM companies WHERE account_id = ? ORDER BY id");
    list.Bind(1, accountId);
    std::vector<std::string> keys;
    while (list.Step()) keys.push_back(list.ColumnText(0));
    return keys;
}

std::optional<CompanyInfo> SqliteIndex::FindCompany(std::int64_t accountId, std::string_view key) {
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

std::optional<StoredArchive> SqliteIndex::LatestArchive(std::int64_t accountId,
                                                        std::string_view key) {
    auto lease = folder_.Database();
    auto latest = lease->Prepare(
        "SELECT a.name, a.size, a.file FROM archives a JOIN companies c ON a.company_id = c.id "
        "WHERE c.account_id = ? AND c.company_key = ? ORDER BY a.id DESC LIMIT 1");
    latest.Bind(1, accountId).Bind(2, key);
    if (!latest.Step()) return std::nullopt;
    return StoredArchive{latest.ColumnText(0), latest.ColumnInt(1), latest.ColumnText(2)};
}

UploadDecision SqliteIndex::WeighUpload(const UploadQuery& query, std::int64_t quota) {
    auto lease = folder_.Database();
    SqliteDatabase& db = *lease;
    SqliteTransaction snapshot(db, "BEGIN");
    return Decide(LoadAccountArchives(db, query), quota, query.name, query.rules, query.charges);
}

StoreOutcome SqliteIndex::StoreArchive(const UploadQuery& query, const NewArchive& archive,
                                       std::int64_t size, std::int64_t now, const Place& place) {
    auto lease = folder_.Database();
    SqliteDatabase& db = *lease;
    SqliteTransaction transaction(db);
    std::int64_t expireAt = 0, quota = 0;
    {
        auto account = db.Prepare("SELECT expire_at, quota FROM accounts WHERE id = ?");
        account.Bind(1, query.accountId);
        if (!account.Step()) return {UploadVerdict::AccountMissing, {}};
        expireAt = account.ColumnInt(0);
        quota = account.ColumnInt(1);
    }
    if (PeriodEnded(expireAt, now)) return {UploadVerdict::PeriodEnded, {}};

    const AccountArchives state = LoadAccountArchives(db, query);
    const UploadDecision decision = Decide(state, quota, archive.name, query.rules, query.charges);
    if (decision.verdict != UploadVerdict::Accepted) return {decision.verdict, {}};
    // Others may have stored since the upload was let in: the room is weighed again here.
    if (query.charges.Cost(size) > decision.room) return {UploadVerdict::QuotaExceeded, {}};

    auto companyId = state.companyId;
    if (!companyId) {
        db.Prepare(
              "INSERT INTO companies(account_id, company_key, name, created) VALUES(?, ?, ?, ?)")
            .Bind(1, query.accountId)
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
    const std::string object = place(*companyId);
    StoreOutcome outcome;
    auto drop = db.Prepare("DELETE FROM archives WHERE file = ?");
    for (const auto& old : decision.plan.released) {
        drop.Bind(1, old.object).Run();
        drop.Reset();
        outcome.released.objects.push_back(old.object);
    }
    db.Prepare("INSERT INTO archives(company_id, name, file, size, stored) VALUES(?, ?, ?, ?, ?)")
        .Bind(1, *companyId)
        .Bind(2, archive.name)
        .Bind(3, object)
        .Bind(4, size)
        .Bind(5, now)
        .Run();
    transaction.Commit();
    return outcome;
}

std::optional<Released> SqliteIndex::DeleteCompany(std::int64_t accountId, std::string_view key) {
    auto lease = folder_.Database();
    SqliteDatabase& db = *lease;
    SqliteTransaction transaction(db);
    const auto companyId = FindCompanyId(db, accountId, key);
    if (!companyId) return std::nullopt;
    Released released;
    for (auto& archive : LoadArchives(db, *companyId)) {
        released.objects.push_back(std::move(archive.object));
    }
    released.companies.push_back(*companyId);
    db.Prepare("DELETE FROM companies WHERE id = ?").Bind(1, *companyId).Run();
    transaction.Commit();
    return released;
}

PruneResult SqliteIndex::Prune(const PruneRules& rules,
                               const std::function<void(const Released&)>& released) {
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
    Released gone;
    auto drop = db.Prepare("DELETE FROM archives WHERE file = ?");
    PruneResult result;
    for (const Company& company : companies) {
        std::vector<StoredArchive> archives;
        std::vector<std::int64_t> arrivals;  // newest first
        {
            auto list = db.Prepare(
                "SELECT name, size, file, stored FROM archives WHERE company_id = ? ORDER BY id "
                "DESC");
            list.Bind(1, company.id);
            while (list.Step()) {
                archives.push_back({list.ColumnText(0), list.ColumnInt(1), list.ColumnText(2)});
                arrivals.push_back(list.ColumnInt(3));
            }
        }
        const PrunePlan plan = PlanPrune(arrivals, company.created, rules);
        for (const std::size_t i : plan.going) {
            drop.Bind(1, archives[i].object).Run();
            drop.Reset();
            result.bytes += archives[i].size;
            ++result.archives;
            gone.objects.push_back(std::move(archives[i].object));
        }
        if (plan.companyGoes) {
            db.Prepare("DELETE FROM companies WHERE id = ?").Bind(1, company.id).Run();
            gone.companies.push_back(company.id);
        }
    }
    transaction.Commit();
    result.companies = gone.companies.size();
    released(gone);
    return result;
}

}  // namespace tidewell::webfolder
