#include "archive/ArchiveFormat.h"

#include <cstdio>

namespace tidewell::archive {

std::string DiskSuffix(unsigned disk) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%03u", disk % 1000);
    return digits;
}

std::string DiskFileName(const std::string& archiveName, std::string_view suffix) {
    const std::size_t nameStart = archiveName.find_last_of('/') + 1;  // npos + 1 == 0
    const std::size_t dot = archiveName.find_last_of('.');
    std::string result = archiveName;
    if (dot != std::string::npos && dot >= nameStart) result.resize(dot);
    result += '.';
    result += suffix;
    return result;
}

}  // namespace tidewell::archive
