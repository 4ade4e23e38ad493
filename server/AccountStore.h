#pragma once

#include <optional>
#include <string_view>

#include "Account.h"
#include "ArchiveIndex.h"
#include "PasswordHash.h"

namespace tidewell::webfolder {

// The accounts of the index. IDs compare without regard to ASCII letter case.
class AccountStore {
public:
    explicit AccountStore(ArchiveIndex& index) : index_(index) {}

    // Creates the account, or replaces everything of it but its creation time; checks the
    // settings first. True when the account is new.
    bool Save(const AccountSettings& settings, std::int64_t now,
              int iterations = kPasswordIterations) const;

    std::optional<Account> Find(std::string_view userId) const {
        return index_.FindAccount(userId);
    }

    // Puts a new record for the same password in place, unless the password was changed
    // meanwhile; true when it did.
    bool ReplacePasswordRecord(std::int64_t accountId, std::string_view oldRecord,
                               std::string_view newRecord) const {
        return index_.ReplacePasswordRecord(accountId, oldRecord, newRecord);
    }

private:
    ArchiveIndex& index_;
};

}  // namespace tidewell::webfolder
