#include "gateway/Streams.h"

#include <algorithm>
#include <cstring>

#include "platform/Error.h"

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

void MemorySink::Write(const char* data, std::size_t count) {
    if (count > limit_ - bytes_.size()) {
        throw Exception("서버의 응답이 너무 깁니다 (" + std::to_string(limit_) + "바이트 초과).");
    }
    bytes_.append(data, count);
}

}  // namespace tidewell
