#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tidewell::webfolder {

// One account as stored. Times are seconds since 1970-01-01 UTC; expireAt 0 means no end date.
struct Account {
    std::int64_t id = 0;
    std::string userId;
    std::string name;
    std::string passwordRecord;
    std::int64_t created = 0;
    std::int64_t lastModified = 0;
    std::int64_t expireAt = 0;
    std::int64_t quota = 0;
};

// What `adduser` asks for: the whole account; options left out take their defaults.
struct AccountSettings {
    std::string userId;
    std::string password;
    std::string name;
    std::optional<std::int64_t> days;  // none: no end date
    std::int64_t quota = 1073741824;
};

// The longest user ID, in bytes as sent; a longer one is refused before any lookup.
inline constexpr std::size_t kMaxUserIdBytes = 64;

// The client refuses uploads when RemainingDays <= 0, so an account without an end date
// reports a hundred years.
inline constexpr int kOpenEndedRemainingDays = 36500;

// Days left, a begun day counting as a whole one, so 0 means exactly "the period has ended".
int RemainingDays(std::int64_t expireAt, std::int64_t now);
bool PeriodEnded(std::int64_t expireAt, std::int64_t now);

// Raises Exception with a clear text when the settings can't make an account the client can
// use: IDs and passwords must survive CP949 and the client's stripping, and the end of the
// period and the quota must fit the client's 32-bit integers.
void CheckAccountSettings(const AccountSettings& settings, std::int64_t now);

// The end of the period `--days N` gives: N times 24 hours from now; 0 when there is none.
std::int64_t ExpireAtFor(const AccountSettings& settings, std::int64_t now);

}  // namespace tidewell::webfolder
