#include "archive/WriteBatch.h"

#include <cstring>
#include <utility>

namespace tidewell::archive {

void WriteBatch::Begin(TFileStream& target) {
    target_ = &target;
    used_ = 0;
    if (!room_) room_ = std::make_unique_for_overwrite<unsigned char[]>(kSize);
}

void WriteBatch::Write(const void* data, std::size_t count) {
    if (used_ + count > kSize) Flush();
    if (count >= kSize) {
        target_->Write(data, count);
        return;
    }
    std::memcpy(room_.get() + used_, data, count);
    used_ += count;
}

void WriteBatch::Flush() {
    if (used_ == 0) return;
    target_->Write(room_.get(), std::exchange(used_, 0));
}

void WriteBatch::FlushQuietly() noexcept {
    try {
        Flush();
    } catch (...) {
        // The failure that led here is the one reported.
    }
}

}  // namespace tidewell::archive
