#include "gateway/Streams.h"

#include <algorithm>
#include <cstring>

namespace tidewell {

void MemoryBody::Seek(std::uint64_t position) {
    position_ = static_cast<std::size_t>(std::min<std::uint64_t>(position, bytes_.size()));
}

std::size_t MemoryBody::Read(char* buffer, std::size_t count) {
    const std::size_t n = std::min(count, bytes_.size() - position_);
    std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    return n;
}

}  // namespace tidewell
