#include "archive/BlockCodec.h"

#include <zlib.h>

#include <atomic>
#include <cstring>
#include <string>

#ifndef TIDEWELL_PLAIN_ZLIB
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#endif

#include "archive/ArchiveFormat.h"

namespace tidewell::archive {

class BlockDeflater::Engine {
public:
    virtual ~Engine() = default;
    virtual std::int32_t Compress(const unsigned char* in, std::size_t size,
                                  unsigned char* out) = 0;
};

class BlockInflater::Engine {
public:
    virtual ~Engine() = default;
    virtual std::size_t Inflate(const unsigned char* in, std::size_t size, unsigned char* out) = 0;
};

namespace {

std::atomic<const std::string*> faultMarker{nullptr};

[[noreturn]] void Fail(const std::string& what) {
    throw CompressionError("Compression error: " + what);
}

[[noreturn]] void FailZlib(const char* what, int code, const z_stream& stream) {
    std::string text = std::string(what) + " (zlib " + std::to_string(code);
    if (stream.msg) text += std::string(", ") + stream.msg;
    Fail(text + ")");
}

// The library that makes a level's blocks. Measured on a 65 MiB company database, one thread
// (bench/archive/ArchiveLevels.cpp), CPU time and archive size against zlib at the same level:
//   level 1: ISA-L 1, 0.28 of the time, 0.997 of the size (libdeflate 1: 0.44 of the time, 0.983
//            of the size; ISA-L 0 is faster still but 12 % larger, 2 and 3 slower);
//   level 6: libdeflate 6, 0.61 of the time, 1.005 of the size (5 and below are over 1 % larger);
//   level 9: libdeflate 7, 0.75 of the time, 1.001 of the size (6 is faster still but gives up
//            what "max" asks for; 8 and up are slower than zlib);
//   level 0: zlib, whose stored streams are the same either way and keep such archives as
//            they always were; a full block never fits one, so it is stored without asking zlib.
enum class Library { Zlib, Libdeflate, Isal };

struct DeflateMethod {
    Library library = Library::Zlib;
    int level = 0;
};

DeflateMethod MethodFor(int zlibLevel) {
#ifdef TIDEWELL_PLAIN_ZLIB
    return {Library::Zlib, zlibLevel};
#else
    switch (zlibLevel) {
        case 0:
            return {Library::Zlib, 0};
        case 1:
            return {Library::Isal, 1};
        case 9:
            return {Library::Libdeflate, 7};
        default:
            return {Library::Libdeflate, 6};
    }
#endif
}

// The shortest zlib stream that stores n bytes: a 2-byte header, one stored deflate block (a
// 5-byte header and the bytes) and the 4-byte Adler-32.
constexpr std::size_t kStoredStreamOverhead = 2 + 5 + 4;

// Whether zlib at level 0 is asked at all. A build with zlib alone asks it for every block, as
// the comparison it is made for; elsewhere a block too long for any stored stream to fit is
// stored at once, which is what zlib would answer.
constexpr bool kStoreHopelessBlocksDirectly =
#ifdef TIDEWELL_PLAIN_ZLIB
    false;
#else
    true;
#endif

class ZlibDeflate final : public BlockDeflater::Engine {
public:
    explicit ZlibDeflate(int level) : storedOnly_(level == 0 && kStoreHopelessBlocksDirectly) {
        const int rc = deflateInit2(&stream_, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
        if (rc != Z_OK) FailZlib("cannot set up deflate", rc, stream_);
    }
    ~ZlibDeflate() override { deflateEnd(&stream_); }

    // One stream serves every block: deflateReset gives the same bytes as a fresh stream per
    // block without paying for its set-up each time.
    std::int32_t Compress(const unsigned char* in, std::size_t size, unsigned char* out) override {
        if (storedOnly_ && size + kStoredStreamOverhead > kBlockSize) {
            return -static_cast<std::int32_t>(size);
        }
        const int reset = deflateReset(&stream_);
        if (reset != Z_OK) FailZlib("cannot reset deflate", reset, stream_);
        stream_.next_in = const_cast<unsigned char*>(in);
        stream_.avail_in = static_cast<uInt>(size);
        stream_.next_out = out;
        stream_.avail_out = static_cast<uInt>(kBlockSize);
        const int rc = deflate(&stream_, Z_FINISH);
        if (rc == Z_STREAM_END) return static_cast<std::int32_t>(kBlockSize - stream_.avail_out);
        // Out of room: the zlib stream would be longer than a block, so the bytes go in as they
        // are.
        if ((rc == Z_OK || rc == Z_BUF_ERROR) && stream_.avail_out == 0) {
            return -static_cast<std::int32_t>(size);
        }
        FailZlib("deflate failed", rc, stream_);
    }

private:
    const bool storedOnly_;  // level 0: zlib only makes stored streams
    z_stream stream_{};
};

class ZlibInflate final : public BlockInflater::Engine {
public:
    ZlibInflate() {
        const int rc = inflateInit2(&stream_, 15);
        if (rc != Z_OK) FailZlib("cannot set up inflate", rc, stream_);
    }
    ~ZlibInflate() override { inflateEnd(&stream_); }

    std::size_t Inflate(const unsigned char* in, std::size_t size, unsigned char* out) override {
        const int reset = inflateReset(&stream_);
        if (reset != Z_OK) FailZlib("cannot reset inflate", reset, stream_);
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
            if (stream_.avail_out == 0)
                FailZlib("a block inflates to more than 16384 bytes", rc, stream_);
        }
        if (rc != Z_STREAM_END) FailZlib("a block does not inflate", rc, stream_);
        return static_cast<std::size_t>(stream_.total_out);
    }

private:
    z_stream stream_{};
};

#ifndef TIDEWELL_PLAIN_ZLIB

class LibdeflateDeflate final : public BlockDeflater::Engine {
public:
    explicit LibdeflateDeflate(int level) : compressor_(libdeflate_alloc_compressor(level)) {
        if (!compressor_) Fail("cannot set up libdeflate at level " + std::to_string(level));
    }
    ~LibdeflateDeflate() override { libdeflate_free_compressor(compressor_); }

    std::int32_t Compress(const unsigned char* in, std::size_t size, unsigned char* out) override {
        // 0 means the stream does not fit in a block, the very case in which a block is stored.
        const std::size_t length = libdeflate_zlib_compress(compressor_, in, size, out, kBlockSize);
        return length > 0 ? static_cast<std::int32_t>(length) : -static_cast<std::int32_t>(size);
    }

private:
    libdeflate_compressor* compressor_;
};

// ISA-L's igzip makes the zlib stream of a block in one stateless call. Its buffer holds the
// tokens of a whole block; with less it cuts the block into several deflate blocks, slower and
// larger.
class IsalDeflate final : public BlockDeflater::Engine {
public:
    explicit IsalDeflate(int level)
        : level_(level),
          stream_(std::make_unique<isal_zstream>()),
          levelBuffer_(std::make_unique<std::uint8_t[]>(kLevelBufferSize)) {
        if (level != 1) Fail("ISA-L is only set up for level 1, not " + std::to_string(level));
    }

    std::int32_t Compress(const unsigned char* in, std::size_t size, unsigned char* out) override {
        isal_zstream& s = *stream_;
        isal_deflate_stateless_init(&s);
        s.level = static_cast<std::uint32_t>(level_);
        s.level_buf = levelBuffer_.get();
        s.level_buf_size = kLevelBufferSize;
        s.gzip_flag = IGZIP_ZLIB;
        s.flush = NO_FLUSH;
        s.end_of_stream = 1;
        s.next_in = const_cast<unsigned char*>(in);
        s.avail_in = static_cast<std::uint32_t>(size);
        s.next_out = out;
        s.avail_out = static_cast<std::uint32_t>(kBlockSize);
        const int rc = isal_deflate_stateless(&s);
        if (rc == COMP_OK) return static_cast<std::int32_t>(s.total_out);
        // The stream does not fit in a block: the bytes go in as they are.
        if (rc == STATELESS_OVERFLOW) return -static_cast<std::int32_t>(size);
        Fail("deflate failed (ISA-L " + std::to_string(rc) + ")");
    }

private:
    static constexpr auto kLevelBufferSize =
        static_cast<std::uint32_t>(ISAL_DEF_LVL1_REQ + ISAL_DEF_LVL1_TOKEN_SIZE * kBlockSize);

    const int level_;
    std::unique_ptr<isal_zstream> stream_;  // some 80 KiB: not on a worker's stack
    std::unique_ptr<std::uint8_t[]> levelBuffer_;
};

// Stops at the end of the zlib stream like zlib's one-call inflate, checks the Adler-32, and
// refuses output beyond the room given.
class LibdeflateInflate final : public BlockInflater::Engine {
public:
    LibdeflateInflate() : decompressor_(libdeflate_alloc_decompressor()) {
        if (!decompressor_) Fail("cannot set up libdeflate for inflating");
    }
    ~LibdeflateInflate() override { libdeflate_free_decompressor(decompressor_); }

    std::size_t Inflate(const unsigned char* in, std::size_t size, unsigned char* out) override {
        std::size_t produced = 0;
        switch (libdeflate_zlib_decompress(decompressor_, in, size, out, kBlockSize, &produced)) {
            case LIBDEFLATE_SUCCESS:
                return produced;
            case LIBDEFLATE_INSUFFICIENT_SPACE:
                Fail("a block inflates to more than 16384 bytes (libdeflate)");
            default:
                Fail("a block does not inflate (libdeflate: broken or incomplete stream)");
        }
    }

private:
    libdeflate_decompressor* decompressor_;
};

#endif

}  // namespace

BlockDeflater::BlockDeflater(int zlibLevel) {
    const DeflateMethod method = MethodFor(zlibLevel);
    switch (method.library) {
#ifndef TIDEWELL_PLAIN_ZLIB
        case Library::Libdeflate:
            engine_ = std::make_unique<LibdeflateDeflate>(method.level);
            return;
        case Library::Isal:
            engine_ = std::make_unique<IsalDeflate>(method.level);
            return;
#endif
        default:
            engine_ = std::make_unique<ZlibDeflate>(method.level);
    }
}

BlockDeflater::~BlockDeflater() = default;

std::int32_t BlockDeflater::Compress(const unsigned char* in, std::size_t size,
                                     unsigned char* out) {
    if (const std::string* marker = faultMarker.load()) {
        if (size >= marker->size() && std::memcmp(in, marker->data(), marker->size()) == 0) {
            Fail("deflate failed (injected fault)");
        }
    }
    return engine_->Compress(in, size, out);
}

// libdeflate inflates the same blocks in well under half of zlib's time (ArchiveLevels.cpp).
BlockInflater::BlockInflater() {
#ifdef TIDEWELL_PLAIN_ZLIB
    engine_ = std::make_unique<ZlibInflate>();
#else
    engine_ = std::make_unique<LibdeflateInflate>();
#endif
}

BlockInflater::~BlockInflater() = default;

std::size_t BlockInflater::Inflate(const unsigned char* in, std::size_t size, unsigned char* out) {
    return engine_->Inflate(in, size, out);
}

std::string DeflateMethodName(int zlibLevel) {
    const DeflateMethod method = MethodFor(zlibLevel);
    const char* names[] = {"zlib ", "libdeflate ", "ISA-L "};
    return names[static_cast<int>(method.library)] + std::to_string(method.level);
}

ScopedCompressionFault::ScopedCompressionFault(std::string marker) : marker_(std::move(marker)) {
    faultMarker.store(&marker_);
}

ScopedCompressionFault::~ScopedCompressionFault() {
    faultMarker.store(nullptr);
}

}  // namespace tidewell::archive
