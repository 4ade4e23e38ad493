#pragma once
// The floors a stage of a transfer is held against: what the same bytes cost with nothing but
// the unavoidable work (a plain copy of the file, the block library on every core with the file
// already in memory). Wall seconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "archive/ArchiveFormat.h"
#include "archive/BlockCodec.h"

namespace tidewell::bench {

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// What `cp` does: the file read and written a megabyte at a time, nothing synced.
inline double CopyFloorSeconds(const std::filesystem::path& source,
                               const std::filesystem::path& target) {
    const auto start = std::chrono::steady_clock::now();
    {
        std::FILE* in = std::fopen(source.c_str(), "rb");
        std::FILE* out = std::fopen(target.c_str(), "wb");
        std::vector<char> buffer(1 << 20);
        for (std::size_t n; in && out && (n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0;)
            std::fwrite(buffer.data(), 1, n, out);
        if (in) std::fclose(in);
        if (out) std::fclose(out);
    }
    const double seconds = SecondsSince(start);
    std::filesystem::remove(target);
    return seconds;
}

// Every block of the file through the block library at the archive's default level, on every
// core, with the file in memory (the reading is not timed).
inline double PackFloorSeconds(const std::filesystem::path& source) {
    std::ifstream in(source, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t blocks = (data.size() + archive::kBlockSize - 1) / archive::kBlockSize;
    const std::size_t threads = std::max(1u, std::thread::hardware_concurrency());
    const auto start = std::chrono::steady_clock::now();
    {
        std::vector<std::jthread> workers;
        for (std::size_t t = 0; t < threads; ++t) {
            workers.emplace_back([&, t] {
                archive::BlockDeflater deflater(-1);
                std::vector<unsigned char> out(archive::kBlockSize);
                for (std::size_t b = t; b < blocks; b += threads) {
                    const std::size_t n =
                        std::min(archive::kBlockSize, data.size() - b * archive::kBlockSize);
                    deflater.Compress(reinterpret_cast<const unsigned char*>(data.data()) +
                                          b * archive::kBlockSize,
                                      n, out.data());
                }
            });
        }
    }
    return SecondsSince(start);
}

}  // namespace tidewell::bench
