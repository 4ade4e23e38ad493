#include "LoginGuard.h"

#include <algorithm>

#include "TextRules.h"

namespace tidewell::webfolder {
namespace {

constexpr std::size_t kMaxEntries = 10000;

std::chrono::seconds Remaining(FailureTable::Clock::time_point until,
                               FailureTable::Clock::time_point now) {
    if (until <= now) return std::chrono::seconds(0);
    // Rounded up, so a client told to wait N seconds is never refused after them.
    return std::chrono::ceil<std::chrono::seconds>(until - now);
}

}  // namespace

FailureTable::FailureTable(ThrottleRules rules, std::size_t maxEntries)
    : rules_(rules), maxEntries_(maxEntries) {}

std::chrono::seconds FailureTable::Wait(const std::string& key, Clock::time_point now) const {
    const auto found = entries_.find(key);
    return found == entries_.end() ? std::chrono::seconds(0)
                                   : Remaining(found->second.refusedUntil, now);
}

std::chrono::seconds FailureTable::Failed(const std::string& key, Clock::time_point now) {
    if (entries_.count(key) == 0) MakeRoom(now);
    Entry& entry = entries_[key];
    if (entry.failures > 0 && now - entry.last >= rules_.forgetAfter) entry = Entry{};
    ++entry.failures;
    entry.last = now;
    const int beyond = entry.failures - rules_.freeFailures;
    if (entry.failures >= rules_.lockAfter) {
        entry.refusedUntil = now + rules_.lockTime;
    } else if (beyond > 0) {
        const int doublings = std::min(beyond - 1, 20);
        entry.refusedUntil = now + std::min<std::chrono::seconds>(
                                       rules_.firstWait * (1 << doublings), rules_.longestWait);
    }
    return Remaining(entry.refusedUntil, now);
}

void FailureTable::MakeRoom(Clock::time_point now) {
    if (entries_.size() < maxEntries_) return;
    std::erase_if(entries_, [&](const auto& item) {
        return now - item.second.last >= rules_.forgetAfter && item.second.refusedUntil <= now;
    });
    while (entries_.size() >= maxEntries_) {
        const auto oldest = std::min_element(
            entries_.begin(), entries_.end(),
            [](const auto& a, const auto& b) { return a.second.last < b.second.last; });
        entries_.erase(oldest);
    }
}

LoginGuard::LoginGuard(ThrottleRules perAccount, ThrottleRules perAddress)
    : accounts_(perAccount, kMaxEntries), addresses_(perAddress, kMaxEntries) {}

ThrottleRules LoginGuard::AddressRules() {
    ThrottleRules rules;
    rules.freeFailures = 20;
    rules.lockAfter = 50;
    return rules;
}

std::chrono::seconds LoginGuard::Wait(std::string_view account, std::string_view address,
                                      Clock::time_point now) const {
    std::lock_guard lock(mutex_);
    return std::max(accounts_.Wait(LowerAscii(account), now),
                    addresses_.Wait(std::string(address), now));
}

std::chrono::seconds LoginGuard::Failed(std::string_view account, std::string_view address,
                                        Clock::time_point now) {
    std::lock_guard lock(mutex_);
    return std::max(accounts_.Failed(LowerAscii(account), now),
                    addresses_.Failed(std::string(address), now));
}

void LoginGuard::Succeeded(std::string_view account) {
    // The address keeps its count: logging in to an account of one's own must not buy more
    // guesses at the others.
    std::lock_guard lock(mutex_);
    accounts_.Succeeded(LowerAscii(account));
}

}  // namespace tidewell::webfolder
