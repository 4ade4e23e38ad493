#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>

namespace tidewell::archive {

// One deflate stream serves every block of an operation: deflateReset gives the same bytes as a
// fresh stream per block without paying for its set-up each time.
class BlockDeflater {
public:
    explicit BlockDeflater(int level);  // raises CompressionError
    BlockDeflater(const BlockDeflater&) = delete;
    BlockDeflater& operator=(const BlockDeflater&) = delete;
    ~BlockDeflater();

    // Packs size (at most kBlockSize) bytes. Returns the block's length field: the zlib stream's
    // length, its bytes in out (kBlockSize bytes of room), when it fits; else minus size, and
    // the block is stored as it is. Raises CompressionError.
    std::int32_t Compress(const unsigned char* in, std::size_t size, unsigned char* out);

private:
    z_stream stream_{};
};

class BlockInflater {
public:
    BlockInflater();  // raises CompressionError
    BlockInflater(const BlockInflater&) = delete;
    BlockInflater& operator=(const BlockInflater&) = delete;
    ~BlockInflater();

    // Unpacks one complete zlib stream into out (kBlockSize bytes of room) and returns the
    // number of bytes. A stream that is broken, incomplete or longer than a block raises
    // CompressionError.
    std::size_t Inflate(const unsigned char* in, std::size_t size, unsigned char* out);

private:
    z_stream stream_{};
};

}  // namespace tidewell::archive
