#pragma once

#include <cstddef>
#include <string>

namespace tidewell::webfolder {

// Random bytes from the kernel; raises Exception when it has none to give.
void FillRandom(void* data, std::size_t size);

// That many random bytes as lower-case hexadecimal digits.
std::string RandomHex(std::size_t bytes);

}  // namespace tidewell::webfolder
