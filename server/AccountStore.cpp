#include "AccountStore.h"

#include "PasswordHash.h"

namespace tidewell::webfolder {

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

bool AccountStore::Save(const AccountSettings& settings, std::int64_t now, int iterations) const {
    CheckAccountSettings(settings, now);
    const std::string record = HashPassword(settings.password, iterations);
    const std::int64_t expireAt = ExpireAtFor(settings, now);

    auto lease = folder_.Database();
    SqliteDatabase& db = *lease;
    SqliteTransaction transaction(db);
    const bool exists = [&] {
        auto find = db.Prepare("SELECT 1 FROM accounts WHERE user_id = ?");
        find.Bind(1, settings.userId);
        return find.Step();
    }();
    db.Prepare(
          "INSERT INTO accounts(user_id, password, name, created, last_modified, expire_at, "
          "quota) VALUES(?1, ?2, ?3, ?4, ?4, ?5, ?6) ON CONFLICT(user_id) DO UPDATE SET "
          "user_id = excluded.user_id, password = excluded.password, name = excluded.name, "
          "last_modified = excluded.last_modified, expire_at = excluded.expire_at, "
          "quota = excluded.quota")
        .Bind(1, settings.userId)
        .Bind(2, record)
        .Bind(3, settings.name)
        .Bind(4, now)
        .Bind(5, expireAt)
        .Bind(6, settings.quota)
        .Run();
    transaction.Commit();
    return !exists;
}

std::optional<Account> AccountStore::Find(std::string_view userId) const {
    auto db = folder_.Database();
    auto find =
        db->Prepare(std::string("SELECT ") + kAccountColumns + " FROM accounts WHERE user_id = ?");
    find.Bind(1, userId);
    if (!find.Step()) return std::nullopt;
    return ReadAccount(find);
}

bool AccountStore::ReplacePasswordRecord(std::int64_t accountId, std::string_view oldRecord,
                                         std::string_view newRecord) const {
    auto db = folder_.Database();
    auto update = db->Prepare("UPDATE accounts SET password = ? WHERE id = ? AND password = ?");
    update.Bind(1, newRecord).Bind(2, accountId).Bind(3, oldRecord).Run();
    return sqlite3_changes(db->get()) == 1;
}

}  // namespace tidewell::webfolder
