#include "PgIndex.h"

#include "SystemRandom.h"
#include "TextRules.h"

namespace tidewell::webfolder {
namespace {

// How long a download's read keeps its object without news from its instance.
constexpr char kReadTime[] = "interval '10 minutes'";

Account ReadAccount(const PgResult& row) {
    Account account;
    account.id = row.Int(0, 0);
    account.userId = row.Text(0, 1);
    account.name = row.Text(0, 2);
    account.passwordRecord = row.Text(0, 3);
    account.created = row.Int(0, 4);
    account.lastModified = row.Int(0, 5);
    account.expireAt = row.Int(0, 6);
    account.quota = row.Int(0, 7);
    return account;
}

std::optional<std::int64_t> FindCompanyId(PgConnection& db, std::int64_t accountId,
                                          std::string_view key) {
    const PgResult found = db.Exec(
        "SELECT id FROM companies WHERE account_id = $1 AND company_key = $2", {accountId, key});
    if (found.Rows() == 0) return std::nullopt;
    return found.Int(0, 0);
}

// Newest first, with their arrival times.
std::vector<StoredArchive> LoadArchives(PgConnection& db, std::int64_t companyId,
                                        std::vector<std::int64_t>* arrivals = nullptr) {
    const PgResult rows = db.Exec(
        "SELECT name, size, object, stored FROM archives WHERE company_id = $1 ORDER BY id DESC",
        {companyId});
    std::vector<StoredArchive> archives;
    for (int i = 0; i < rows.Rows(); ++i) {
        archives.push_back({rows.Text(i, 0), rows.Int(i, 1), rows.Text(i, 2), {}});
        if (arrivals) arrivals->push_back(rows.Int(i, 3));
    }
    return archives;
}

std::int64_t UsedBytes(PgConnection& db, std::int64_t accountId, const Charges& charges) {
    const PgResult sum = db.Exec(
        "SELECT (SELECT COALESCE(SUM((a.size + $2 - 1) / $2 * $2 + $3), 0) FROM archives a "
        "JOIN companies c ON a.company_id = c.id WHERE c.account_id = $1) + $4 * (SELECT "
        "COUNT(*) FROM companies WHERE account_id = $1)",
        {accountId, charges.block, kIndexRowCharge, kCompanyCharge});
    return sum.Int(0, 0);
}

AccountArchives LoadAccountArchives(PgConnection& db, const UploadQuery& query) {
    AccountArchives account;
    account.companyId = FindCompanyId(db, query.accountId, query.companyKey);
    account.companyCount =
        db.Exec("SELECT COUNT(*) FROM companies WHERE account_id = $1", {query.accountId})
            .Int(0, 0);
    if (account.companyId) account.existing = LoadArchives(db, *account.companyId);
    account.used = UsedBytes(db, query.accountId, query.charges);
    return account;
}

// The archive goes from the index; its object is written down for removal in the same
// transaction, so no crash loses track of it.
void LetGo(PgConnection& db, const std::string& object) {
    db.Exec("DELETE FROM archives WHERE object = $1", {object});
    db.Exec(
        "INSERT INTO unnamed_objects(object, released) VALUES($1, true) ON CONFLICT (object) DO "
        "UPDATE SET released = true, since = now()",
        {object});
}

bool LockAccount(PgConnection& db, std::int64_t accountId) {
    return db.Exec("SELECT 1 FROM accounts WHERE id = $1 FOR UPDATE", {accountId}).Rows() == 1;
}

std::int64_t DatabaseMilliseconds(PgConnection& db) {
    return db.Exec("SELECT (extract(epoch FROM clock_timestamp()) * 1000)::bigint").Int(0, 0);
}

FailureCount::Clock::time_point AtMilliseconds(std::int64_t ms) {
    return FailureCount::Clock::time_point(std::chrono::milliseconds(ms));
}

std::int64_t Milliseconds(FailureCount::Clock::time_point at) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
}

}  // namespace

bool PgIndex::SaveAccount(const AccountRecord& record, std::int64_t now) {
    auto db = pool_.Borrow();
    const PgResult saved = db->Exec(
        "INSERT INTO accounts(user_id, user_key, password, name, created, last_modified, "
        "expire_at, quota) VALUES($1, $2, $3, $4, $5, $5, $6, $7) ON CONFLICT (user_key) DO "
        "UPDATE SET user_id = excluded.user_id, password = excluded.password, name = "
        "excluded.name, last_modified = excluded.last_modified, expire_at = excluded.expire_at, "
        "quota = excluded.quota RETURNING (xmax = 0)",
        {record.userId, LowerAscii(record.userId), record.passwordRecord, record.name, now,
         record.expireAt, record.quota});
    return saved.Text(0, 0) == "t";
}

std::optional<Account> PgIndex::FindAccount(std::string_view userId) {
    auto db = pool_.Borrow();
    const PgResult found = db->Exec(
        "SELECT id, user_id, name, password, created, last_modified, expire_at, quota FROM "
        "accounts WHERE user_key = $1",
        {LowerAscii(userId)});
    if (found.Rows() == 0) return std::nullopt;
    return ReadAccount(found);
}

bool PgIndex::ReplacePasswordRecord(std::int64_t accountId, std::string_view oldRecord,
                                    std::string_view newRecord) {
    auto db = pool_.Borrow();
    return db->Exec("UPDATE accounts SET password = $1 WHERE id = $2 AND password = $3",
                    {newRecord, accountId, oldRecord})
               .Changed() == 1;
}

std::int64_t PgIndex::DiskUsed(std::int64_t accountId, const Charges& charges) {
    auto db = pool_.Borrow();
    return UsedBytes(*db, accountId, charges);
}

std::vector<std::string> PgIndex::CompanyKeys(std::int64_t accountId) {
    auto db = pool_.Borrow();
    const PgResult rows = db->Exec(
        "SELECT company_key FROM companies WHERE account_id = $1 ORDER BY id", {accountId});
    std::vector<std::string> keys;
    for (int i = 0; i < rows.Rows(); ++i) keys.push_back(rows.Text(i, 0));
    return keys;
}

std::optional<CompanyInfo> PgIndex::FindCompany(std::int64_t accountId, std::string_view key) {
    auto db = pool_.Borrow();
    // One statement, one snapshot: the count and the latest agree.
    const PgResult row = db->Exec(
        "SELECT c.company_key, c.name, c.created, (SELECT COUNT(*) FROM archives WHERE "
        "company_id = c.id), l.name, l.size, l.object FROM companies c LEFT JOIN LATERAL (SELECT "
        "name, size, object FROM archives WHERE company_id = c.id ORDER BY id DESC LIMIT 1) l ON "
        "true WHERE c.account_id = $1 AND c.company_key = $2",
        {accountId, key});
    if (row.Rows() == 0) return std::nullopt;
    CompanyInfo info{row.Text(0, 0), row.Text(0, 1), row.Int(0, 2), std::nullopt, row.Int(0, 3)};
    if (!row.IsNull(0, 4))
        info.latest = StoredArchive{row.Text(0, 4), row.Int(0, 5), row.Text(0, 6), {}};
    return info;
}

std::optional<StoredArchive> PgIndex::LatestArchive(std::int64_t accountId, std::string_view key) {
    auto db = pool_.Borrow();
    // An upload may let the newest go at any moment: take it and its read together, holding
    // the row, or look again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const PgResult latest = db->Exec(
            "SELECT a.id FROM archives a JOIN companies c ON a.company_id = c.id WHERE "
            "c.account_id = $1 AND c.company_key = $2 ORDER BY a.id DESC LIMIT 1",
            {accountId, key});
        if (latest.Rows() == 0) return std::nullopt;
        PgTransaction transaction(*db);
        const PgResult held = db->Exec(
            "SELECT name, size, object FROM archives WHERE id = $1 FOR SHARE", {latest.Int(0, 0)});
        if (held.Rows() == 0) continue;
        StoredArchive archive{held.Text(0, 0), held.Int(0, 1), held.Text(0, 2), RandomHex(12)};
        db->Exec(std::string("INSERT INTO object_reads(object, reader, until) VALUES($1, $2, "
                             "now() + ") +
                     kReadTime + ")",
                 {archive.object, archive.reader});
        transaction.Commit();
        return archive;
    }
    throw Exception("the newest archive keeps disappearing");
}

UploadDecision PgIndex::WeighUpload(const UploadQuery& query, std::int64_t quota) {
    auto db = pool_.Borrow();
    PgTransaction snapshot(*db, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
    return Decide(LoadAccountArchives(*db, query), quota, query.name, query.rules, query.charges);
}

StoreOutcome PgIndex::StoreArchive(const UploadQuery& query, const NewArchive& archive,
                                   std::int64_t size, std::int64_t now, const Place& place) {
    auto db = pool_.Borrow();
    PgTransaction transaction(*db);
    const PgResult account = db->Exec(
        "SELECT expire_at, quota FROM accounts WHERE id = $1 FOR UPDATE", {query.accountId});
    if (account.Rows() == 0) return {UploadVerdict::AccountMissing, {}};
    if (PeriodEnded(account.Int(0, 0), now)) return {UploadVerdict::PeriodEnded, {}};

    const AccountArchives state = LoadAccountArchives(*db, query);
    const UploadDecision decision =
        Decide(state, account.Int(0, 1), archive.name, query.rules, query.charges);
    if (decision.verdict != UploadVerdict::Accepted) return {decision.verdict, {}};
    // Others (of this instance or another) may have stored since the upload was let in.
    if (query.charges.Cost(size) > decision.room) return {UploadVerdict::QuotaExceeded, {}};

    auto companyId = state.companyId;
    if (!companyId) {
        companyId = db->Exec(
                          "INSERT INTO companies(account_id, company_key, name, created) "
                          "VALUES($1, $2, $3, $4) RETURNING id",
                          {query.accountId, archive.companyKey, archive.companyName, now})
                        .Int(0, 0);
    } else if (!archive.companyName.empty()) {
        db->Exec("UPDATE companies SET name = $1 WHERE id = $2", {archive.companyName, *companyId});
    }
    const std::string object = place(*companyId);
    StoreOutcome outcome;
    for (const auto& old : decision.plan.released) {
        LetGo(*db, old.object);
        outcome.released.objects.push_back(old.object);
    }
    db->Exec(
        "INSERT INTO archives(company_id, name, object, size, stored) VALUES($1, $2, $3, $4, $5)",
        {*companyId, archive.name, object, size, now});
    // Named now: no longer an upload that may have been cut off.
    db->Exec("DELETE FROM unnamed_objects WHERE object = $1", {object});
    transaction.Commit();
    return outcome;
}

std::optional<Released> PgIndex::DeleteCompany(std::int64_t accountId, std::string_view key) {
    auto db = pool_.Borrow();
    PgTransaction transaction(*db);
    if (!LockAccount(*db, accountId)) return std::nullopt;
    const auto companyId = FindCompanyId(*db, accountId, key);
    if (!companyId) return std::nullopt;
    Released released;
    for (auto& archive : LoadArchives(*db, *companyId)) {
        LetGo(*db, archive.object);
        released.objects.push_back(std::move(archive.object));
    }
    released.companies.push_back(*companyId);
    db->Exec("DELETE FROM companies WHERE id = $1", {*companyId});
    transaction.Commit();
    return released;
}

PruneResult PgIndex::Prune(const PruneRules& rules,
                           const std::function<void(const Released&)>& released) {
    auto db = pool_.Borrow();
    std::vector<std::int64_t> accounts;
    {
        const PgResult rows = db->Exec(
            "SELECT DISTINCT account_id FROM companies WHERE $1::bigint IS NULL OR account_id = "
            "$1 ORDER BY account_id",
            {rules.accountId ? PgParam(*rules.accountId) : PgParam(std::nullopt)});
        for (int i = 0; i < rows.Rows(); ++i) accounts.push_back(rows.Int(i, 0));
    }
    // One account at a time, each in a transaction of its own that holds the account: uploads
    // of the others go on, and a prune of thousands of shops holds nothing for long.
    PruneResult result;
    for (const std::int64_t accountId : accounts) {
        PgTransaction transaction(*db);
        if (!LockAccount(*db, accountId)) continue;
        const PgResult companies = db->Exec(
            "SELECT id, created FROM companies WHERE account_id = $1 ORDER BY id", {accountId});
        Released gone;
        for (int c = 0; c < companies.Rows(); ++c) {
            const std::int64_t companyId = companies.Int(c, 0);
            std::vector<std::int64_t> arrivals;
            auto archives = LoadArchives(*db, companyId, &arrivals);
            const PrunePlan plan = PlanPrune(arrivals, companies.Int(c, 1), rules);
            for (const std::size_t i : plan.going) {
                LetGo(*db, archives[i].object);
                result.bytes += archives[i].size;
                ++result.archives;
                gone.objects.push_back(std::move(archives[i].object));
            }
            if (plan.companyGoes) {
                db->Exec("DELETE FROM companies WHERE id = $1", {companyId});
                gone.companies.push_back(companyId);
            }
        }
        transaction.Commit();
        result.companies += gone.companies.size();
        if (!gone.Empty()) released(gone);
    }
    return result;
}

void PgIndex::NoteUnnamed(const std::string& object) {
    auto db = pool_.Borrow();
    db->Exec(
        "INSERT INTO unnamed_objects(object, released) VALUES($1, false) ON CONFLICT DO NOTHING",
        {object});
}

void PgIndex::Forget(const std::vector<std::string>& objects) {
    if (objects.empty()) return;
    auto db = pool_.Borrow();
    PgTransaction transaction(*db);
    for (const auto& object : objects) {
        db->Exec("DELETE FROM unnamed_objects WHERE object = $1", {object});
    }
    transaction.Commit();
}

std::vector<std::string> PgIndex::Removable(const std::vector<std::string>& objects) {
    std::vector<std::string> removable;
    if (objects.empty()) return removable;
    auto db = pool_.Borrow();
    for (const auto& object : objects) {
        if (db->Exec("SELECT 1 FROM unnamed_objects u WHERE object = $1 AND released AND NOT "
                     "EXISTS (SELECT 1 FROM object_reads r WHERE r.object = u.object AND "
                     "r.until > now())",
                     {object})
                .Rows() == 1) {
            removable.push_back(object);
        }
    }
    return removable;
}

std::vector<std::string> PgIndex::Doomed(std::int64_t pendingSeconds, std::size_t limit) {
    auto db = pool_.Borrow();
    const PgResult rows = db->Exec(
        "SELECT object FROM unnamed_objects u WHERE (released OR since < now() - $1::bigint * "
        "interval '1 second') AND NOT EXISTS (SELECT 1 FROM object_reads r WHERE r.object = "
        "u.object AND r.until > now()) ORDER BY since LIMIT $2",
        {pendingSeconds, static_cast<std::int64_t>(limit)});
    std::vector<std::string> objects;
    for (int i = 0; i < rows.Rows(); ++i) objects.push_back(rows.Text(i, 0));
    return objects;
}

void PgIndex::ExtendRead(const std::string& object, const std::string& reader) {
    auto db = pool_.Borrow();
    db->Exec(std::string("UPDATE object_reads SET until = now() + ") + kReadTime +
                 " WHERE object = $1 AND reader = $2",
             {object, reader});
}

void PgIndex::EndRead(const std::string& object, const std::string& reader) {
    auto db = pool_.Borrow();
    db->Exec("DELETE FROM object_reads WHERE object = $1 AND reader = $2", {object, reader});
}

std::int64_t PgIndex::EndStaleReads() {
    auto db = pool_.Borrow();
    return db->Exec("DELETE FROM object_reads WHERE until < now()").Changed();
}

std::vector<std::pair<std::string, std::int64_t>> PgIndex::ArchiveObjects() {
    auto db = pool_.Borrow();
    const PgResult rows = db->Exec("SELECT object, size FROM archives ORDER BY id");
    std::vector<std::pair<std::string, std::int64_t>> objects;
    for (int i = 0; i < rows.Rows(); ++i) objects.emplace_back(rows.Text(i, 0), rows.Int(i, 1));
    return objects;
}

std::optional<std::int64_t> PgIndex::NamedSize(const std::string& object) {
    auto db = pool_.Borrow();
    const PgResult row = db->Exec("SELECT size FROM archives WHERE object = $1", {object});
    if (row.Rows() == 0) return std::nullopt;
    return row.Int(0, 0);
}

bool PgIndex::InLedger(const std::string& object) {
    auto db = pool_.Borrow();
    return db->Exec("SELECT 1 FROM unnamed_objects WHERE object = $1", {object}).Rows() > 0;
}

void PgIndex::DropArchive(const std::string& object) {
    auto db = pool_.Borrow();
    db->Exec("DELETE FROM archives WHERE object = $1", {object});
}

void PgIndex::SetArchiveSize(const std::string& object, std::int64_t size) {
    auto db = pool_.Borrow();
    db->Exec("UPDATE archives SET size = $2 WHERE object = $1", {object, size});
}

bool PgIndex::HoldsAccounts() {
    auto db = pool_.Borrow();
    return db->Exec("SELECT 1 FROM accounts LIMIT 1").Rows() > 0;
}

void PgIndex::ImportAll(const Import& import) {
    auto db = pool_.Borrow();
    PgTransaction transaction(*db);
    // Held for the transaction: nothing else may add accounts meanwhile.
    db->Exec("LOCK TABLE accounts IN EXCLUSIVE MODE");
    if (db->Exec("SELECT 1 FROM accounts LIMIT 1").Rows() > 0) {
        throw Exception(
            "the index holds accounts already; move a data folder only into an empty one");
    }
    for (const Account& account : import.accounts) {
        db->Exec(
            "INSERT INTO accounts(id, user_id, user_key, password, name, created, last_modified, "
            "expire_at, quota) VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9)",
            {account.id, account.userId, LowerAscii(account.userId), account.passwordRecord,
             account.name, account.created, account.lastModified, account.expireAt, account.quota});
    }
    for (const auto& company : import.companies) {
        db->Exec(
            "INSERT INTO companies(id, account_id, company_key, name, created) VALUES($1, $2, "
            "$3, $4, $5)",
            {company.id, company.accountId, company.key, company.name, company.created});
    }
    for (const auto& archive : import.archives) {
        db->Exec(
            "INSERT INTO archives(id, company_id, name, object, size, stored) VALUES($1, $2, $3, "
            "$4, $5, $6)",
            {archive.id, archive.companyId, archive.name, archive.object, archive.size,
             archive.stored});
        db->Exec("DELETE FROM unnamed_objects WHERE object = $1", {archive.object});
    }
    // New rows go on after the moved ones.
    for (const char* table : {"accounts", "companies", "archives"}) {
        db->Exec(std::string("SELECT setval(pg_get_serial_sequence('") + table +
                 "', 'id'), COALESCE((SELECT MAX(id) FROM " + table + "), 0) + 1, false)");
    }
    transaction.Commit();
}

std::optional<std::string> PgIndex::ReadSetting(const std::string& name) {
    auto db = pool_.Borrow();
    const PgResult row = db->Exec("SELECT value FROM settings WHERE name = $1", {name});
    if (row.Rows() == 0) return std::nullopt;
    return row.Text(0, 0);
}

std::string PgIndex::SettleSetting(const std::string& name, const std::string& value) {
    auto db = pool_.Borrow();
    db->Exec("INSERT INTO settings(name, value) VALUES($1, $2) ON CONFLICT (name) DO NOTHING",
             {name, value});
    return db->Exec("SELECT value FROM settings WHERE name = $1", {name}).Text(0, 0);
}

bool PgIndex::NamesArchives() {
    auto db = pool_.Borrow();
    return db->Exec("SELECT 1 FROM archives LIMIT 1").Rows() > 0;
}

std::chrono::seconds PgThrottle::Wait(std::string_view account, std::string_view address,
                                      Clock::time_point) {
    const std::string from = ThrottleAddress(address);
    auto db = pool_.Borrow();
    const PgResult row = db->Exec(
        "SELECT (extract(epoch FROM clock_timestamp()) * 1000)::bigint, (SELECT "
        "MAX(refused_until_ms) FROM login_failures WHERE (kind = 0 AND key = $1) OR (kind = 1 "
        "AND key = $2))",
        {ThrottlePairKey(account, from), from});
    if (row.IsNull(0, 1)) return std::chrono::seconds(0);
    return WaitUntil(AtMilliseconds(row.Int(0, 1)), AtMilliseconds(row.Int(0, 0)));
}

std::chrono::seconds PgThrottle::Failed(std::string_view account, std::string_view address,
                                        Clock::time_point) {
    const std::string from = ThrottleAddress(address);
    auto db = pool_.Borrow();
    PgTransaction transaction(*db);
    const auto now = AtMilliseconds(DatabaseMilliseconds(*db));
    std::chrono::seconds wait(0);
    // Always the pair first, then the address: two failures never wait for each other in turn.
    const std::pair<int, std::string> keys[] = {{0, ThrottlePairKey(account, from)}, {1, from}};
    for (const auto& [kind, key] : keys) {
        db->Exec(
            "INSERT INTO login_failures(kind, key, failures, last_ms, refused_until_ms) "
            "VALUES($1, $2, 0, 0, 0) ON CONFLICT DO NOTHING",
            {kind, key});
        const PgResult row = db->Exec(
            "SELECT failures, last_ms, refused_until_ms FROM login_failures WHERE kind = $1 AND "
            "key = $2 FOR UPDATE",
            {kind, key});
        FailureCount count{static_cast<int>(row.Int(0, 0)), AtMilliseconds(row.Int(0, 1)),
                           AtMilliseconds(row.Int(0, 2))};
        count = CountFailure(count, kind == 0 ? perAccount_ : perAddress_, now);
        db->Exec(
            "UPDATE login_failures SET failures = $3, last_ms = $4, refused_until_ms = $5 WHERE "
            "kind = $1 AND key = $2",
            {kind, key, count.failures, Milliseconds(count.last),
             Milliseconds(count.refusedUntil)});
        wait = std::max(wait, WaitUntil(count.refusedUntil, now));
    }
    transaction.Commit();
    return wait;
}

void PgThrottle::Succeeded(std::string_view account, std::string_view address) {
    // The address keeps its count: logging in to an account of one's own must not buy more
    // guesses at the others.
    auto db = pool_.Borrow();
    db->Exec("DELETE FROM login_failures WHERE kind = 0 AND key = $1",
             {ThrottlePairKey(account, ThrottleAddress(address))});
}

std::int64_t PgThrottle::Tidy() {
    auto db = pool_.Borrow();
    const std::int64_t now = DatabaseMilliseconds(*db);
    const auto forget = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::max(perAccount_.forgetAfter, perAddress_.forgetAfter))
                            .count();
    return db
        ->Exec("DELETE FROM login_failures WHERE last_ms < $1 AND refused_until_ms <= $2",
               {now - forget, now})
        .Changed();
}

}  // namespace tidewell::webfolder
