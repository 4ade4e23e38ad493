#include "archive/ArchiveAttribute.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <string>

namespace tidewell::archive {
namespace {

bool ModifiedNanoseconds(const std::filesystem::path& file, std::string& text) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return false;
    const long long ns = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    text = std::to_string(ns);
    return true;
}

}  // namespace

bool ArchiveFlagSet(const std::filesystem::path& file) {
    char value[32];
    const ssize_t n = ::getxattr(file.c_str(), kArchiveAttributeName, value, sizeof value);
    if (n <= 0) return true;
    std::string modified;
    if (!ModifiedNanoseconds(file, modified)) return true;
    return std::string(value, static_cast<std::size_t>(n)) != modified;
}

void ClearArchiveFlag(const std::filesystem::path& file) {
    std::string modified;
    if (!ModifiedNanoseconds(file, modified)) return;
    ::setxattr(file.c_str(), kArchiveAttributeName, modified.data(), modified.size(), 0);
}

}  // namespace tidewell::archive
