// Which library makes the blocks of each compression level: zlib, libdeflate and ISA-L at every
// level over the same 16 384-byte blocks of a database-like file, one thread, with the archive size
// the format's rule gives (a block whose zlib stream does not fit in 16 384 bytes is stored). Also
// inflating those blocks with zlib and libdeflate.
//
//   archive_levels [--megabytes N] [FILE]
//
// Without FILE a database of N MiB (default 64) is made in /dev/shm (or the temporary folder).
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <stdlib.h>
#include <time.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BenchDatabase.h"
#include "platform/TempFolder.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBlock = 16384;

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Least CPU time of three runs: on one thread CPU time is what the work costs, whatever else the
// machine is doing.
double BestCpu(const std::function<void()>& work) {
    double best = 1e30;
    for (int run = 0; run < 3; ++run) {
        const double start = CpuSeconds();
        work();
        best = std::min(best, CpuSeconds() - start);
    }
    return best;
}

struct Packed {
    std::vector<std::string> blocks;  // empty string: stored
    std::int64_t archiveBytes = 0;    // length fields and block bytes
};

Packed PackZlib(const std::string& data, int level) {
    Packed packed;
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
    std::string out(kBlock, '\0');
    for (std::size_t at = 0; at < data.size(); at += kBlock) {
        const std::size_t n = std::min(kBlock, data.size() - at);
        deflateReset(&z);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + at));
        z.avail_in = static_cast<uInt>(n);
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = kBlock;
        const bool fits = deflate(&z, Z_FINISH) == Z_STREAM_END;
        packed.blocks.push_back(fits ? out.substr(0, kBlock - z.avail_out) : std::string());
        packed.archiveBytes += 4 + static_cast<std::int64_t>(fits ? kBlock - z.avail_out : n);
    }
    deflateEnd(&z);
    return packed;
}

Packed PackLibdeflate(const std::string& data, int level) {
    Packed packed;
    libdeflate_compressor* c = libdeflate_alloc_compressor(level);
    std::string out(kBlock, '\0');
    for (std::size_t at = 0; at < data.size(); at += kBlock) {
        const std::size_t n = std::min(kBlock, data.size() - at);
        const std::size_t size =
            libdeflate_zlib_compress(c, data.data() + at, n, out.data(), kBlock);
        packed.blocks.push_back(out.substr(0, size));
        packed.archiveBytes += 4 + static_cast<std::int64_t>(size ? size : n);
    }
    libdeflate_free_compressor(c);
    return packed;
}

// ISA-L's igzip, one stateless call per block into a zlib stream, as the component calls it.
Packed PackIsal(const std::string& data, int level) {
    Packed packed;
    const std::uint32_t bufferSizes[] = {0, ISAL_DEF_LVL1_SMALL, ISAL_DEF_LVL2_SMALL,
                                         ISAL_DEF_LVL3_SMALL};
    std::vector<std::uint8_t> levelBuffer(bufferSizes[level]);
    auto stream = std::make_unique<isal_zstream>();
    std::string out(kBlock, '\0');
    for (std::size_t at = 0; at < data.size(); at += kBlock) {
        const std::size_t n = std::min(kBlock, data.size() - at);
        isal_deflate_stateless_init(stream.get());
        stream->level = static_cast<std::uint32_t>(level);
        stream->level_buf = levelBuffer.data();
        stream->level_buf_size = bufferSizes[level];
        stream->gzip_flag = IGZIP_ZLIB;
        stream->end_of_stream = 1;
        stream->next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(data.data() + at));
        stream->avail_in = static_cast<std::uint32_t>(n);
        stream->next_out = reinterpret_cast<std::uint8_t*>(out.data());
        stream->avail_out = kBlock;
        const bool fits = isal_deflate_stateless(stream.get()) == COMP_OK;
        packed.blocks.push_back(fits ? out.substr(0, stream->total_out) : std::string());
        packed.archiveBytes += 4 + static_cast<std::int64_t>(fits ? stream->total_out : n);
    }
    return packed;
}

void InflateZlib(const Packed& packed, std::string& out) {
    z_stream z{};
    inflateInit2(&z, 15);
    for (const std::string& block : packed.blocks) {
        if (block.empty()) continue;
        inflateReset(&z);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(block.data()));
        z.avail_in = static_cast<uInt>(block.size());
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = kBlock;
        if (inflate(&z, Z_NO_FLUSH) != Z_STREAM_END) std::abort();
    }
    inflateEnd(&z);
}

void InflateLibdeflate(const Packed& packed, std::string& out) {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    for (const std::string& block : packed.blocks) {
        if (block.empty()) continue;
        std::size_t produced = 0;
        if (libdeflate_zlib_decompress(d, block.data(), block.size(), out.data(), kBlock,
                                       &produced) != LIBDEFLATE_SUCCESS) {
            std::abort();
        }
    }
    libdeflate_free_decompressor(d);
}

}  // namespace

int main(int argc, char** argv) {
    std::int64_t megabytes = 64;
    fs::path file;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--megabytes" && i + 1 < argc) {
            megabytes = std::stoll(argv[++i]);
        } else {
            file = arg;
        }
    }
    fs::path made;
    if (file.empty()) {
        const fs::path base =
            fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : tidewell::SystemTempFolder();
        made = file = base / ("tidewell-levels-" + std::to_string(::getpid()) + ".mdb");
        tidewell::bench::MakeDatabase(file, megabytes * 1024 * 1024);
    }
    std::string data(fs::file_size(file), '\0');
    std::ifstream(file, std::ios::binary)
        .read(data.data(), static_cast<std::streamsize>(data.size()));
    if (!made.empty()) fs::remove(made);
    const double mib = static_cast<double>(data.size()) / (1024.0 * 1024.0);
    std::printf("file: %.1f MiB, %zu blocks; one thread, CPU seconds (least of 3)\n\n", mib,
                (data.size() + kBlock - 1) / kBlock);

    std::string out(kBlock, '\0');
    for (const int zlibLevel : {1, 0, 6, 9}) {
        Packed zlibPacked;
        const double zlibCpu = BestCpu([&] { zlibPacked = PackZlib(data, zlibLevel); });
        const double zlibInflate = BestCpu([&] { InflateZlib(zlibPacked, out); });
        const double libInflate = BestCpu([&] { InflateLibdeflate(zlibPacked, out); });
        std::printf(
            "zlib level %d: %8.3f s  %7.1f MiB/s  archive %11lld bytes   inflate: zlib %.3f s, "
            "libdeflate %.3f s\n",
            zlibLevel, zlibCpu, mib / zlibCpu, static_cast<long long>(zlibPacked.archiveBytes),
            zlibInflate, libInflate);
        for (int level = 0; level <= 12; ++level) {
            Packed packed;
            const double cpu = BestCpu([&] { packed = PackLibdeflate(data, level); });
            const double ratio = static_cast<double>(packed.archiveBytes) /
                                 static_cast<double>(zlibPacked.archiveBytes);
            const double zInflate = BestCpu([&] { InflateZlib(packed, out); });
            const double lInflate = BestCpu([&] { InflateLibdeflate(packed, out); });
            std::printf(
                "  libdeflate %2d: %8.3f s (%.2f of zlib's)  size %.4f of zlib's%s%s   inflate: "
                "zlib %.3f s, libdeflate %.3f s\n",
                level, cpu, cpu / zlibCpu, ratio, cpu < zlibCpu ? "  faster" : "",
                ratio <= 1.01 ? "  within 1%" : "", zInflate, lInflate);
        }
        for (int level = 0; level <= 3; ++level) {
            Packed packed;
            const double cpu = BestCpu([&] { packed = PackIsal(data, level); });
            const double ratio = static_cast<double>(packed.archiveBytes) /
                                 static_cast<double>(zlibPacked.archiveBytes);
            const double zInflate = BestCpu([&] { InflateZlib(packed, out); });
            const double lInflate = BestCpu([&] { InflateLibdeflate(packed, out); });
            std::printf(
                "  ISA-L      %2d: %8.3f s (%.2f of zlib's)  size %.4f of zlib's%s%s   inflate: "
                "zlib %.3f s, libdeflate %.3f s\n",
                level, cpu, cpu / zlibCpu, ratio, cpu < zlibCpu ? "  faster" : "",
                ratio <= 1.01 ? "  within 1%" : "", zInflate, lInflate);
        }
        std::printf("\n");
    }
    return 0;
}
