// Throughput of packing and restoring a database-like file, against bare zlib loops over the same
// 16 384-byte blocks and against gzip -6, measured in one run and printed as ratios.
//
//   archive_throughput [--megabytes N] [FOLDER]
//
// FOLDER holds the work files (default: /dev/shm when there is one, else the temporary folder),
// so the figures measure the component rather than the disk.
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "archive/backup.h"
#include "platform/Sqlite.h"
#include "platform/TempFolder.h"

namespace fs = std::filesystem;
using namespace tidewell;

namespace {

constexpr std::size_t kBlock = 16384;

// Rows of a shop's stock: codes, names, quantities, prices, free text and the odd small picture,
// with an index, the way an inventory database fills its pages.
std::int64_t MakeDatabase(const fs::path& file, std::int64_t bytes) {
    SqliteDatabase db(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.Execute("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
               "CREATE TABLE stock(id INTEGER PRIMARY KEY, code TEXT, name TEXT, qty INTEGER,"
               " price REAL, note TEXT, picture BLOB);"
               "CREATE INDEX stock_code ON stock(code);");
    const char* words[] = {"bolt", "nut", "washer", "hinge", "bracket", "cable", "switch", "lamp",
                           "socket", "tape", "glue", "brush", "paint", "screw", "anchor", "chain"};
    std::mt19937 random(42);
    SqliteStatement insert = db.Prepare("INSERT INTO stock(code, name, qty, price, note, picture) VALUES(?,?,?,?,?,?)");
    std::int64_t rows = 0;
    for (;;) {
        db.Execute("BEGIN");
        for (int i = 0; i < 10000; ++i, ++rows) {
            const std::string code = "QB-" + std::to_string(100000 + random() % 900000);
            std::string name = words[random() % 16];
            name += std::string(" ") + words[random() % 16] + " " + std::to_string(random() % 200) + "mm";
            std::string note;
            for (int w = static_cast<int>(random() % 24); w > 0; --w) note += std::string(words[random() % 16]) + ' ';
            insert.Bind(1, code).Bind(2, name).Bind(3, static_cast<std::int64_t>(random() % 5000));
            sqlite3_bind_double(insert.get(), 4, (random() % 1000000) / 100.0);
            insert.Bind(5, note);
            if (random() % 8 == 0) {
                std::string picture(64 + random() % 256, '\0');
                for (char& c : picture) c = static_cast<char>(random());
                sqlite3_bind_blob(insert.get(), 6, picture.data(), static_cast<int>(picture.size()), SQLITE_TRANSIENT);
            } else {
                insert.BindNull(6);
            }
            insert.Run();
            insert.Reset();
        }
        db.Execute("COMMIT");
        if (static_cast<std::int64_t>(fs::file_size(file)) >= bytes) return rows;
    }
}

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct File {
    explicit File(const fs::path& path, const char* mode) : f(std::fopen(path.c_str(), mode)) {
        if (!f) throw Exception("cannot open " + path.string());
        std::setvbuf(f, nullptr, _IOFBF, 64 * 1024);
    }
    ~File() { std::fclose(f); }
    FILE* f;
};

// What Backup must do at the least: read 16 KiB, one deflate into 16 KiB, write length and bytes.
void BareDeflate(const fs::path& source, const fs::path& target, bool freshStream) {
    File in(source, "rb"), out(target, "wb");
    std::vector<unsigned char> block(kBlock), packed(kBlock);
    z_stream z{};
    if (!freshStream) deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
    for (std::size_t n; (n = std::fread(block.data(), 1, kBlock, in.f)) > 0;) {
        if (freshStream) {
            deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
        } else {
            deflateReset(&z);
        }
        z.next_in = block.data();
        z.avail_in = static_cast<uInt>(n);
        z.next_out = packed.data();
        z.avail_out = kBlock;
        const bool fits = deflate(&z, Z_FINISH) == Z_STREAM_END;
        const std::int32_t length = fits ? static_cast<std::int32_t>(kBlock - z.avail_out) : -static_cast<std::int32_t>(n);
        std::fwrite(&length, 4, 1, out.f);
        std::fwrite(fits ? packed.data() : block.data(), 1, fits ? kBlock - z.avail_out : n, out.f);
        if (freshStream) deflateEnd(&z);
    }
    if (!freshStream) deflateEnd(&z);
}

// What Restore must do at the least: read a length and its bytes, one inflate, write the result.
void BareInflate(const fs::path& source, const fs::path& target) {
    File in(source, "rb"), out(target, "wb");
    std::vector<unsigned char> packed(kBlock), block(kBlock);
    z_stream z{};
    inflateInit2(&z, 15);
    for (std::int32_t length; std::fread(&length, 4, 1, in.f) == 1;) {
        const std::size_t n = static_cast<std::size_t>(length < 0 ? -length : length);
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

bool Pack(const fs::path& file, const fs::path& archive) {
    TBackupFile backup;
    backup.CompressionLevel = clDefault;
    return backup.Backup({file.string()}, archive.string());
}

bool Unpack(const fs::path& archive, const fs::path& folder) {
    TBackupFile backup;
    return backup.Restore(archive.string(), folder.string());
}

// Peak resident memory of work run in a child of its own, in KiB.
long PeakKilobytes(const std::function<bool()>& work) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(work() ? 0 : 1);
    int status = 0;
    struct rusage usage {};
    ::wait4(child, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw Exception("the measured run failed");
    return usage.ru_maxrss;
}

double Megabytes(const fs::path& file) { return static_cast<double>(fs::file_size(file)) / (1024.0 * 1024.0); }

}  // namespace

int main(int argc, char** argv) {
    std::int64_t megabytes = 64;
    fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : SystemTempFolder();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--megabytes" && i + 1 < argc) {
            megabytes = std::stoll(argv[++i]);
        } else {
            base = arg;
        }
    }
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
    const std::int64_t rows = MakeDatabase(db, megabytes * 1024 * 1024);
    const fs::path small = work / "small.mdb";
    MakeDatabase(small, 1024 * 1024);
    const double size = Megabytes(db);
    std::printf("file: %.1f MiB SQLite database, %lld rows (%s)\n", size, static_cast<long long>(rows),
                work.c_str());

    const int runs = 3;
    double backup = 1e30, bare = 1e30, fresh = 1e30, restore = 1e30, bareInflate = 1e30, gzip = 1e30;
    const std::string gzipCommand = "gzip -6 -c '" + db.string() + "' > /dev/null";
    // The best of interleaved runs: the machine is shared, and a disturbance should hit every
    // contender alike.
    for (int run = 0; run < runs; ++run) {
        backup = std::min(backup, Seconds([&] { Pack(db, work / "out.bck"); }));
        bare = std::min(bare, Seconds([&] { BareDeflate(db, work / "bare.bin", false); }));
        fresh = std::min(fresh, Seconds([&] { BareDeflate(db, work / "fresh.bin", true); }));
        restore = std::min(restore, Seconds([&] { Unpack(work / "out.bck", work / "restored"); }));
        bareInflate = std::min(bareInflate, Seconds([&] { BareInflate(work / "bare.bin", work / "inflated.bin"); }));
        gzip = std::min(gzip, Seconds([&] {
                            if (std::system(gzipCommand.c_str()) != 0) std::fprintf(stderr, "gzip failed\n");
                        }));
    }
    std::printf("archive: %.1f MiB (%.1f%%)\n", Megabytes(work / "out.bck"), 100.0 * Megabytes(work / "out.bck") / size);
    std::printf("\npacking, best of %d            MiB/s\n", runs);
    std::printf("  Backup (clDefault)          %7.1f\n", size / backup);
    std::printf("  bare loop, one stream       %7.1f   Backup / bare   = %.2f\n", size / bare, bare / backup);
    std::printf("  bare loop, stream per block %7.1f   one / per block = %.2f\n", size / fresh, fresh / bare);
    std::printf("  gzip -6                     %7.1f   Backup / gzip   = %.2f\n", size / gzip, gzip / backup);
    std::printf("restoring\n");
    std::printf("  Restore                     %7.1f\n", size / restore);
    std::printf("  bare inflate loop           %7.1f   Restore / bare  = %.2f\n", size / bareInflate, bareInflate / restore);

    const long packSmall = PeakKilobytes([&] { return Pack(small, work / "small.bck"); });
    const long packLarge = PeakKilobytes([&] { return Pack(db, work / "large.bck"); });
    const long restoreSmall = PeakKilobytes([&] { return Unpack(work / "small.bck", work / "r1"); });
    const long restoreLarge = PeakKilobytes([&] { return Unpack(work / "large.bck", work / "r2"); });
    std::printf("peak memory (RSS of a child)  %.0f MiB file   %.0f MiB file\n", Megabytes(small), size);
    std::printf("  Backup                      %7ld KiB   %7ld KiB\n", packSmall, packLarge);
    std::printf("  Restore                     %7ld KiB   %7ld KiB\n", restoreSmall, restoreLarge);
    return 0;
}
