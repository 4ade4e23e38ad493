#pragma once

#include <string_view>

namespace tidewell::webfolder {

// The client sends its full local path as the file name; only the part after the last
// "/" or "\" counts. CP949 never uses either byte inside a character, so bytes are safe here.
std::string_view LastPathComponent(std::string_view path);

// "yyyymmddhhnnss.bck" naming a real date and time. The client reads the newest archive's
// time from these 14 digits, so nothing else may be stored.
bool IsArchiveName(std::string_view name);

}  // namespace tidewell::webfolder
