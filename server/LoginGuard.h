#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tidewell::webfolder {

// How failed logins of one account, or from one address, slow the next ones down.
struct ThrottleRules {
    int freeFailures = 5;               // failures in a row before any wait
    std::chrono::seconds firstWait{1};  // doubles with every further failure
    std::chrono::seconds longestWait{60};
    int lockAfter = 10;                         // failures in a row that lock
    std::chrono::seconds lockTime{15 * 60};     // from the last failure
    std::chrono::seconds forgetAfter{15 * 60};  // failures this old no longer count
};

// Failures in a row per key, with the time until which the key is refused. A refused attempt
// is answered at once without a password check and without counting, so waiting clients hold
// nothing and a guesser gets one guess per wait. The table is bounded: when full, entries no
// longer counted go first, then the oldest.
class FailureTable {
public:
    using Clock = std::chrono::steady_clock;
    FailureTable(ThrottleRules rules, std::size_t maxEntries);

    // How long the key is still refused; zero when it may try.
    std::chrono::seconds Wait(const std::string& key, Clock::time_point now) const;
    // Counts a failure; returns the wait it imposes (zero while failures are free).
    std::chrono::seconds Failed(const std::string& key, Clock::time_point now);
    void Succeeded(const std::string& key) { entries_.erase(key); }

private:
    struct Entry {
        int failures = 0;
        Clock::time_point last;
        Clock::time_point refusedUntil;
    };
    void MakeRoom(Clock::time_point now);

    ThrottleRules rules_;
    std::size_t maxEntries_;
    std::unordered_map<std::string, Entry> entries_;
};

// Slows down password guessing per account and per client address.
class LoginGuard {
public:
    using Clock = FailureTable::Clock;
    LoginGuard(ThrottleRules perAccount = {}, ThrottleRules perAddress = AddressRules());

    // An address serves many users behind one router, so it gets more room than an account.
    static ThrottleRules AddressRules();

    // Zero when the attempt may go on, else how long the account or the address must wait.
    std::chrono::seconds Wait(std::string_view account, std::string_view address,
                              Clock::time_point now) const;
    std::chrono::seconds Failed(std::string_view account, std::string_view address,
                                Clock::time_point now);
    void Succeeded(std::string_view account);

private:
    mutable std::mutex mutex_;
    FailureTable accounts_;
    FailureTable addresses_;
};

}  // namespace tidewell::webfolder
