#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "platform/DateTime.h"

namespace tidewell {

// MS-DOS date and time as one 32-bit value: date in the high 16 bits, time in the low 16,
// two-second resolution, years 1980 to 2107, local time.
using DosDateTime = std::int32_t;

// Nullopt outside 1980..2107. Seconds are halved and rounded down; milliseconds are dropped.
std::optional<DosDateTime> PackDosDateTime(TDateTime value);
// Nullopt for a value that names no real date and time.
std::optional<TDateTime> UnpackDosDateTime(DosDateTime value);

// The last-write time of a file as an MS-DOS date and time. Nullopt when the file could not be
// opened for reading or its time has no packed form. Neither routine opens the file itself.
std::optional<DosDateTime> ReadFileDosDateTime(const std::filesystem::path& file);
// Sets the last-write time (the access time stays); only on a file that could be opened for
// writing. False on any failure.
bool WriteFileDosDateTime(const std::filesystem::path& file, DosDateTime value);

}  // namespace tidewell
