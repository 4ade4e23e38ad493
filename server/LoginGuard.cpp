#include "LoginGuard.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "TextRules.h"

namespace tidewell::webfolder {
namespace {

std::chrono::seconds Remaining(FailureTable::Clock::time_point until,
                               FailureTable::Clock::time_point now) {
    return WaitUntil(until, now);
}

}  // namespace

std::chrono::seconds WaitUntil(FailureCount::Clock::time_point until,
                               FailureCount::Clock::time_point now) {
    if (until <= now) return std::chrono::seconds(0);
    return std::chrono::ceil<std::chrono::seconds>(until - now);
}

FailureCount CountFailure(FailureCount count, const ThrottleRules& rules,
                          FailureCount::Clock::time_point now) {
    if (count.failures > 0 && now - count.last >= rules.forgetAfter) count = FailureCount{};
    ++count.failures;
    count.last = now;
    const int beyond = count.failures - rules.freeFailures;
    if (count.failures >= rules.lockAfter) {
        count.refusedUntil = now + rules.lockTime;
    } else if (beyond > 0) {
        const int doublings = std::min(beyond - 1, 20);
        count.refusedUntil = now + std::min<std::chrono::seconds>(
                                       rules.firstWait * (1 << doublings), rules.longestWait);
    }
    return count;
}

FailureTable::FailureTable(ThrottleRules rules, std::size_t maxEntries)
    : rules_(rules), maxEntries_(std::max<std::size_t>(maxEntries, 1)) {}

std::chrono::seconds FailureTable::Wait(const std::string& key, Clock::time_point now) const {
    const auto found = entries_.find(key);
    if (found != entries_.end()) return Remaining(found->second.refusedUntil, now);
    if (entries_.size() < maxEntries_) return std::chrono::seconds(0);
    // Full: a new key gets in only if some entry can give way.
    for (const auto& [key, entry] : entries_) {
        if (entry.refusedUntil <= now) return std::chrono::seconds(0);
    }
    return UntilRoom(now);
}

std::chrono::seconds FailureTable::UntilRoom(Clock::time_point now) const {
    auto soonest = Clock::time_point::max();
    for (const auto& [key, entry] : entries_) soonest = std::min(soonest, entry.refusedUntil);
    return std::max(std::chrono::seconds(1), Remaining(soonest, now));
}

std::chrono::seconds FailureTable::Failed(const std::string& key, Clock::time_point now) {
    if (entries_.count(key) == 0 && !MakeRoom(now)) return UntilRoom(now);
    Entry& entry = entries_[key];
    entry = CountFailure(entry, rules_, now);
    return Remaining(entry.refusedUntil, now);
}

bool FailureTable::MakeRoom(Clock::time_point now) {
    if (entries_.size() < maxEntries_) return true;
    std::erase_if(entries_, [&](const auto& item) {
        return now - item.second.last >= rules_.forgetAfter && item.second.refusedUntil <= now;
    });
    if (entries_.size() < maxEntries_) return true;
    auto weakest = entries_.end();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->second.refusedUntil > now) continue;
        if (weakest == entries_.end() || it->second.failures < weakest->second.failures ||
            (it->second.failures == weakest->second.failures &&
             it->second.last < weakest->second.last)) {
            weakest = it;
        }
    }
    if (weakest == entries_.end()) return false;
    entries_.erase(weakest);
    return true;
}

std::string ThrottleAddress(std::string_view address) {
    in6_addr ip6{};
    const std::string text(address);
    if (text.find(':') == std::string::npos || ::inet_pton(AF_INET6, text.c_str(), &ip6) != 1) {
        return text;
    }
    char out[INET6_ADDRSTRLEN] = "";
    if (IN6_IS_ADDR_V4MAPPED(&ip6)) {
        ::inet_ntop(AF_INET, &ip6.s6_addr[12], out, sizeof out);
        return out;
    }
    std::memset(&ip6.s6_addr[8], 0, 8);
    ::inet_ntop(AF_INET6, &ip6, out, sizeof out);
    return std::string(out) + "/64";
}

LoginGuard::LoginGuard(ThrottleRules perAccount, ThrottleRules perAddress, std::size_t maxAddresses,
                       std::size_t maxPairs)
    : pairs_(perAccount, maxPairs), addresses_(perAddress, maxAddresses) {}

ThrottleRules LoginGuard::AddressRules() {
    ThrottleRules rules;
    rules.freeFailures = 20;
    rules.lockAfter = 50;
    return rules;
}

std::string ThrottlePairKey(std::string_view account, std::string_view address) {
    return LowerAscii(account) + '\n' + std::string(address);
}

std::chrono::seconds LoginGuard::Wait(std::string_view account, std::string_view address,
                                      Clock::time_point now) {
    const std::string from = ThrottleAddress(address);
    std::lock_guard lock(mutex_);
    return std::max(pairs_.Wait(ThrottlePairKey(account, from), now), addresses_.Wait(from, now));
}

std::chrono::seconds LoginGuard::Failed(std::string_view account, std::string_view address,
                                        Clock::time_point now) {
    const std::string from = ThrottleAddress(address);
    std::lock_guard lock(mutex_);
    return std::max(pairs_.Failed(ThrottlePairKey(account, from), now),
                    addresses_.Failed(from, now));
}

void LoginGuard::Succeeded(std::string_view account, std::string_view address) {
    // The address keeps its count: logging in to an account of one's own must not buy more
    // guesses at the others.
    std::lock_guard lock(mutex_);
    pairs_.Succeeded(ThrottlePairKey(account, ThrottleAddress(address)));
}

}  // namespace tidewell::webfolder
