#pragma once

#include <string>
#include <string_view>

namespace tidewell {

// Text in memory is UTF-8; on the wire, in service replies and in archives it is CP949,
// the ANSI code page of the Korean systems the service was made for.

// A character CP949 lacks becomes "?", as the system conversion does; so does broken UTF-8.
std::string Utf8ToAnsi(std::string_view utf8);
// A byte sequence that is not CP949 becomes "?".
std::string AnsiToUtf8(std::string_view ansi);

}  // namespace tidewell
