#pragma once

#include <optional>
#include <string_view>

#include "Account.h"
#include "DataFolder.h"

namespace tidewell::webfolder {

// The accounts table. IDs compare without regard to ASCII letter case.
class AccountStore {
public:
    explicit AccountStore(const DataFolder& folder) : folder_(folder) {}

    // Creates the account, or replaces everything of it but its creation time; checks the
    // settings first. True when the account is new.
    bool Save(const AccountSettings& settings, std::int64_t now) const;

    std::optional<Account> Find(std::string_view userId) const;

    // The account when the ID exists and the password matches it.
    std::optional<Account> Authenticate(std::string_view userId, std::string_view password) const;

private:
    const DataFolder& folder_;
};

// Reads an account row selected with kAccountColumns.
Account ReadAccount(const SqliteStatement& row);
inline constexpr char kAccountColumns[] =
    "id, user_id, name, password, created, last_modified, expire_at, quota";

}  // namespace tidewell::webfolder
