#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tidewell::archive {

// Makes the blocks of one operation. Every block is one complete zlib stream, whichever library
// writes it: ISA-L at the fastest level, zlib's own deflate without compaction, libdeflate
// elsewhere (see BlockCodec.cpp for the table), or zlib alone in a build with
// TIDEWELL_PLAIN_ZLIB. One object serves every block; it is not shared between threads.
class BlockDeflater {
public:
    explicit BlockDeflater(int zlibLevel);  // 1, 0, -1 or 9; raises CompressionError
    BlockDeflater(const BlockDeflater&) = delete;
    BlockDeflater& operator=(const BlockDeflater&) = delete;
    ~BlockDeflater();

    // Packs size (at most kBlockSize) bytes. Returns the block's length field: the zlib stream's
    // length, its bytes in out (kBlockSize bytes of room), when it fits; else minus size, and
    // the block is stored as it is. Raises CompressionError.
    std::int32_t Compress(const unsigned char* in, std::size_t size, unsigned char* out);

    class Engine;

private:
    std::unique_ptr<Engine> engine_;
};

// Unpacks blocks with the same checks whichever library does it: one complete zlib stream
// (header, data, Adler-32) that ends within the block's bytes and inflates to at most
// kBlockSize bytes. Not shared between threads.
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

    class Engine;

private:
    std::unique_ptr<Engine> engine_;
};

// Which library makes blocks at zlibLevel in this build ("zlib 6", "ISA-L 1"), for the
// benchmarks' printout.
std::string DeflateMethodName(int zlibLevel);

// Fault injection for tests: while an object lives, compressing a block whose bytes begin with
// marker fails as a broken compressor would. Blocks are compressed on worker threads, so the
// block is picked by its content, not by the order in which blocks happen to be compressed.
class ScopedCompressionFault {
public:
    explicit ScopedCompressionFault(std::string marker);
    ScopedCompressionFault(const ScopedCompressionFault&) = delete;
    ScopedCompressionFault& operator=(const ScopedCompressionFault&) = delete;
    ~ScopedCompressionFault();

private:
    std::string marker_;
};

}  // namespace tidewell::archive
