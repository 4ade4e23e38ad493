// A stand-in for the host product at a shop's till: it keeps the company database open and
// commits one sale every few milliseconds until it is told to stop (SIGTERM or SIGINT). Each
// sale carries a token of its own, written to the log once its commit has returned, so that a
// test can look for every committed row afterwards.
//
//   tidewell-test-host DATABASE wal|delete INTERVAL_MS LOG
//
// Standard error gets one last line: the commits made, the attempts that failed and the longest
// a commit had to wait.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

namespace {

volatile std::sig_atomic_t stop = 0;

extern "C" void OnStop(int) { stop = 1; }

bool Run(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s DATABASE wal|delete INTERVAL_MS LOG\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[2];
    const auto interval = std::chrono::milliseconds(std::stoi(argv[3]));
    std::signal(SIGTERM, OnStop);
    std::signal(SIGINT, OnStop);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    // A till waits for a lock rather than losing a sale.
    sqlite3_busy_timeout(db, 60000);
    if (!Run(db, ("PRAGMA journal_mode=" + mode).c_str())) {
        std::fprintf(stderr, "journal mode: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    std::ofstream log(argv[4], std::ios::app);
    long committed = 0, failed = 0;
    std::chrono::steady_clock::duration longest{};
    const std::string prefix = "host-" + std::to_string(::getpid()) + "-";
    for (long n = 0; !stop; ++n) {
        const std::string token = prefix + std::to_string(n);
        const std::string insert = "INSERT INTO sale(note) VALUES('" + token + "')";
        // The data may have been replaced by a copy without the table: the till makes it again.
        const auto started = std::chrono::steady_clock::now();
        if (Run(db, "BEGIN IMMEDIATE") && Run(db, "CREATE TABLE IF NOT EXISTS sale(note TEXT)") &&
            Run(db, insert.c_str()) && Run(db, "COMMIT")) {
            log << token << '\n' << std::flush;
            ++committed;
            longest = std::max(longest, std::chrono::steady_clock::now() - started);
        } else {
            std::fprintf(stderr, "%s: %s\n", token.c_str(), sqlite3_errmsg(db));
            Run(db, "ROLLBACK");
            ++failed;
        }
        std::this_thread::sleep_for(interval);
    }
    sqlite3_close(db);
    std::fprintf(stderr, "committed %ld, failed %ld, longest wait %lld ms\n", committed, failed,
                 static_cast<long long>(
                     std::chrono::duration_cast<std::chrono::milliseconds>(longest).count()));
    return 0;
}
