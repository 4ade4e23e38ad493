#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tidewell::webfolder {

// How failed logins of one key slow the next ones down.
struct ThrottleRules {
    int freeFailures = 5;               // failures in a row before any wait
    std::chrono::seconds firstWait{1};  // doubles with every further failure
    std::chrono::seconds longestWait{60};
    int lockAfter = 10;                         // failures in a row that lock
    std::chrono::seconds lockTime{15 * 60};     // from the last failure
    std::chrono::seconds forgetAfter{15 * 60};  // failures this old no longer count
};

// One key's failures in a row, and until when it is refused.
struct FailureCount {
    using Clock = std::chrono::steady_clock;
    int failures = 0;
    Clock::time_point last;
    Clock::time_point refusedUntil;
};

// The count after one more failure at `now`: the waits grow, then the key is locked; failures
// older than the rules' memory start the count over.
FailureCount CountFailure(FailureCount count, const ThrottleRules& rules,
                          FailureCount::Clock::time_point now);

// How long until `until`, rounded up to whole seconds, so a client told to wait N seconds is
// never refused after them; zero when it has passed.
std::chrono::seconds WaitUntil(FailureCount::Clock::time_point until,
                               FailureCount::Clock::time_point now);

// Failures in a row per key, with the time until which the key is refused. A refused attempt
// is answered at once without a password check and without counting, so waiting clients hold
// nothing and a guesser gets one guess per wait.
//
// The table is bounded, and what it must drop never helps a guesser: entries whose failures
// are forgotten go first, then the least strict (fewest failures, then the oldest) among those
// not refused; an entry that is refused is never dropped. When every entry is refused, new
// keys are refused too until one has served its time.
class FailureTable {
public:
    using Clock = std::chrono::steady_clock;
    FailureTable(ThrottleRules rules, std::size_t maxEntries);

    // How long the key is still refused; zero when it may try.
    std::chrono::seconds Wait(const std::string& key, Clock::time_point now) const;
    // Counts a failure; returns the wait it imposes (zero while failures are free).
    std::chrono::seconds Failed(const std::string& key, Clock::time_point now);
    void Succeeded(const std::string& key) { entries_.erase(key); }
    std::size_t Size() const { return entries_.size(); }

private:
    using Entry = FailureCount;
    // Frees a place for a new key; false when every entry is refused.
    bool MakeRoom(Clock::time_point now);
    // When the first refused entry will have served its time.
    std::chrono::seconds UntilRoom(Clock::time_point now) const;

    ThrottleRules rules_;
    std::size_t maxEntries_;
    std::unordered_map<std::string, Entry> entries_;
};

// Where the service keeps count of failed logins: behind this interface, so that several
// instances of the service can share one count.
class LoginThrottle {
public:
    using Clock = FailureTable::Clock;
    virtual ~LoginThrottle() = default;
    // Zero when the attempt may go on, else how long the client must wait.
    virtual std::chrono::seconds Wait(std::string_view account, std::string_view address,
                                      Clock::time_point now) = 0;
    virtual std::chrono::seconds Failed(std::string_view account, std::string_view address,
                                        Clock::time_point now) = 0;
    virtual void Succeeded(std::string_view account, std::string_view address) = 0;
};

// The address as the throttle counts it: an IPv6 client by its /64, the block one user gets.
std::string ThrottleAddress(std::string_view address);
// The key of an account at such an address; accounts compare without ASCII letter case.
std::string ThrottlePairKey(std::string_view account, std::string_view address);

// Slows down password guessing per account and address together, and per address. An
// account is never slowed down as a whole: failures from other addresses must not lock its
// owner out.
class LoginGuard : public LoginThrottle {
public:
    LoginGuard(ThrottleRules perAccount = {}, ThrottleRules perAddress = AddressRules(),
               std::size_t maxAddresses = 16384, std::size_t maxPairs = 65536);

    // An address serves many users behind one router, so it gets more room than an account.
    static ThrottleRules AddressRules();

    std::chrono::seconds Wait(std::string_view account, std::string_view address,
                              Clock::time_point now) override;
    std::chrono::seconds Failed(std::string_view account, std::string_view address,
                                Clock::time_point now) override;
    void Succeeded(std::string_view account, std::string_view address) override;

private:
    mutable std::mutex mutex_;
    FailureTable pairs_;
    FailureTable addresses_;
};

}  // namespace tidewell::webfolder
