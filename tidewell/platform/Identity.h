#pragma once

#include <string>
#include <string_view>

namespace tidewell {

// A random version-4 GUID in registry text form: "{XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX}".
std::string NewGuidText();

// MD5 of the bytes as 32 lower-case hexadecimal characters.
std::string Md5Hex(std::string_view bytes);

}  // namespace tidewell
