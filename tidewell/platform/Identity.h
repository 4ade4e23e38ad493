#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tidewell {

// A random version-4 GUID in registry text form: "{XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX}".
std::string NewGuidText();

// The bytes as lower-case hexadecimal, two characters each (digests, random names).
std::string HexText(const unsigned char* bytes, std::size_t size);

// MD5 of the bytes as 32 lower-case hexadecimal characters.
std::string Md5Hex(std::string_view bytes);

}  // namespace tidewell
