#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tidewell::webfolder {

// Credentials verified a moment ago, so that a login (a profile, the usage, the list, then
// every company) costs one slow password check instead of one per request. Only a keyed
// digest of the password is held, in memory, under a key made at start; an entry stands for
// the stored record it was checked against, so a new password ends it at once.
class CredentialCache {
public:
    using Clock = std::chrono::steady_clock;
    explicit CredentialCache(std::chrono::seconds lifetime = std::chrono::seconds(300),
                             std::size_t maxEntries = 4096);

    bool Matches(std::int64_t accountId, std::string_view record, std::string_view password,
                 Clock::time_point now) const;
    void Remember(std::int64_t accountId, std::string_view record, std::string_view password,
                  Clock::time_point now);

private:
    using Digest = std::array<unsigned char, 32>;
    struct Entry {
        std::string record;
        Digest digest;
        Clock::time_point expires;
    };
    Digest DigestOf(std::string_view password) const;

    std::chrono::seconds lifetime_;
    std::size_t maxEntries_;
    std::array<unsigned char, 32> key_;
    mutable std::mutex mutex_;
    std::unordered_map<std::int64_t, Entry> entries_;
};

}  // namespace tidewell::webfolder
