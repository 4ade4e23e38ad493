#pragma once

#include <cstdint>
#include <filesystem>

namespace tidewell::bench {

// Rows of a shop's stock: codes, names, quantities, prices, free text and the odd small picture,
// with an index, the way an inventory database fills its pages. Grows the file to at least
// bytes; returns the number of rows.
std::int64_t MakeDatabase(const std::filesystem::path& file, std::int64_t bytes);

}  // namespace tidewell::bench
