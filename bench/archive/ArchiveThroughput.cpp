// Throughput of packing and restoring a database-like file, measured in one run on the same file
// against today's sequential component (the same sources built with zlib alone, one thread), the
// bare zlib loops over the same 16 384-byte blocks, pigz, gzip and zstd, and against the floors:
// what the block library alone does on as many threads with the data in memory (packing, and
// inflating for restoring) and a plain copy of the file (what a restore must write at least).
// Every contender runs as a process of its own, so each one's wall time, CPU time and peak memory
// are its own; the floors time their work in memory only. The load average is printed beside
// them, since the machine may be shared.
//
//   archive_throughput [--megabytes N] [--large-megabytes N] [--runs N] [--threads N]
//                      [--level fastest|none|default|max] [--wait-load LOAD] [FOLDER]
//
// FOLDER holds the work files (default: /dev/shm when there is one, else the temporary folder),
// so the figures measure the component rather than the disk. --level is the Backup's compression
// level (default: default). --large-megabytes (default 1024, 0: none) packs and restores a file
// of that size once more, to show that memory does not grow with it. --wait-load waits (up to ten
// minutes) until the one-minute load average is below LOAD.
//
// The same program serves as the measured child: archive_throughput --pack FILE ARCHIVE THREADS
// LEVEL, --restore ARCHIVE FOLDER THREADS, --bare-deflate FILE OUT, --bare-inflate IN OUT,
// --floor-deflate FILE LEVEL THREADS, --floor-inflate ARCHIVE THREADS, --floor-copy FILE OUT.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BenchDatabase.h"
#include "BenchMeasures.h"
#include "archive/BlockCodec.h"
#include "archive/backup.h"
#include "platform/TempFolder.h"

namespace fs = std::filesystem;
using namespace tidewell;

namespace {

constexpr std::size_t kBlock = 16384;

// ---- The measured children -------------------------------------------------------------------

struct File {
    File(const fs::path& path, const char* mode) : f(std::fopen(path.c_str(), mode)) {
        if (!f) std::exit(3);
        std::setvbuf(f, nullptr, _IOFBF, 64 * 1024);
    }
    ~File() { std::fclose(f); }
    FILE* f;
};

// What today's Backup does at the least: read 16 KiB, one deflate into 16 KiB, write the length
// and the bytes.
void BareDeflate(const fs::path& source, const fs::path& target, int zlibLevel) {
    File in(source, "rb"), out(target, "wb");
    std::vector<unsigned char> block(kBlock), packed(kBlock);
    z_stream z{};
    deflateInit2(&z, zlibLevel, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
    for (std::size_t n; (n = std::fread(block.data(), 1, kBlock, in.f)) > 0;) {
        deflateReset(&z);
        z.next_in = block.data();
        z.avail_in = static_cast<uInt>(n);
        z.next_out = packed.data();
        z.avail_out = kBlock;
        const bool fits = deflate(&z, Z_FINISH) == Z_STREAM_END;
        const std::int32_t length =
            fits ? static_cast<std::int32_t>(kBlock - z.avail_out) : -static_cast<std::int32_t>(n);
        std::fwrite(&length, 4, 1, out.f);
        std::fwrite(fits ? packed.data() : block.data(), 1, fits ? kBlock - z.avail_out : n, out.f);
    }
    deflateEnd(&z);
}

// What today's Restore does at the least: read a length and its bytes, one inflate, write.
void BareInflate(const fs::path& source, const fs::path& target) {
    File in(source, "rb"), out(target, "wb");
    std::vector<unsigned char> packed(kBlock), block(kBlock);
    z_stream z{};
    inflateInit2(&z, 15);
    for (std::int32_t length; std::fread(&length, 4, 1, in.f) == 1;) {
        const auto n = static_cast<std::size_t>(length < 0 ? -length : length);
        if (std::fread(packed.data(), 1, n, in.f) != n) break;
        if (length < 0) {
            std::fwrite(packed.data(), 1, n, out.f);
            continue;
        }
        inflateReset(&z);
        z.next_in = packed.data();
        z.avail_in = static_cast<uInt>(n);
        z.next_out = block.data();
        z.avail_out = kBlock;
        inflate(&z, Z_NO_FLUSH);
        std::fwrite(block.data(), 1, kBlock - z.avail_out, out.f);
    }
    inflateEnd(&z);
}

std::string ReadWhole(const fs::path& path) {
    std::string data(fs::file_size(path), '\0');
    std::ifstream(path, std::ios::binary)
        .read(data.data(), static_cast<std::streamsize>(data.size()));
    return data;
}

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs work(thread) on threads threads, this one among them, and prints the wall and CPU seconds
// it took: the floors time their work in memory, not the loading before it.
template <typename Work>
void TimeOnThreads(int threads, const Work& work) {
    const double wall = WallSeconds();
    const double cpu = bench::ProcessCpuSeconds();
    {
        std::vector<std::jthread> others;
        for (int t = 1; t < threads; ++t) others.emplace_back([&work, t] { work(t); });
        work(0);
    }
    std::printf("%.6f %.6f\n", WallSeconds() - wall, bench::ProcessCpuSeconds() - cpu);
}

// The block library alone: every block of the file, in memory, on threads threads.
void FloorDeflate(const fs::path& source, int zlibLevel, int threads) {
    const std::string data = ReadWhole(source);
    const std::size_t blocks = (data.size() + kBlock - 1) / kBlock;
    TimeOnThreads(threads, [&](int thread) {
        archive::BlockDeflater deflater(zlibLevel);
        std::vector<unsigned char> out(kBlock);
        for (std::size_t b = static_cast<std::size_t>(thread); b < blocks;
             b += static_cast<std::size_t>(threads)) {
            const std::size_t n = std::min(kBlock, data.size() - b * kBlock);
            deflater.Compress(reinterpret_cast<const unsigned char*>(data.data()) + b * kBlock, n,
                              out.data());
        }
    });
}

// The compressed blocks of a one-disk archive, in order.
std::vector<std::string_view> CompressedBlocks(const std::string& archive) {
    std::size_t at = 0;
    const auto int32 = [&] {
        std::uint32_t bits = 0;
        for (int i = 3; i >= 0; --i) {
            bits = (bits << 8) |
                   static_cast<unsigned char>(archive.at(at + static_cast<std::size_t>(i)));
        }
        at += 4;
        return static_cast<std::int32_t>(bits);
    };
    std::vector<std::string_view> blocks;
    at += static_cast<std::size_t>(int32());  // title
    at += 8;                                  // total size, file count
    for (std::int32_t name = int32(); name != 0; name = int32()) {
        at += static_cast<std::size_t>(name) + 4 + 4;  // name, date, signature
        for (std::int32_t n = int32(); n != 0; n = int32()) {
            const auto length = static_cast<std::size_t>(n < 0 ? -n : n);
            if (n > 0) blocks.push_back(std::string_view(archive).substr(at, length));
            at += length;
        }
    }
    return blocks;
}

// Inflating alone: every compressed block of the archive, in memory, on threads threads.
void FloorInflate(const fs::path& archive, int threads) {
    const std::string data = ReadWhole(archive);
    const std::vector<std::string_view> blocks = CompressedBlocks(data);
    TimeOnThreads(threads, [&](int thread) {
        archive::BlockInflater inflater;
        std::vector<unsigned char> out(kBlock);
        for (std::size_t b = static_cast<std::size_t>(thread); b < blocks.size();
             b += static_cast<std::size_t>(threads)) {
            inflater.Inflate(reinterpret_cast<const unsigned char*>(blocks[b].data()),
                             blocks[b].size(), out.data());
        }
    });
}

// A plain copy of the file: what a restore writes, with nothing to inflate.
void FloorCopy(const fs::path& source, const fs::path& target) {
    File in(source, "rb"), out(target, "wb");
    std::vector<char> buffer(1024 * 1024);
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), in.f)) > 0;) {
        std::fwrite(buffer.data(), 1, n, out.f);
    }
}

TCompressionLevel LevelNamed(const std::string& name) {
    if (name == "fastest") return clFastest;
    if (name == "none") return clNone;
    if (name == "max") return clMax;
    return clDefault;
}

int ZlibLevelOf(TCompressionLevel level) {
    const int levels[] = {1, 0, -1, 9};
    return levels[level];
}

int RunChild(const std::vector<std::string>& args) {
    const std::string& mode = args[0];
    if (mode == "--pack" && args.size() == 5) {
        TBackupFile backup;
        backup.CompressionLevel = LevelNamed(args[4]);
        backup.WorkerThreads = std::stoi(args[3]);
        return backup.Backup({args[1]}, args[2]) ? 0 : 1;
    }
    if (mode == "--restore" && args.size() == 4) {
        TBackupFile backup;
        backup.WorkerThreads = std::stoi(args[3]);
        return backup.Restore(args[1], args[2]) ? 0 : 1;
    }
    if (mode == "--bare-deflate" && args.size() == 4) {
        BareDeflate(args[1], args[2], ZlibLevelOf(LevelNamed(args[3])));
        return 0;
    }
    if (mode == "--bare-inflate" && args.size() == 3) {
        BareInflate(args[1], args[2]);
        return 0;
    }
    if (mode == "--floor-deflate" && args.size() == 4) {
        FloorDeflate(args[1], ZlibLevelOf(LevelNamed(args[2])), std::stoi(args[3]));
        return 0;
    }
    if (mode == "--floor-inflate" && args.size() == 3) {
        FloorInflate(args[1], std::stoi(args[2]));
        return 0;
    }
    if (mode == "--floor-copy" && args.size() == 3) {
        FloorCopy(args[1], args[2]);
        return 0;
    }
    std::fprintf(stderr, "archive_throughput: bad child arguments\n");
    return 2;
}

// ---- Measuring -------------------------------------------------------------------------------

struct Run {
    double wall = 0;  // seconds
    double cpu = 0;   // user and system seconds of the process and its children
    long peakKilobytes = 0;
};

// Runs a program (its output to stdoutFile when given) and measures it. A self-timed program
// prints the wall and CPU seconds of the work it stands for, which then replace the process's.
Run Measure(const std::vector<std::string>& command, const std::optional<fs::path>& stdoutFile = {},
            bool selfTimed = false) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        if (stdoutFile) {
            const int fd = ::open(stdoutFile->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0) ::_exit(126);
            ::close(fd);
        }
        std::vector<char*> argv;
        for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(child, &status, 0, &usage);
    Run run;
    run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peakKilobytes = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "failed (status %d): %s\n", status, command[0].c_str());
        run.wall = run.cpu = -1;
    } else if (selfTimed && stdoutFile) {
        std::ifstream(*stdoutFile) >> run.wall >> run.cpu;
    }
    return run;
}

double OneMinuteLoad() {
    return std::stod(bench::LoadAverage());
}

bool HaveProgram(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

struct Contender {
    std::string label;
    std::vector<std::string> command;
    std::optional<fs::path> stdoutFile;
    fs::path output;  // whose size is the archive size
    std::vector<Run> runs;
    bool selfTimed = false;

    const Run& Best() const {
        return *std::min_element(runs.begin(), runs.end(),
                                 [](const Run& a, const Run& b) { return a.wall < b.wall; });
    }
    double MedianWall() const {
        std::vector<double> walls;
        for (const Run& run : runs) walls.push_back(run.wall);
        std::sort(walls.begin(), walls.end());
        return walls[walls.size() / 2];
    }
};

double Mebibytes(std::uintmax_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

void PrintTable(const char* title, const std::vector<Contender*>& contenders, double sizeMiB,
                int runs) {
    std::printf("\n%s (best of %d; median beside it; CPU = user + system of the best run)\n", title,
                runs);
    std::printf("  %-42s %8s %8s %8s %9s %9s\n", "", "best s", "median s", "CPU s", "MiB/s",
                "peak KiB");
    for (const Contender* c : contenders) {
        const Run& best = c->Best();
        std::printf("  %-42s %8.3f %8.3f %8.3f %9.1f %9ld\n", c->label.c_str(), best.wall,
                    c->MedianWall(), best.cpu, sizeMiB / best.wall, best.peakKilobytes);
    }
}

void Target(const char* what, double value, double bound, bool atLeast) {
    const bool met = atLeast ? value >= bound : value <= bound;
    std::printf("  %-58s %8.3f  (%s %.2f)  %s\n", what, value, atLeast ? ">=" : "<=", bound,
                met ? "met" : "MISSED");
}

// A file of the given size made of copies of the database: realistic blocks, quickly made.
void Replicate(const fs::path& source, const fs::path& target, std::int64_t bytes) {
    std::string data(fs::file_size(source), '\0');
    std::ifstream(source, std::ios::binary)
        .read(data.data(), static_cast<std::streamsize>(data.size()));
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    for (std::int64_t written = 0; written < bytes;
         written += static_cast<std::int64_t>(data.size())) {
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--pack" || args[0] == "--restore" ||
                          args[0].starts_with("--bare-") || args[0].starts_with("--floor-"))) {
        return RunChild(args);
    }

    std::int64_t megabytes = 64, largeMegabytes = 1024;
    int runs = 3, threads = 0;
    std::string levelName = "default";
    double waitLoad = 0;
    fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : SystemTempFolder();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--megabytes" && hasValue) {
            megabytes = std::stoll(args[++i]);
        } else if (arg == "--large-megabytes" && hasValue) {
            largeMegabytes = std::stoll(args[++i]);
        } else if (arg == "--runs" && hasValue) {
            runs = std::max(1, std::stoi(args[++i]));
        } else if (arg == "--threads" && hasValue) {
            threads = std::stoi(args[++i]);
        } else if (arg == "--level" && hasValue) {
            levelName = args[++i];
        } else if (arg == "--wait-load" && hasValue) {
            waitLoad = std::stod(args[++i]);
        } else {
            base = arg;
        }
    }
    const int workerThreads =
        threads > 0 ? std::min(threads, 8)
                    : std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 8);

    const fs::path self = fs::read_symlink("/proc/self/exe");
    const fs::path zlibBuild = self.parent_path() / "archive_throughput_zlib";
    const bool haveToday = fs::exists(zlibBuild);

    std::string pattern = (base / "tidewell-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path work = pattern;
    struct Cleanup {
        fs::path folder;
        ~Cleanup() { fs::remove_all(folder); }
    } cleanup{work};

    const fs::path db = work / "default.mdb";
    const std::int64_t rows = bench::MakeDatabase(db, megabytes * 1024 * 1024);
    const double size = Mebibytes(fs::file_size(db));
    std::printf("file: %.1f MiB SQLite database, %lld rows (%s)\n", size,
                static_cast<long long>(rows), work.c_str());
    const int zlibLevel = ZlibLevelOf(LevelNamed(levelName));
    std::printf(
        "machine: %u cores; Backup and Restore with %d worker threads; level %s (zlib %d), blocks "
        "by %s\n",
        std::thread::hardware_concurrency(), workerThreads, levelName.c_str(), zlibLevel,
        archive::DeflateMethodName(zlibLevel).c_str());
    if (waitLoad > 0) {
        for (int waited = 0; OneMinuteLoad() >= waitLoad && waited < 600; waited += 10) {
            std::this_thread::sleep_for(std::chrono::seconds(10));
        }
    }
    std::printf("load average at the start: %s\n", bench::LoadAverage().c_str());

    const std::string n = std::to_string(workerThreads);
    const fs::path restored = work / "restored";
    fs::create_directories(restored);
    Contender today{"today: Backup, zlib, 1 thread",
                    {zlibBuild, "--pack", db, work / "today.bck", "1", levelName},
                    {},
                    work / "today.bck",
                    {}};
    Contender one{"Backup, 1 thread",
                  {self, "--pack", db, work / "one.bck", "1", levelName},
                  {},
                  work / "one.bck",
                  {}};
    Contender many{"Backup, " + n + " threads",
                   {self, "--pack", db, work / "many.bck", n, levelName},
                   {},
                   work / "many.bck",
                   {}};
    Contender bare{"bare zlib loop, 1 thread",
                   {self, "--bare-deflate", db, work / "bare.bin", levelName},
                   {},
                   work / "bare.bin",
                   {}};
    Contender pigz{"pigz -p 2 -6",
                   {"pigz", "-p", "2", "-6", "-c", db},
                   work / "pigz.gz",
                   work / "pigz.gz",
                   {}};
    Contender gzip{"gzip -6", {"gzip", "-6", "-c", db}, work / "gzip.gz", work / "gzip.gz", {}};
    Contender zstd{"zstd -3 -T2 (for reference)",
                   {"zstd", "-q", "-3", "-T2", "-c", db},
                   work / "zstd.zst",
                   work / "zstd.zst",
                   {}};
    Contender todayRestore{"today: Restore, zlib, 1 thread",
                           {zlibBuild, "--restore", work / "today.bck", restored, "1"},
                           {},
                           {},
                           {}};
    Contender oneRestore{
        "Restore, 1 thread", {self, "--restore", work / "many.bck", restored, "1"}, {}, {}, {}};
    Contender manyRestore{"Restore, " + n + " threads",
                          {self, "--restore", work / "many.bck", restored, n},
                          {},
                          {},
                          {}};
    Contender bareInflate{"bare inflate loop, 1 thread",
                          {self, "--bare-inflate", work / "bare.bin", work / "inflated.bin"},
                          {},
                          {},
                          {}};
    Contender floorDeflate{
        "floor: " + archive::DeflateMethodName(zlibLevel) + ", " + n + " threads, in memory",
        {self, "--floor-deflate", db, levelName, n},
        work / "floor-deflate.txt",
        {},
        {},
        true};
    Contender floorInflate{"floor: inflate, " + n + " threads, in memory",
                           {self, "--floor-inflate", work / "many.bck", n},
                           work / "floor-inflate.txt",
                           {},
                           {},
                           true};
    Contender floorCopy{
        "floor: plain copy of the file", {self, "--floor-copy", db, work / "copy.mdb"}, {}, {}, {}};

    std::vector<Contender*> packers;
    if (haveToday) packers.push_back(&today);
    packers.insert(packers.end(), {&one, &many, &bare, &floorDeflate});
    for (Contender* c : {&pigz, &gzip, &zstd}) {
        if (HaveProgram(c->command[0])) packers.push_back(c);
    }
    std::vector<Contender*> restorers;
    if (haveToday) restorers.push_back(&todayRestore);
    restorers.insert(restorers.end(),
                     {&oneRestore, &manyRestore, &bareInflate, &floorInflate, &floorCopy});

    // Interleaved rounds: a disturbance from elsewhere should hit every contender alike.
    for (int round = 0; round < runs; ++round) {
        for (Contender* c : packers) {
            c->runs.push_back(Measure(c->command, c->stdoutFile, c->selfTimed));
        }
        for (Contender* c : restorers) {
            c->runs.push_back(Measure(c->command, c->stdoutFile, c->selfTimed));
        }
        std::printf("load average after round %d: %s\n", round + 1, bench::LoadAverage().c_str());
    }

    PrintTable("packing", packers, size, runs);
    std::printf("\narchive sizes\n");
    for (const Contender* c : packers) {
        if (c->output.empty()) continue;
        std::printf("  %-42s %12ju bytes  %5.1f%% of the file\n", c->label.c_str(),
                    fs::file_size(c->output), 100.0 * Mebibytes(fs::file_size(c->output)) / size);
    }
    PrintTable("restoring", restorers, size, runs);

    // Where the time goes: the component against what its parts cost at the least.
    std::printf("\nagainst the floors (medians of wall time; CPU of the best runs)\n");
    const auto against = [](const char* what, const Contender& c, const Contender& floor) {
        std::printf("  %-46s wall %5.2f  CPU %5.2f of the floor\n", what,
                    c.MedianWall() / floor.MedianWall(), c.Best().cpu / floor.Best().cpu);
    };
    against(("packing: Backup " + n + " threads / block library").c_str(), many, floorDeflate);
    against(("restoring: Restore " + n + " threads / inflate").c_str(), manyRestore, floorInflate);
    against(("restoring: Restore " + n + " threads / plain copy").c_str(), manyRestore, floorCopy);

    std::printf("\ntargets\n");
    const Contender& baseline = haveToday ? today : bare;
    const char* baseName = haveToday ? "today's Backup" : "the bare zlib loop (no zlib build here)";
    Target(("packing: Backup " + n + " threads / " + baseName + ", speed").c_str(),
           baseline.Best().wall / many.Best().wall, 3.0, true);
    if (HaveProgram("pigz")) {
        Target(("packing: Backup " + n + " threads / pigz -p 2 -6, speed").c_str(),
               pigz.Best().wall / many.Best().wall, 2.5, true);
    }
    const fs::path zlibArchive = haveToday ? today.output : bare.output;
    Target("archive size / zlib's at the same level",
           static_cast<double>(fs::file_size(many.output)) /
               static_cast<double>(fs::file_size(zlibArchive)),
           1.01, false);
    const Contender& restoreBase = haveToday ? todayRestore : bareInflate;
    Target(("restoring: Restore " + n + " threads / " +
            (haveToday ? "today's Restore" : "bare inflate") + ", speed")
               .c_str(),
           restoreBase.Best().wall / manyRestore.Best().wall, 1.8, true);

    if (largeMegabytes > 0) {
        const fs::path large = work / "large.mdb";
        Replicate(db, large, largeMegabytes * 1024 * 1024);
        const Run packLarge = Measure({self, "--pack", large, work / "large.bck", n, levelName});
        fs::remove(large);
        const Run restoreLarge =
            Measure({self, "--restore", work / "large.bck", work / "large", n});
        std::printf("\npeak memory (KiB)            %7.0f MiB file  %7.0f MiB file\n", size,
                    static_cast<double>(largeMegabytes));
        std::printf("  Backup, %s threads           %12ld  %12ld   (%.1f s)\n", n.c_str(),
                    many.Best().peakKilobytes, packLarge.peakKilobytes, packLarge.wall);
        std::printf("  Restore, %s threads          %12ld  %12ld   (%.1f s)\n", n.c_str(),
                    manyRestore.Best().peakKilobytes, restoreLarge.peakKilobytes,
                    restoreLarge.wall);
        const long peak = std::max(packLarge.peakKilobytes, restoreLarge.peakKilobytes);
        Target("peak memory, MiB", static_cast<double>(peak) / 1024.0, 64.0, false);
        Target("growth from the small to the large file, MiB",
               static_cast<double>(
                   std::max(packLarge.peakKilobytes - many.Best().peakKilobytes,
                            restoreLarge.peakKilobytes - manyRestore.Best().peakKilobytes)) /
                   1024.0,
               1.0, false);
    }
    std::printf("\nload average at the end: %s\n", bench::LoadAverage().c_str());
    return 0;
}
