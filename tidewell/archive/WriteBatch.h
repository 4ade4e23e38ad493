#pragma once

#include <cstddef>
#include <memory>

#include "archive/FileStream.h"

namespace tidewell::archive {

// Gathers what a restore writes into a target and hands it on in large writes instead of one per
// block. The bytes reach the target in order; Flush() hands on the rest and must come before
// anyone else looks at the target (OnFileRestored, its time, its closing). The room is allocated
// once and serves every target of an operation.
class WriteBatch {
public:
    static constexpr std::size_t kSize = 1024 * 1024;

    WriteBatch() = default;
    WriteBatch(const WriteBatch&) = delete;
    WriteBatch& operator=(const WriteBatch&) = delete;

    // Starts gathering for target; what was gathered for another target must have been flushed.
    void Begin(TFileStream& target);
    // Raises as TFileStream::Write does when a write fails (a full disk); the bytes gathered with
    // the failed write are dropped.
    void Write(const void* data, std::size_t count);
    void Flush();
    // Flushes, and lets a failure go: for the way out of an error that is reported already.
    void FlushQuietly() noexcept;

private:
    TFileStream* target_ = nullptr;
    std::unique_ptr<unsigned char[]> room_;
    std::size_t used_ = 0;
};

}  // namespace tidewell::archive
