#pragma once

#include <optional>
#include <string_view>

#include "Account.h"
#include "DataFolder.h"
#include "PasswordHash.h"

namespace tidewell::webfolder {

// The accounts table. IDs compare without regard to ASCII letter case.
class AccountStore {
public:
    explicit AccountStore(const DataFolder& folder) : folder_(folder) {}

    // Creates the account, or replaces everything of it but its creation time; checks the
    // settings first. True when the account is new.
    bool Save(const AccountSettings& settings, std::int64_t now,
              int iterations = kPasswordIterations) const;

    std::optional<Account> Find(std::string_view userId) const;

    // Puts a new record for the same password in place, unless the password was changed
    // meanwhile; true when it did.
    bool ReplacePasswordRecord(std::int64_t accountId, std::string_view oldRecord,
                               std::string_view newRecord) const;

private:
    const DataFolder& folder_;
};

// Reads an account row selected with kAccountColumns.
Account ReadAccount(const SqliteStatement& row);
inline constexpr char kAccountColumns[] =
    "id, user_id, name, password, created, last_modified, expire_at, quota";

}  // namespace tidewell::webfolder
