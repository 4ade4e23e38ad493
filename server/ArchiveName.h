#pragma once

#include <cstdint>
#include <string_view>

namespace tidewell::webfolder {

// The client sends its full local path as the file name; only the part after the last
// "/" or "\" counts. CP949 never uses either byte inside a character, so bytes are safe here.
std::string_view LastPathComponent(std::string_view path);

// "yyyymmddhhnnss.bck" naming a real date and time. The client reads the newest archive's
// time from these 14 digits, so nothing else may be stored.
bool IsArchiveName(std::string_view name);

// True when the time an archive name carries lies more than a day after now (seconds since
// 1970 UTC). The name holds the client's local time, which a day's margin covers in every
// time zone; a later one would stay the newest in every client's eyes until then.
bool IsFromTheFuture(std::string_view name, std::int64_t now);

}  // namespace tidewell::webfolder
