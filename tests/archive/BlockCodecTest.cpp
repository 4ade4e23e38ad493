// The blocks as other readers meet them: whichever library makes a block, zlib's one-call inflate
// reads it, and nothing is written past the block's room.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "ArchiveBytes.h"
#include "ArchiveFixture.h"
#include "archive/ArchiveFormat.h"
#include "archive/BlockCodec.h"

namespace tidewell::test {
namespace {

using archive::BlockDeflater;
using archive::kBlockSize;

// The block's room with a guard behind it: a compressor that writes past 16 384 bytes shows
// here, also where the sanitizers do not look (hand-written assembly).
class GuardedRoom {
public:
    static constexpr std::size_t kGuard = 256;
    GuardedRoom() : bytes_(std::make_unique<unsigned char[]>(kBlockSize + kGuard)) {
        std::memset(bytes_.get(), 0xA5, kBlockSize + kGuard);
    }
    unsigned char* data() { return bytes_.get(); }
    bool GuardIntact() const {
        for (std::size_t i = kBlockSize; i < kBlockSize + kGuard; ++i) {
            if (bytes_[i] != 0xA5) return false;
        }
        return true;
    }

private:
    std::unique_ptr<unsigned char[]> bytes_;
};

std::string Shape(const std::string& kind, std::size_t size) {
    if (kind == "random") return RandomBytes(size, static_cast<unsigned>(size));
    if (kind == "zeros") return std::string(size, '\0');
    if (kind == "text") return Compressible(size);
    // Compressible text with random runs: some blocks just fit, some just do not.
    std::string mixed = Compressible(size);
    const std::string noise = RandomBytes(size, 3);
    for (std::size_t at = 0; at < size; at += 64)
        mixed.replace(at, std::min<std::size_t>(40, size - at), noise, at, 40);
    return mixed;
}

TEST(BlockCodec, EveryBlockIsOneZlibStreamThatZlibReadsInOneCall) {
    const std::size_t sizes[] = {
        1, 2, 100, 4096, kBlockSize - 12, kBlockSize - 11, kBlockSize - 1, kBlockSize};
    for (const int zlibLevel : {1, 0, -1, 9}) {
        BlockDeflater deflater(zlibLevel);
        for (const char* kind : {"random", "zeros", "text", "mixed"}) {
            for (const std::size_t size : sizes) {
                SCOPED_TRACE(testing::Message()
                             << kind << ", " << size << " bytes, level " << zlibLevel);
                const std::string source = Shape(kind, size);
                GuardedRoom room;
                const std::int32_t n = deflater.Compress(
                    reinterpret_cast<const unsigned char*>(source.data()), size, room.data());
                EXPECT_TRUE(room.GuardIntact());
                if (n < 0) {
                    // Stored: the caller writes the source as it is.
                    EXPECT_EQ(n, -static_cast<std::int32_t>(size));
                    if (zlibLevel != 0) {
                        EXPECT_FALSE(std::string(kind) == "zeros" || std::string(kind) == "text");
                    }
                    continue;
                }
                ASSERT_LE(n, static_cast<std::int32_t>(kBlockSize));
                const std::string block(reinterpret_cast<const char*>(room.data()),
                                        static_cast<std::size_t>(n));
                EXPECT_TRUE(IsBlockOf(block, source, zlibLevel));
            }
        }
    }
}

// Without compaction a block is a stored zlib stream, or the bytes themselves where that does not
// fit: the very bytes zlib makes at level 0, at every length a block can have.
TEST(BlockCodec, LevelZeroGivesZlibsOwnBytesAtEveryLength) {
    const std::string source = RandomBytes(kBlockSize, 17);
    BlockDeflater deflater(0);
    std::size_t stored = 0;
    for (std::size_t size = 1; size <= kBlockSize; ++size) {
        unsigned char out[kBlockSize];
        const std::int32_t n =
            deflater.Compress(reinterpret_cast<const unsigned char*>(source.data()), size, out);
        const std::string expected = FreshZlibBlock(std::string_view(source).substr(0, size), 0);
        if (expected.empty()) {
            ASSERT_EQ(n, -static_cast<std::int32_t>(size)) << size << " bytes";
            ++stored;
        } else {
            ASSERT_EQ(std::string(reinterpret_cast<const char*>(out),
                                  static_cast<std::size_t>(std::max(n, 0))),
                      expected)
                << size << " bytes";
        }
    }
    // zlib's stored stream takes 11 bytes beyond the data.
    EXPECT_EQ(stored, 11u);
}

}  // namespace
}  // namespace tidewell::test
