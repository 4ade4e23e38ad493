#pragma once

#include <cstdint>
#include <string>

#include "platform/DateTime.h"

namespace tidewell {

// The application title that every message box carries.
inline constexpr const char* kApplicationTitle = "Tidewell";

// Size of a file, or of a folder tree with hidden files included; 0 for a missing path.
// Symbolic links are not followed (a link to a folder would otherwise count it twice or loop).
std::int64_t GetPathSize(const std::string& path);

// The last-write time at the two-second resolution of MS-DOS times, local time.
// False, with time unchanged, when the file can't be opened or the time has no packed form.
bool GetFileModifiedTime(const std::string& fileName, TDateTime& time);
// Sets the last-write time at two-second resolution; a time outside 1980..2107 or any
// failure leaves the file alone, silently.
void SetFileModifiedTime(const std::string& fileName, TDateTime time);

// The absolute form of an existing path without a trailing separator; empty when it
// does not exist.
std::string ShellLongPath(const std::string& path);
// The system's temporary folder in that form.
std::string GetTempFolder();
// GetTempFolder() + "/Tidewell", created private to the user when missing.
std::string EnsureWorkFolder();

// "2KB", "1.5MB", "5.0GB": whole KB below 1 MiB, one decimal above; halves away from zero.
std::string FormatSize(std::int64_t bytes);

void GetAppVersion(std::uint16_t& major, std::uint16_t& minor, std::uint16_t& release,
                   std::uint16_t& build);
std::string GetVersionText();  // "2.0.1.103"

// A modal box titled with the application title, one OK button, no icon.
void ShowAppMessage(const std::string& text);

}  // namespace tidewell
