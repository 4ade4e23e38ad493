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

bool AccountStore::Save(const AccountSettings& settings, std::int64_t now) const {
    CheckAccountSettings(settings, now);
    const std::string record = HashPassword(settings.password);
    const std::int64_t expireAt = ExpireAtFor(settings, now);

    SqliteDatabase db = folder_.Open();
    SqliteTransaction transaction(db);
    auto find = db.Prepare("SELECT id FROM accounts WHERE user_id = ?");
    find.Bind(1, settings.userId);
    const bool exists = find.Step();
    if (exists) {
        db.Prepare("UPDATE accounts SET user_id = ?, password = ?, name = ?, last_modified = ?, "
                   "expire_at = ?, quota = ? WHERE id = ?")
            .Bind(1, settings.userId)
            .Bind(2, record)
            .Bind(3, settings.name)
            .Bind(4, now)
            .Bind(5, expireAt)
            .Bind(6, settings.quota)
            .Bind(7, find.ColumnInt(0))
            .Run();
    } else {
        db.Prepare("INSERT INTO accounts(user_id, password, name, created, last_modified, "
                   "expire_at, quota) VALUES(?, ?, ?, ?, ?, ?, ?)")
            .Bind(1, settings.userId)
            .Bind(2, record)
            .Bind(3, settings.name)
            .Bind(4, now)
            .Bind(5, now)
            .Bind(6, expireAt)
            .Bind(7, settings.quota)
            .Run();
    }
    transaction.Commit();
    return !exists;
}

std::optional<Account> AccountStore::Find(std::string_view userId) const {
    SqliteDatabase db = folder_.Open();
    auto find =
        db.Prepare(std::string("SELECT ") + kAccountColumns + " FROM accounts WHERE user_id = ?");
    find.Bind(1, userId);
    if (!find.Step()) return std::nullopt;
    return ReadAccount(find);
}

std::optional<Account> AccountStore::Authenticate(std::string_view userId,
                                                  std::string_view password) const {
    if (userId.empty() || password.empty()) return std::nullopt;
    auto account = Find(userId);
    if (!account) {
        SpendPasswordCheck(password);
        return std::nullopt;
    }
    if (!VerifyPassword(password, account->passwordRecord)) return std::nullopt;
    return account;
}

}  // namespace tidewell::webfolder
