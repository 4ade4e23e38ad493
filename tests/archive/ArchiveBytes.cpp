#include "ArchiveBytes.h"

#include <zlib.h>

#include <stdexcept>

namespace tidewell::test {

ArchiveBytes& ArchiveBytes::Int32(std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes_ += static_cast<char>((bits >> (8 * i)) & 0xFF);
    return *this;
}

ArchiveBytes& ArchiveBytes::Raw(std::string_view bytes) {
    bytes_ += bytes;
    return *this;
}

ArchiveBytes& ArchiveBytes::Text(std::string_view bytes) {
    return Int32(static_cast<std::int32_t>(bytes.size())).Raw(bytes);
}

ArchiveBytes& ArchiveBytes::Header(std::string_view title, std::int32_t totalSize,
                                   std::int32_t fileCount) {
    return Text(title).Int32(totalSize).Int32(fileCount);
}

ArchiveBytes& ArchiveBytes::Member(std::string_view name, std::int32_t date) {
    return Text(name).Int32(date);
}

ArchiveBytes& ArchiveBytes::Signature() { return Raw(std::string_view("EC2\0", 4)); }

ArchiveBytes& ArchiveBytes::Stored(std::string_view data) {
    return Int32(-static_cast<std::int32_t>(data.size())).Raw(data);
}

ArchiveBytes& ArchiveBytes::Compressed(std::string_view data, int level) {
    const std::string block = FreshZlibBlock(data, level);
    if (block.empty()) throw std::logic_error("the block does not compress into one block");
    return Text(block);
}

std::string FreshZlibBlock(std::string_view data, int level) {
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    std::string out(16384, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&stream, Z_FINISH);
    out.resize(rc == Z_STREAM_END ? stream.total_out : 0);
    deflateEnd(&stream);
    return out;
}

std::string InflateLikeTheFormatsReaders(std::string_view block) {
    z_stream stream{};
    if (inflateInit2(&stream, 15) != Z_OK) throw std::runtime_error("inflateInit2");
    std::string out(16384, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(block.data()));
    stream.avail_in = static_cast<uInt>(block.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&stream, Z_NO_FLUSH);
    out.resize(stream.total_out);
    inflateEnd(&stream);
    if (rc != Z_STREAM_END) throw std::runtime_error("a block does not inflate in one call");
    return out;
}

testing::AssertionResult IsBlockOf(std::string_view block, std::string_view source, int zlibLevel) {
    std::string inflated;
    try {
        inflated = InflateLikeTheFormatsReaders(block);
    } catch (const std::exception& e) {
        return testing::AssertionFailure() << e.what();
    }
    if (inflated != source) return testing::AssertionFailure() << "the block inflates to other bytes";
#ifdef TIDEWELL_PLAIN_ZLIB
    if (block != FreshZlibBlock(source, zlibLevel)) {
        return testing::AssertionFailure() << "not the bytes of a fresh zlib stream at level " << zlibLevel;
    }
#else
    (void)zlibLevel;
#endif
    return testing::AssertionSuccess();
}

std::int32_t ArchiveWalk::Int32() {
    const std::string b = Raw(4);
    std::uint32_t bits = 0;
    for (int i = 3; i >= 0; --i) bits = (bits << 8) | static_cast<unsigned char>(b[i]);
    return static_cast<std::int32_t>(bits);
}

std::string ArchiveWalk::Raw(std::size_t count) {
    if (position_ + count > bytes_.size()) throw std::out_of_range("past the end of the archive");
    std::string result = bytes_.substr(position_, count);
    position_ += count;
    return result;
}

std::string ArchiveWalk::Text() { return Raw(static_cast<std::size_t>(Int32())); }

std::string ArchiveWalk::BlockList() {
    if (Raw(4) != std::string_view("EC2\0", 4)) throw std::runtime_error("no signature");
    std::string data;
    for (std::int32_t n = Int32(); n != 0; n = Int32()) {
        const std::string block = Raw(static_cast<std::size_t>(n < 0 ? -n : n));
        if (n < 0) {
            data += block;
            continue;
        }
        data += InflateLikeTheFormatsReaders(block);
    }
    return data;
}

}  // namespace tidewell::test
