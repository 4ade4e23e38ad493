#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace tidewell {

// Days since 1899-12-30 00:00 with the time of day as the fraction, local time.
// Zero means "no such time".
using TDateTime = double;

struct DateTimeParts {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// Nullopt when a field is out of range (year 1..9999, a real calendar day, hh:nn:ss.zzz).
std::optional<TDateTime> TryEncodeDateTime(const DateTimeParts& parts);
// Raises Exception for an invalid date or time.
TDateTime EncodeDateTime(const DateTimeParts& parts);
TDateTime EncodeDate(int year, int month, int day);
// Rounds to the millisecond; the time of day is taken from the absolute fraction.
DateTimeParts DecodeDateTime(TDateTime value);

// Formats with the tokens yyyy yy mm m dd d hh h nn n ss s zzz; anything else is copied.
// "mm" is always the month: minutes are "nn".
std::string FormatDateTime(std::string_view format, TDateTime value);

// Seconds since 1970-01-01 00:00:00 added as they are, without any time-zone conversion.
TDateTime UnixToDateTime(std::int64_t seconds);

// Conversions between the local date-time and a POSIX time through the local time zone.
std::optional<TDateTime> LocalTimeToDateTime(std::time_t time);
std::optional<std::time_t> DateTimeToLocalTime(TDateTime value);

// The first 14 characters read as yyyymmddhhnnss; nullopt when they do not form a valid time.
std::optional<TDateTime> ArchiveTimeToDateTime(std::string_view text);

}  // namespace tidewell
