#pragma once

#include <filesystem>

namespace tidewell::archive {

// This file system has no archive attribute, so it lives in a user extended attribute. Its value
// is the file's modification time in nanoseconds since 1970 (decimal) at the moment the flag was
// cleared. The flag counts as set (changed since the last backup) when the attribute is missing,
// holds anything else, or no longer matches the file's modification time: like the real attribute,
// any later write sets it again.
inline constexpr const char* kArchiveAttributeName = "user.tidewell.archive";

bool ArchiveFlagSet(const std::filesystem::path& file);
// Where extended attributes are not supported (or not allowed) this does nothing, and the file
// keeps counting as changed.
void ClearArchiveFlag(const std::filesystem::path& file);

}  // namespace tidewell::archive
