#include "archive/RestoreTarget.h"

#include <vector>

#include "archive/ArchiveFormat.h"

namespace tidewell::archive {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool HasDrive(std::string_view name) {
    const char c = name.empty() ? '\0' : name[0];
    return name.size() >= 2 && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) && name[1] == ':';
}

[[noreturn]] void Refuse(std::string_view storedName, const char* why) {
    throw ArchiveError("Unsafe name in archive \"" + std::string(storedName) + "\": " + why);
}

// The parts of a path, without empty and "." parts; ".." is refused, never resolved.
std::vector<std::string_view> PathParts(std::string_view storedName, std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        const std::string_view part = path.substr(start, end - start);
        if (part == "..") Refuse(storedName, "it climbs out of its folder");
        if (!part.empty() && part != ".") parts.push_back(part);
        start = end + 1;
    }
    if (parts.empty()) Refuse(storedName, "it names no file");
    return parts;
}

std::string Join(std::string base, const std::vector<std::string_view>& parts) {
    for (const std::string_view part : parts) {
        if (base.empty() || base.back() != '/') base += '/';
        base += part;
    }
    return base;
}

}  // namespace

std::string RestoreTargetPath(std::string_view storedName, const std::string& destFolder,
                              bool fullPath) {
    if (storedName.find('\0') != std::string_view::npos) Refuse(storedName, "it holds a zero byte");
    std::size_t lastSeparator = storedName.size();
    while (lastSeparator > 0 && !IsSeparator(storedName[lastSeparator - 1])) --lastSeparator;
    const std::string_view fileName = storedName.substr(lastSeparator);
    if (fileName.empty() || fileName == "." || fileName == "..") {
        Refuse(storedName, "it names no file");
    }
    // A name that climbs out of its folder is no name a writer of this format makes, even where
    // only its file part would be used: such an archive is refused, not tidied up.
    PathParts(storedName, HasDrive(storedName) ? storedName.substr(2) : storedName);
    if (!destFolder.empty()) {
        if (!fullPath) return Join(destFolder, PathParts(storedName, fileName));
        const std::string_view path = HasDrive(storedName) ? storedName.substr(2) : storedName;
        return Join(destFolder, PathParts(storedName, path));
    }
    if (HasDrive(storedName)) {
        Refuse(storedName, "a Windows path can only be restored into a destination folder");
    }
    // Names are stored with backslashes between their parts: \tmp\x is /tmp/x here.
    if (!IsSeparator(storedName.front())) Refuse(storedName, "it is not an absolute path");
    return Join("/", PathParts(storedName, storedName));
}

}  // namespace tidewell::archive
