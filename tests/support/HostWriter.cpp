// Stand-ins for the host product writing its company database while Tidewell works on it.
//
//   tidewell-test-host till DATABASE wal|delete INTERVAL_MS LOG
//     a shop's till: keeps the database open and commits one sale every INTERVAL_MS until it is
//     told to stop (SIGTERM or SIGINT). Each sale carries a token of its own, written to LOG
//     once its commit has returned, so that a test can look for every committed row later.
//     Standard error gets one last line: the commits made, the attempts that failed and the
//     longest a commit had to wait.
//
//   tidewell-test-host write DATABASE SOURCE PAUSE_MS
//     a program in the middle of a long write: holds the engine's exclusive lock on DATABASE
//     (whatever it holds, a database or not) while it writes SOURCE's bytes over it in two
//     halves, PAUSE_MS apart. "locked" goes to standard output once the lock is held.
//
//   tidewell-test-host jet DATABASE ldb|mdb|open
//     a Jet writer with DATABASE open, until it is told to stop: "ldb" writes its user record
//     into the lock file beside it (DATABASE with ".ldb") and holds a write lock on that record;
//     "mdb" holds a shared lock on the database itself far past its end, where a Jet writer marks
//     its users; "open" only keeps the database open, taking no lock. "locked" goes to standard
//     output once that holds.
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

volatile std::sig_atomic_t stop = 0;

extern "C" void OnStop(int) {
    stop = 1;
}

bool Run(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

int Till(const char* database, const std::string& mode, std::chrono::milliseconds interval,
         const char* logFile) {
    std::signal(SIGTERM, OnStop);
    std::signal(SIGINT, OnStop);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(database, &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s\n", database);
        return 1;
    }
    // A till waits for a lock rather than losing a sale.
    sqlite3_busy_timeout(db, 60000);
    if (!Run(db, ("PRAGMA journal_mode=" + mode).c_str())) {
        std::fprintf(stderr, "journal mode: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    std::ofstream log(logFile, std::ios::app);
    long committed = 0, failed = 0;
    std::chrono::steady_clock::duration longest{};
    const std::string prefix = "host-" + std::to_string(::getpid()) + "-";
    for (long n = 0; !stop; ++n) {
        const std::string token = prefix + std::to_string(n);
        const std::string insert = "INSERT INTO sale(note) VALUES('" + token + "')";
        const auto started = std::chrono::steady_clock::now();
        // The data may have been replaced by a copy without the table: the till makes it again.
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

int Write(const char* database, const char* source, std::chrono::milliseconds pause) {
    std::ifstream in(source, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    sqlite3* db = nullptr;
    sqlite3_file* file = nullptr;
    if (sqlite3_open_v2(database, &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK ||
        file == nullptr || file->pMethods->xLock(file, SQLITE_LOCK_SHARED) != SQLITE_OK ||
        file->pMethods->xLock(file, SQLITE_LOCK_EXCLUSIVE) != SQLITE_OK) {
        std::fprintf(stderr, "cannot lock %s\n", database);
        return 1;
    }
    std::printf("locked\n");
    std::fflush(stdout);
    const int half = static_cast<int>(bytes.size() / 2);
    file->pMethods->xWrite(file, bytes.data(), half, 0);
    std::this_thread::sleep_for(pause);
    file->pMethods->xWrite(file, bytes.data() + half, static_cast<int>(bytes.size()) - half, half);
    file->pMethods->xUnlock(file, SQLITE_LOCK_NONE);
    sqlite3_close(db);
    return 0;
}

// A record of the lock file: the computer's name and the user's, 32 bytes each.
constexpr off_t kJetUserRecord = 64;
// Where a Jet 4 writer marks its users in the database: far beyond any page.
constexpr off_t kJetUserLocks = 0x10000000;

bool LockRange(int fd, short type, off_t start, off_t length) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = start;
    range.l_len = length;
    return ::fcntl(fd, F_SETLK, &range) == 0;
}

int JetUser(const std::string& database, const std::string& how) {
    std::signal(SIGTERM, OnStop);
    std::signal(SIGINT, OnStop);
    const int mdb = ::open(database.c_str(), how == "open" ? O_RDONLY : O_RDWR);
    bool held = mdb >= 0;
    if (held && how == "ldb") {
        std::string lockFile = database.substr(0, database.rfind('.')) + ".ldb";
        const int ldb = ::open(lockFile.c_str(), O_RDWR | O_CREAT, 0644);
        std::string record(kJetUserRecord, '\0');
        record.replace(0, 6, "TILL-1");
        record.replace(32, 5, "Admin");
        held = ldb >= 0 && ::pwrite(ldb, record.data(), record.size(), 0) == kJetUserRecord &&
               LockRange(ldb, F_WRLCK, 0, kJetUserRecord);
    } else if (held && how == "mdb") {
        held = LockRange(mdb, F_RDLCK, kJetUserLocks, 1);
    } else if (how != "open") {
        held = false;
    }
    if (!held) {
        std::fprintf(stderr, "cannot take %s on %s\n", how.c_str(), database.c_str());
        return 1;
    }
    std::printf("locked\n");
    std::fflush(stdout);
    while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "till" && argc == 6) {
        return Till(argv[2], argv[3], std::chrono::milliseconds(std::stoi(argv[4])), argv[5]);
    }
    if (command == "write" && argc == 5) {
        return Write(argv[2], argv[3], std::chrono::milliseconds(std::stoi(argv[4])));
    }
    if (command == "jet" && argc == 4) return JetUser(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: %s till DATABASE wal|delete INTERVAL_MS LOG\n"
                 "       %s write DATABASE SOURCE PAUSE_MS\n"
                 "       %s jet DATABASE ldb|mdb|open\n",
                 argv[0], argv[0], argv[0]);
    return 2;
}
