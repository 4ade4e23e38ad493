#pragma once

#include <chrono>
#include <optional>
#include <string_view>

#include "Account.h"
#include "AccountStore.h"
#include "CredentialCache.h"
#include "LoginGuard.h"
#include "Reply.h"
#include "RequestLog.h"

namespace tidewell::webfolder {

struct LoginResult {
    std::optional<Account> account;
    std::chrono::seconds wait{0};  // how long the client must wait before it may try again

    // The reply for a refused login.
    Reply Refusal() const;
};

// Checks a user ID and password as every request carries them: refuses at once while the
// account or the address is slowed down after failures, answers from the cache of verified
// credentials when it can, and brings a record made with fewer iterations up to date.
class Authenticator {
public:
    Authenticator(const AccountStore& accounts, int iterations = kPasswordIterations,
                  ThrottleRules perAccount = {},
                  ThrottleRules perAddress = LoginGuard::AddressRules());

    // userId and password are the bytes the client sent (CP949, blanks not yet stripped).
    // The note learns the account and how the login went.
    LoginResult Login(std::string_view userId, std::string_view password, std::string_view address,
                      RequestNote& note);

private:
    const AccountStore& accounts_;
    int iterations_;
    LoginGuard guard_;
    CredentialCache cache_;
};

}  // namespace tidewell::webfolder
