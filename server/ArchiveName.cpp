#include "ArchiveName.h"

#include <algorithm>

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

}  // namespace tidewell::webfolder
