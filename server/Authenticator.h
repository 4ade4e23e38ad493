#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "Account.h"
#include "AccountStore.h"
#include "CredentialCache.h"
#include "LoginGuard.h"
#include "Reply.h"
#include "RequestLog.h"
#include "WorkerPool.h"

namespace tidewell::webfolder {

struct LoginResult {
    std::optional<Account> account;
    std::chrono::seconds wait{0};  // how long the client must wait before it may try again

    // The reply for a refused login.
    Reply Refusal() const;
};

// A user ID and password as the client sent them (CP949, blanks not yet stripped), and where
// from.
struct Credentials {
    std::string userId;
    std::string password;
    std::string address;
};

// Checks a user ID and password as every request carries them: refuses at once while the
// client is slowed down after failures, answers from the cache of verified credentials when it
// can, and brings a record made with fewer iterations up to date. A wrong password costs the
// same time whatever the account, or none: unknown IDs and old records spend the difference.
class Authenticator {
public:
    Authenticator(const AccountStore& accounts, int iterations = kPasswordIterations,
                  std::unique_ptr<LoginThrottle> throttle = std::make_unique<LoginGuard>());

    using Then = std::function<Work(LoginResult)>;
    // The login as work: the cheap first step with the database, the password check (when the
    // cache can't answer) on the password lane; `then` gives the work that follows. The note
    // learns the account and how the login went; it must outlive the work.
    Work Login(Credentials credentials, RequestNote& note, Then then);

    // Both steps at once, for callers that may wait.
    LoginResult LoginNow(const Credentials& credentials, RequestNote& note);

private:
    // What the slow check needs.
    struct Check {
        std::string id;  // UTF-8
        std::string secret;
        std::string address;
        std::optional<Account> account;
        LoginThrottle::Clock::time_point now;
    };
    // The password check: the account when the password is right, and a record to bring up to
    // date.
    struct Verified {
        Check check;
        bool right = false;
        std::optional<std::string> upgrade;
    };
    std::variant<LoginResult, Check> Prepare(const Credentials& credentials, RequestNote& note);
    Verified Verify(Check check);
    // The index's steps: counts a failure or clears the count, stores the upgraded record and
    // remembers the password.
    LoginResult Finish(Verified verified, RequestNote& note);

    const AccountStore& accounts_;
    int iterations_;
    std::unique_ptr<LoginThrottle> throttle_;
    CredentialCache cache_;
};

}  // namespace tidewell::webfolder
