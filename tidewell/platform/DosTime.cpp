#include "platform/DosTime.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tidewell {

std::optional<DosDateTime> PackDosDateTime(TDateTime value) {
    const DateTimeParts p = DecodeDateTime(value);
    if (p.year < 1980 || p.year > 2107) return std::nullopt;
    const std::uint32_t date =
        (static_cast<std::uint32_t>(p.year - 1980) << 9) | (p.month << 5) | p.day;
    const std::uint32_t time = (p.hour << 11) | (p.minute << 5) | (p.second / 2);
    return static_cast<DosDateTime>((date << 16) | time);
}

std::optional<TDateTime> UnpackDosDateTime(DosDateTime value) {
    const auto bits = static_cast<std::uint32_t>(value);
    const std::uint32_t date = bits >> 16;
    const std::uint32_t time = bits & 0xFFFF;
    return TryEncodeDateTime({static_cast<int>((date >> 9) + 1980), static_cast<int>((date >> 5) & 15),
                              static_cast<int>(date & 31), static_cast<int>(time >> 11),
                              static_cast<int>((time >> 5) & 63), static_cast<int>((time & 31) * 2),
                              0});
}

// Neither routine opens the file: closing a descriptor of a database drops every lock that
// this process's connections hold on it, and a time is read and set while one is held.

std::optional<DosDateTime> ReadFileDosDateTime(const std::filesystem::path& file) {
    if (::faccessat(AT_FDCWD, file.c_str(), R_OK, AT_EACCESS) != 0) return std::nullopt;
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
    const auto local = LocalTimeToDateTime(st.st_mtim.tv_sec);
    if (!local) return std::nullopt;
    return PackDosDateTime(*local);
}

bool WriteFileDosDateTime(const std::filesystem::path& file, DosDateTime value) {
    const auto local = UnpackDosDateTime(value);
    if (!local) return false;
    const auto posix = DateTimeToLocalTime(*local);
    if (!posix) return false;
    // Only a file that could be opened for writing takes a new time.
    struct stat st {};
    if (::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) != 0 ||
        ::stat(file.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        return false;
    }
    const timespec times[2] = {{0, UTIME_OMIT}, {*posix, 0}};
    return ::utimensat(AT_FDCWD, file.c_str(), times, 0) == 0;
}

}  // namespace tidewell
