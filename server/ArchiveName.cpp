#include "ArchiveName.h"

#include <algorithm>
#include <ctime>

#include "platform/DateTime.h"

namespace tidewell::webfolder {

std::string_view LastPathComponent(std::string_view path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool IsArchiveName(std::string_view name) {
    constexpr std::string_view kExtension = ".bck";
    if (name.size() != 14 + kExtension.size() || !name.ends_with(kExtension)) return false;
    const auto digits = name.substr(0, 14);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    return ArchiveTimeToDateTime(digits).has_value();
}

bool IsFromTheFuture(std::string_view name, std::int64_t now) {
    if (!IsArchiveName(name)) return false;
    auto number = [&](std::size_t at, std::size_t length) {
        int value = 0;
        for (std::size_t i = at; i < at + length; ++i) value = value * 10 + (name[i] - '0');
        return value;
    };
    std::tm civil{};
    civil.tm_year = number(0, 4) - 1900;
    civil.tm_mon = number(4, 2) - 1;
    civil.tm_mday = number(6, 2);
    civil.tm_hour = number(8, 2);
    civil.tm_min = number(10, 2);
    civil.tm_sec = number(12, 2);
    constexpr std::int64_t kDay = 86400;
    return static_cast<std::int64_t>(::timegm(&civil)) > now + kDay;
}

}  // namespace tidewell::webfolder
