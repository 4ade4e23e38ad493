#include "archive/BlockCodec.h"

#include <string>

#include "archive/ArchiveFormat.h"

namespace tidewell::archive {
namespace {

[[noreturn]] void Fail(const char* what, int code, const z_stream& stream) {
    std::string text = std::string("Compression error: ") + what + " (zlib " + std::to_string(code);
    if (stream.msg) text += std::string(", ") + stream.msg;
    throw CompressionError(text + ")");
}

}  // namespace

BlockDeflater::BlockDeflater(int level) {
    const int rc = deflateInit2(&stream_, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
    if (rc != Z_OK) Fail("cannot set up deflate", rc, stream_);
}

BlockDeflater::~BlockDeflater() { deflateEnd(&stream_); }

std::int32_t BlockDeflater::Compress(const unsigned char* in, std::size_t size, unsigned char* out) {
    const int reset = deflateReset(&stream_);
    if (reset != Z_OK) Fail("cannot reset deflate", reset, stream_);
    stream_.next_in = const_cast<unsigned char*>(in);
    stream_.avail_in = static_cast<uInt>(size);
    stream_.next_out = out;
    stream_.avail_out = static_cast<uInt>(kBlockSize);
    const int rc = deflate(&stream_, Z_FINISH);
    if (rc == Z_STREAM_END) return static_cast<std::int32_t>(kBlockSize - stream_.avail_out);
    // Out of room: the zlib stream would be longer than a block, so the bytes go in as they are.
    if ((rc == Z_OK || rc == Z_BUF_ERROR) && stream_.avail_out == 0) {
        return -static_cast<std::int32_t>(size);
    }
    Fail("deflate failed", rc, stream_);
}

BlockInflater::BlockInflater() {
    const int rc = inflateInit2(&stream_, 15);
    if (rc != Z_OK) Fail("cannot set up inflate", rc, stream_);
}

BlockInflater::~BlockInflater() { inflateEnd(&stream_); }

std::size_t BlockInflater::Inflate(const unsigned char* in, std::size_t size, unsigned char* out) {
    const int reset = inflateReset(&stream_);
    if (reset != Z_OK) Fail("cannot reset inflate", reset, stream_);
    stream_.next_in = const_cast<unsigned char*>(in);
    stream_.avail_in = static_cast<uInt>(size);
    stream_.next_out = out;
    stream_.avail_out = static_cast<uInt>(kBlockSize);
    int rc = inflate(&stream_, Z_NO_FLUSH);
    if (rc != Z_STREAM_END && (rc == Z_OK || rc == Z_BUF_ERROR) && stream_.avail_out == 0) {
        // A full block may still owe its trailer; one more byte of room tells whether the
        // stream ends there or goes on beyond what a block can hold.
        unsigned char probe;
        stream_.next_out = &probe;
        stream_.avail_out = 1;
        rc = inflate(&stream_, Z_NO_FLUSH);
        if (stream_.avail_out == 0) Fail("a block inflates to more than 16384 bytes", rc, stream_);
    }
    if (rc != Z_STREAM_END) Fail("a block does not inflate", rc, stream_);
    return static_cast<std::size_t>(stream_.total_out);
}

}  // namespace tidewell::archive
