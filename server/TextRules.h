#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tidewell::webfolder {

// Drops leading and trailing spaces and control characters, as the client does before sending.
std::string_view StripBlanks(std::string_view text);

// Control characters become spaces, so a value can never start a new reply or log line.
std::string ReplaceControls(std::string_view text);

// ASCII letters in lower case; other bytes as they are.
std::string LowerAscii(std::string_view text);

// A company key as the service stores it: 1 to 64 printable ASCII characters without spaces.
// The client's keys are 32 hexadecimal characters; anything else printable is tolerated.
bool IsCompanyKey(std::string_view key);

// True when the UTF-8 text survives the trip to CP949 and back unchanged.
bool FitsCodePage(std::string_view utf8);

// CP949 bytes as UTF-8, or nullopt when a byte sequence is not CP949: a password or an ID
// must never match through the "?" that the lenient conversion puts in its place.
std::optional<std::string> StrictAnsiToUtf8(std::string_view ansi);

}  // namespace tidewell::webfolder
