#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/FileHandle.h"

namespace tidewell {

// Bytes read once from start to end, their total known before the first read: what a file
// without a path of its own gives (a database read through its engine while a lock keeps it
// still).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The bytes it gives in all.
    virtual std::int64_t Size() = 0;
    // Up to count bytes into buffer, fewer only at the end. A failure raises Exception.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
};

// The bytes of a file that nobody else writes (a copy made for this work), read in order.
class FileByteSource : public ByteSource {
public:
    explicit FileByteSource(const std::string& file);  // raises SystemError
    std::int64_t Size() override { return size_; }
    std::size_t Read(void* buffer, std::size_t count) override;

private:
    std::string file_;
    FileHandle handle_;
    std::int64_t size_ = 0;
};

}  // namespace tidewell
