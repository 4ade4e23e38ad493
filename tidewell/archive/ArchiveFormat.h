#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Error.h"

namespace tidewell::archive {

// The .bck byte format. Every number is a little-endian int32; every text is CP949 bytes behind
// their int32 length.
inline constexpr std::size_t kBlockSize = 16384;
// A block is only started while the disk file has this much room left below MaxSize.
inline constexpr std::int64_t kBlockReserve = kBlockSize + 100;
inline constexpr std::string_view kSignature{"EC2\0", 4};
inline constexpr std::string_view kFileListName = "FILE:LIST";
inline constexpr std::string_view kNextDiskPrefix = "NEXT:DISK";
inline constexpr std::size_t kNextDiskRecordLength = 12;  // prefix and three digits
inline constexpr std::string_view kStreamName = ":STREAM";
// Stored names are paths; anything longer is damage, and must not size an allocation.
inline constexpr std::int32_t kMaxNameLength = 32768;
// Disk files are named .002 to .999; going further would overwrite the archive's own files.
inline constexpr unsigned kLastDisk = 999;

// "002" for disk 2: the last three digits, as the next-disk record and the file name carry them.
std::string DiskSuffix(unsigned disk);
// The archive name with its extension replaced by "." + suffix (x.bck -> x.002).
std::string DiskFileName(const std::string& archiveName, std::string_view suffix);

// A damaged, truncated or hostile archive, or a failure to read or write one. Some failures keep
// a fixed, well-known text ("Cannot read archive") and say what happened in Detail().
class ArchiveError : public Exception {
public:
    explicit ArchiveError(const std::string& message, std::string detail = {})
        : Exception(message), detail_(std::move(detail)) {}
    std::string Detail() const { return detail_.empty() ? what() : detail_; }

private:
    std::string detail_;
};

// zlib refused a block, or a block does not inflate to what the format allows.
class CompressionError : public ArchiveError {
public:
    using ArchiveError::ArchiveError;
};

}  // namespace tidewell::archive
