#include "platform/DateTime.h"

#include <cmath>
#include <cstdio>

#include "platform/Error.h"

namespace tidewell {
namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;
constexpr std::int64_t kUnixEpochDays = 25'569;  // 1970-01-01 as a date-time

// Days since 1970-01-01 for a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::string Pad(int value, int width) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
    return buffer;
}

// Length of the run of character c starting at position i.
std::size_t RunLength(std::string_view text, std::size_t i, char c) {
    std::size_t n = 0;
    while (i + n < text.size() && text[i + n] == c) ++n;
    return n;
}

}  // namespace

std::optional<TDateTime> TryEncodeDateTime(const DateTimeParts& p) {
    if (p.year < 1 || p.year > 9999 || p.month < 1 || p.month > 12) return std::nullopt;
    if (p.day < 1 || p.day > DaysInMonth(p.year, p.month)) return std::nullopt;
    if (p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 || p.second < 0 ||
        p.second > 59 || p.millisecond < 0 || p.millisecond > 999) {
        return std::nullopt;
    }
    const double days = static_cast<double>(
        DaysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day)) +
        kUnixEpochDays);
    const double time =
        ((p.hour * 3600.0 + p.minute * 60.0 + p.second) * 1000.0 + p.millisecond) / kMsPerDay;
    // Before 1899-12-30 the fraction counts forward from the day, as the type has always done.
    return days >= 0 ? days + time : days - time;
}

TDateTime EncodeDateTime(const DateTimeParts& parts) {
    if (auto value = TryEncodeDateTime(parts)) return *value;
    throw Exception("Invalid argument to date encode");
}

TDateTime EncodeDate(int year, int month, int day) {
    return EncodeDateTime({year, month, day, 0, 0, 0, 0});
}

DateTimeParts DecodeDateTime(TDateTime value) {
    const std::int64_t totalMs = std::llround(value * static_cast<double>(kMsPerDay));
    const std::int64_t days = totalMs / kMsPerDay;  // truncates toward zero
    std::int64_t timeMs = totalMs % kMsPerDay;
    if (timeMs < 0) timeMs = -timeMs;
    DateTimeParts parts;
    CivilFromDays(days - kUnixEpochDays, parts.year, parts.month, parts.day);
    parts.hour = static_cast<int>(timeMs / 3'600'000);
    parts.minute = static_cast<int>(timeMs / 60'000 % 60);
    parts.second = static_cast<int>(timeMs / 1000 % 60);
    parts.millisecond = static_cast<int>(timeMs % 1000);
    return parts;
}

std::string FormatDateTime(std::string_view format, TDateTime value) {
    const DateTimeParts p = DecodeDateTime(value);
    std::string out;
    std::size_t i = 0;
    while (i < format.size()) {
        const char c = format[i];
        const std::size_t run = RunLength(format, i, c);
        switch (c) {
            case 'y':
                if (run >= 4) {
                    out += Pad(p.year, 4);
                    i += 4;
                } else {
                    out += Pad(p.year % 100, 2);
                    i += std::min<std::size_t>(run, 2);
                }
                continue;
            case 'm':
            case 'd':
            case 'h':
            case 'n':
            case 's': {
                const int field = c == 'm'   ? p.month
                                  : c == 'd' ? p.day
                                  : c == 'h' ? p.hour
                                  : c == 'n' ? p.minute
                                             : p.second;
                const bool twoDigits = run >= 2;
                out += Pad(field, twoDigits ? 2 : 1);
                i += twoDigits ? 2 : 1;
                continue;
            }
            case 'z':
                if (run >= 3) {
                    out += Pad(p.millisecond, 3);
                    i += 3;
                } else {
                    out += std::to_string(p.millisecond);
                    i += 1;
                }
                continue;
            default:
                out += c;
                ++i;
        }
    }
    return out;
}

TDateTime UnixToDateTime(std::int64_t seconds) {
    return static_cast<double>(kUnixEpochDays) + static_cast<double>(seconds) / 86400.0;
}

std::optional<TDateTime> LocalTimeToDateTime(std::time_t time) {
    tm local{};
    if (localtime_r(&time, &local) == nullptr) return std::nullopt;
    return TryEncodeDateTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                              local.tm_min, local.tm_sec, 0});
}

std::optional<std::time_t> DateTimeToLocalTime(TDateTime value) {
    const DateTimeParts p = DecodeDateTime(value);
    tm local{};
    local.tm_year = p.year - 1900;
    local.tm_mon = p.month - 1;
    local.tm_mday = p.day;
    local.tm_hour = p.hour;
    local.tm_min = p.minute;
    local.tm_sec = p.second;
    local.tm_isdst = -1;
    const std::time_t result = mktime(&local);
    if (result == static_cast<std::time_t>(-1) && !(p.year == 1969 || p.year == 1970)) {
        return std::nullopt;
    }
    return result;
}

std::optional<TDateTime> ArchiveTimeToDateTime(std::string_view text) {
    if (text.size() < 14) return std::nullopt;
    int fields[6];
    static constexpr int kWidths[] = {4, 2, 2, 2, 2, 2};
    std::size_t pos = 0;
    for (int f = 0; f < 6; ++f) {
        int value = 0;
        for (int k = 0; k < kWidths[f]; ++k, ++pos) {
            const char c = text[pos];
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + (c - '0');
        }
        fields[f] = value;
    }
    return TryEncodeDateTime({fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], 0});
}

}  // namespace tidewell
