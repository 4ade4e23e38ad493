#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace tidewell::test {

// Archive bytes written field by field from the format description, independently of the
// component, so the tests can hand it archives from elsewhere and take its own apart.
class ArchiveBytes {
public:
    ArchiveBytes& Int32(std::int32_t value);
    ArchiveBytes& Raw(std::string_view bytes);
    ArchiveBytes& Text(std::string_view bytes);  // int32 length, then the bytes
    ArchiveBytes& Header(std::string_view title, std::int32_t totalSize, std::int32_t fileCount);
    ArchiveBytes& Member(std::string_view name, std::int32_t date);
    ArchiveBytes& Signature();
    ArchiveBytes& Stored(std::string_view data);
    ArchiveBytes& Compressed(std::string_view data, int level = -1);
    ArchiveBytes& Terminator() { return Int32(0); }
    ArchiveBytes& EndMarker() { return Int32(0); }
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// One block made the way the format describes it: a fresh deflate stream, one call with finish
// into 16 384 bytes of room. Empty when the stream does not fit (the block is stored).
std::string FreshZlibBlock(std::string_view data, int level);

// A compressed block as the format's readers take it: zlib's inflate, window bits 15, one call
// into 16 384 bytes of room, and the stream must end there. Raises when it does not.
std::string InflateLikeTheFormatsReaders(std::string_view block);

// A compressed block written by the component for source at zlibLevel: zlib's one-call inflate
// gives source back, and a build with zlib alone wrote the very bytes of a fresh zlib stream.
testing::AssertionResult IsBlockOf(std::string_view block, std::string_view source, int zlibLevel);

// Reads archive bytes field by field.
class ArchiveWalk {
public:
    explicit ArchiveWalk(std::string bytes) : bytes_(std::move(bytes)) {}
    std::int32_t Int32();
    std::string Raw(std::size_t count);
    std::string Text();
    // A block list (signature to terminator); returns its data, inflated.
    std::string BlockList();
    bool AtEnd() const { return position_ == bytes_.size(); }
    std::size_t position() const { return position_; }

private:
    std::string bytes_;
    std::size_t position_ = 0;
};

}  // namespace tidewell::test
