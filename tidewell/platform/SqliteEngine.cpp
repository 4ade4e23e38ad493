#include "platform/SqliteEngine.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/CompanyDatabase.h"
#include "platform/FileHandle.h"
#include "platform/FileKit.h"
#include "platform/MessagePump.h"
#include "platform/Sqlite.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

// The engine's result code as far as callers tell problems apart.
DatabaseProblem ProblemOf(int code) {
    switch (code & 0xFF) {
        case SQLITE_NOTADB:
            return DatabaseProblem::NotADatabase;
        case SQLITE_CORRUPT:
            return DatabaseProblem::Damaged;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return DatabaseProblem::Busy;
        case SQLITE_CANTOPEN:
            return DatabaseProblem::CannotOpen;
        default:
            return DatabaseProblem::Other;
    }
}

// "what (reason): file" for a failing file operation; the reason is errno's text by default.
CompanyDatabaseError FileError(const char* what, const std::string& file,
                               std::string reason = strerror(errno)) {
    return CompanyDatabaseError(std::string(what) + " (" + reason + "): " + file,
                                DatabaseProblem::Other);
}

// The engine's codes turned into texts a user can act on; the file is named so that the user
// knows which company is affected.
CompanyDatabaseError Translate(const SqliteError& error, const std::string& file) {
    const int code = error.code();
    switch (code & 0xFF) {
        case SQLITE_NOTADB:
            return CompanyDatabaseError("데이터베이스 파일이 아닙니다: " + file, ProblemOf(code));
        case SQLITE_CORRUPT:
            return CompanyDatabaseError("데이터베이스 파일이 손상되었습니다: " + file,
                                        ProblemOf(code));
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return CompanyDatabaseError(
                "다른 프로그램이 데이터베이스를 사용하고 있어 열 수 없습니다: " + file,
                ProblemOf(code));
        case SQLITE_CANTOPEN:
            return CompanyDatabaseError("데이터베이스 파일을 열 수 없습니다: " + file,
                                        ProblemOf(code));
        default:
            return CompanyDatabaseError(error.what(), ProblemOf(code));
    }
}

void Unlink(const std::string& file) {
    ::unlink(file.c_str());
}

// A new file for this user only; an existing name, or a link planted under it, is refused.
FileHandle CreatePrivateDatabaseFile(const std::string& file) {
    try {
        return CreatePrivateFile(file);
    } catch (const Exception& error) {
        throw CompanyDatabaseError(error.what(), DatabaseProblem::Other);
    }
}

constexpr std::array<const char*, 3> kSidecars = {"-wal", "-shm", "-journal"};
constexpr auto kEnginePumpInterval = std::chrono::milliseconds(20);
constexpr int kBackupPagesPerStep = 1024;

// Hands control to the window now and then while the engine works, and interrupts the engine
// when the user wants to stop.
class EngineWatch {
public:
    EngineWatch(sqlite3* db, const StopQuery& stop) : db_(db), stop_(stop) {
        sqlite3_progress_handler(db_, 20000, &EngineWatch::Tick, this);
    }
    EngineWatch(const EngineWatch&) = delete;
    EngineWatch& operator=(const EngineWatch&) = delete;
    ~EngineWatch() { sqlite3_progress_handler(db_, 0, nullptr, nullptr); }

    // Between steps of work that the engine does not watch itself.
    void Check() {
        Tick(this);
        if (stopped_) throw OperationStopped();
    }
    // An error of the engine, unless it was the interruption asked for.
    [[noreturn]] void Fail(const SqliteError& error, const std::string& file) const {
        if (stopped_ && (error.code() & 0xFF) == SQLITE_INTERRUPT) throw OperationStopped();
        throw Translate(error, file);
    }

private:
    static int Tick(void* self) {
        auto& watch = *static_cast<EngineWatch*>(self);
        const auto now = std::chrono::steady_clock::now();
        if (now - watch.lastPump_ >= kEnginePumpInterval) {
            ProcessMessages();
            watch.lastPump_ = now;
        }
        watch.stopped_ = watch.stopped_ || StopWanted(watch.stop_);
        return watch.stopped_ ? 1 : 0;
    }

    sqlite3* db_;
    const StopQuery& stop_;
    std::chrono::steady_clock::time_point lastPump_{};
    bool stopped_ = false;
};

// "file:" URI of a path, for the flags that only URIs carry.
std::string FileUri(const std::string& path, const char* query) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file:";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || std::strchr("/-._~", c) != nullptr || byte >= 0x80) {
            uri += c;
        } else {
            uri += '%';
            uri += kHex[byte >> 4];
            uri += kHex[byte & 0x0F];
        }
    }
    return uri + "?" + query;
}

// A file nobody else writes, read as it stands: no journal or WAL is looked for or made.
SqliteDatabase OpenAsItStands(const std::string& file, bool writable) {
    const int flags = (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_URI;
    SqliteDatabase db(FileUri(file, writable ? "nolock=1" : "immutable=1"), flags);
    return db;
}

// A live database, shared with other programs, waiting out their short locks.
SqliteDatabase OpenShared(const std::string& file) {
    SqliteDatabase db(file, SQLITE_OPEN_READWRITE);
    sqlite3_busy_timeout(db.get(), static_cast<int>(kCompanyBusyTimeout.count()));
    return db;
}

std::int64_t PragmaNumber(SqliteDatabase& db, const char* pragma) {
    SqliteStatement statement = db.Prepare(pragma);
    return statement.Step() ? statement.ColumnInt(0) : 0;
}

std::string PragmaText(SqliteDatabase& db, const char* pragma) {
    SqliteStatement statement = db.Prepare(pragma);
    return statement.Step() ? statement.ColumnText(0) : std::string();
}

bool IsDatabaseProblem(const SqliteError& error) {
    const int code = error.code() & 0xFF;
    return code == SQLITE_NOTADB || code == SQLITE_CORRUPT;
}

// A database in WAL mode only takes the pages of a database of its own page size.
void MatchPageSize(const std::string& staged, std::int64_t pageSize) {
    SqliteDatabase db = OpenAsItStands(staged, true);
    if (PragmaNumber(db, "PRAGMA page_size") == pageSize) return;
    db.Execute("PRAGMA journal_mode=DELETE");
    db.Execute("PRAGMA page_size=" + std::to_string(pageSize));
    db.Execute("VACUUM");
}

// While held, nobody else has the file open through fd's file (no other program, no other handle
// of this one), and whoever opens it meanwhile waits until it is let go: the kernel grants a write
// lease to the sole opener only. Nothing else is asked (no walk over every process's handles);
// a file of another user, or a file system without leases, counts as opened elsewhere.
class SoleOpener {
public:
    explicit SoleOpener(int fd) : fd_(fd) {
        // The signal an opener's wait sends is one that is ignored unless asked for.
        held_ = fd_ >= 0 && ::fcntl(fd_, F_SETSIG, SIGURG) == 0 &&
                ::fcntl(fd_, F_SETLEASE, F_WRLCK) == 0;
    }
    SoleOpener(const SoleOpener&) = delete;
    SoleOpener& operator=(const SoleOpener&) = delete;
    ~SoleOpener() {
        if (held_) ::fcntl(fd_, F_SETLEASE, F_UNLCK);
    }
    explicit operator bool() const { return held_; }

private:
    int fd_;
    bool held_ = false;
};

// This process's handle on the file (the engine's connection's own): found among this
// process's handles by what each refers to, so that none is opened (closing one would drop
// every lock this process holds on the file). -1 when there is none.
int OwnDescriptorOf(const std::string& file) {
    struct stat wanted {};
    if (::stat(file.c_str(), &wanted) != 0) return -1;
    std::error_code ec;
    for (fs::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const int fd = std::atoi(name.c_str());
        struct stat open {};
        if (::fstat(fd, &open) == 0 && S_ISREG(open.st_mode) && open.st_dev == wanted.st_dev &&
            open.st_ino == wanted.st_ino) {
            return fd;
        }
    }
    return -1;
}

// Renames staged over target, which the caller makes sure nobody else has open; the old file's
// sidecars would be read as belonging to the new one, so they go first.
void ReplaceFile(const std::string& staged, const std::string& target) {
    struct stat old {};
    const bool existed = ::lstat(target.c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode)) {
        throw CompanyDatabaseError(
            "데이터베이스 자리에 파일이 아닌 것이 있어 바꿀 수 없습니다: " + target,
            DatabaseProblem::Other);
    }
    if (existed) ::chmod(staged.c_str(), old.st_mode & 07777);
    try {
        SyncFile(staged);  // the new data is on the disk before it takes the old data's place
    } catch (const Exception& error) {
        throw CompanyDatabaseError(error.what(), DatabaseProblem::Other);
    }
    for (const char* sidecar : kSidecars) Unlink(target + sidecar);
    // Where there was no file, one that appeared meanwhile is not ours to replace.
    const int moved =
        existed ? ::rename(staged.c_str(), target.c_str())
                : ::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
    if (moved != 0) throw FileError("파일을 바꿀 수 없습니다", target);
    try {
        SyncFolder(fs::path(target).parent_path());
    } catch (const Exception&) {
        // The rename stands; a folder the system can't sync loses nothing more than it would.
    }
}

// VACUUM INTO a new file for this user only: a consistent, compacted copy of what db reads.
// A failure leaves no file behind.
void VacuumInto(SqliteDatabase& db, const std::string& dest, const std::string& source,
                const StopQuery& stop) {
    CreatePrivateDatabaseFile(dest);  // VACUUM INTO accepts an empty file and keeps its mode
    EngineWatch watch(db.get(), stop);
    try {
        SqliteStatement statement(db, "VACUUM INTO ?");
        statement.Bind(1, dest);
        statement.Run();
    } catch (const SqliteError& error) {
        Unlink(dest);
        watch.Fail(error, source);
    } catch (...) {
        Unlink(dest);
        throw;
    }
}

// The database file as the connection itself has it open. Reading through it never opens a
// second descriptor, whose closing would drop every lock this process holds on the file.
sqlite3_file* MainFile(SqliteDatabase& db, const std::string& name) {
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db.get(), "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK ||
        file == nullptr || file->pMethods == nullptr) {
        throw CompanyDatabaseError("데이터베이스 파일을 열 수 없습니다: " + name,
                                   DatabaseProblem::CannotOpen);
    }
    return file;
}

// The engine's own lock on a file it can't read as a database (damaged, or another engine's):
// taken on the connection's file handle, as any program using the engine would, waiting up to
// kCompanyBusyTimeout for others to let go.
class RawFileLock {
public:
    RawFileLock(sqlite3_file* file, int level, const std::string& name, const StopQuery& stop)
        : file_(file) {
        const auto deadline = std::chrono::steady_clock::now() + kCompanyBusyTimeout;
        for (const int step : {SQLITE_LOCK_SHARED, level}) {
            if (step == SQLITE_LOCK_SHARED && held_ >= step) continue;
            for (;;) {
                const int rc = file_->pMethods->xLock(file_, step);
                if (rc == SQLITE_OK) break;
                if ((rc & 0xFF) != SQLITE_BUSY) {
                    Release();
                    throw CompanyDatabaseError("데이터베이스 파일을 잠글 수 없습니다: " + name,
                                               ProblemOf(rc));
                }
                if (std::chrono::steady_clock::now() >= deadline) {
                    Release();
                    throw CompanyDatabaseError(
                        "다른 프로그램이 데이터베이스를 사용하고 있어 열 수 없습니다: " + name,
                        DatabaseProblem::Busy);
                }
                ProcessMessages();
                if (StopWanted(stop)) {
                    Release();
                    throw OperationStopped();
                }
                std::this_thread::sleep_for(kEnginePumpInterval);
            }
            held_ = step;
        }
    }
    RawFileLock(const RawFileLock&) = delete;
    RawFileLock& operator=(const RawFileLock&) = delete;
    ~RawFileLock() { Release(); }

private:
    void Release() { file_->pMethods->xUnlock(file_, SQLITE_LOCK_NONE); }

    sqlite3_file* file_;
    int held_ = SQLITE_LOCK_NONE;
};

// The file's bytes as they stand, read through the engine's own handle into dest, a new file for
// this user only. Whoever calls holds a lock that keeps writers out. A failure leaves no dest.
void CopyRawBytes(sqlite3_file* file, const std::string& dest, const std::string& name,
                  const std::function<void()>& tick) {
    sqlite3_int64 size = 0;
    if (file->pMethods->xFileSize(file, &size) != SQLITE_OK) {
        throw CompanyDatabaseError("파일을 읽을 수 없습니다: " + name, DatabaseProblem::Other);
    }
    FileHandle out = CreatePrivateDatabaseFile(dest);
    ScopedFileRemoval removeDest(dest);
    std::vector<char> buffer(1 << 20);
    for (sqlite3_int64 offset = 0; offset < size;) {
        const int count = static_cast<int>(
            std::min<sqlite3_int64>(static_cast<sqlite3_int64>(buffer.size()), size - offset));
        if (file->pMethods->xRead(file, buffer.data(), count, offset) != SQLITE_OK) {
            throw CompanyDatabaseError("파일을 읽을 수 없습니다: " + name, DatabaseProblem::Other);
        }
        try {
            WriteAll(out.get(), buffer.data(), static_cast<std::size_t>(count), dest);
        } catch (const Exception& failure) {
            throw CompanyDatabaseError(failure.what(), DatabaseProblem::Other);
        }
        offset += count;
        if (tick) tick();
    }
    if (::close(out.Release()) != 0) throw FileError("파일을 쓸 수 없습니다", dest);
    removeDest.Keep();
}

// The bytes of a file the engine has open, read through its own handle a megabyte at a time:
// no second descriptor is opened (closing one would drop this process's locks on the file) and
// nothing is written anywhere. Whoever reads holds a lock that keeps writers out.
class EngineFileSource : public ByteSource {
public:
    EngineFileSource(sqlite3_file* file, std::int64_t size, std::string name,
                     std::function<void()> tick)
        : file_(file), size_(size), name_(std::move(name)), tick_(std::move(tick)) {}

    std::int64_t Size() override { return size_; }

    std::size_t Read(void* buffer, std::size_t count) override {
        auto* out = static_cast<char*>(buffer);
        std::size_t given = 0;
        while (given < count && (held_ > used_ || fetched_ < size_)) {
            if (used_ == held_) Fetch();
            const std::size_t part = std::min(count - given, held_ - used_);
            std::memcpy(out + given, buffer_.data() + used_, part);
            used_ += part;
            given += part;
        }
        return given;
    }

private:
    void Fetch() {
        if (tick_) tick_();
        buffer_.resize(1 << 20);
        const auto count = static_cast<int>(
            std::min<std::int64_t>(static_cast<std::int64_t>(buffer_.size()), size_ - fetched_));
        if (file_->pMethods->xRead(file_, buffer_.data(), count, fetched_) != SQLITE_OK) {
            throw CompanyDatabaseError("파일을 읽을 수 없습니다: " + name_, DatabaseProblem::Other);
        }
        fetched_ += count;
        held_ = static_cast<std::size_t>(count);
        used_ = 0;
    }

    sqlite3_file* file_;
    std::int64_t size_;
    std::string name_;
    std::function<void()> tick_;
    std::vector<char> buffer_;
    std::int64_t fetched_ = 0;
    std::size_t held_ = 0, used_ = 0;
};

std::int64_t FileSizeOf(sqlite3_file* file, const std::string& name) {
    sqlite3_int64 size = 0;
    if (file->pMethods->xFileSize(file, &size) != SQLITE_OK) {
        throw CompanyDatabaseError("파일을 읽을 수 없습니다: " + name, DatabaseProblem::Other);
    }
    return size;
}

// Moves every committed change of a WAL database into its file, through a connection of its
// own; true when nothing is left only in the WAL. While the caller holds the write lock, the file
// then holds the whole database and stays as it is (another checkpoint only writes the same
// pages again). A reader of another program still on an older state keeps part of it back.
bool CheckpointWhole(const std::string& target) {
    SqliteDatabase db(target, SQLITE_OPEN_READWRITE);
    sqlite3_busy_timeout(db.get(), static_cast<int>(kCompanyBusyTimeout.count()));
    // Until it has read the database, the connection does not know the WAL is there and reports
    // a checkpoint of nothing.
    db.Prepare("SELECT count(*) FROM sqlite_master").Run();
    int frames = -1, moved = -1;
    const int rc =
        sqlite3_wal_checkpoint_v2(db.get(), nullptr, SQLITE_CHECKPOINT_PASSIVE, &frames, &moved);
    return rc == SQLITE_OK && frames >= 0 && frames == moved;
}

using BackupHandle = std::unique_ptr<sqlite3_backup, int (*)(sqlite3_backup*)>;

// A database that the engine reads, replaced under its own write lock: taken at once, held while
// the current content is copied and kept and until the new content is committed (or has taken
// its place by rename), so that no other program commits a change the copy would not hold.
void ReplaceReadableDatabase(const std::string& staged, const std::string& target,
                             SqliteDatabase& live, bool wal, const ReplaceSteps& steps,
                             const StopQuery& stop) {
    if (wal) MatchPageSize(staged, PragmaNumber(live, "PRAGMA page_size"));
    SqliteDatabase source = OpenAsItStands(staged, false);
    EngineWatch watch(live.get(), stop);
    const auto failure = [&](int rc) {
        return SqliteError(sqlite3_errmsg(live.get()), rc == SQLITE_OK ? SQLITE_ERROR : rc);
    };
    BackupHandle backup(sqlite3_backup_init(live.get(), "main", source.get(), "main"),
                        sqlite3_backup_finish);
    if (!backup) watch.Fail(failure(sqlite3_extended_errcode(live.get())), target);
    // No pages yet, only the lock: in rollback-journal mode an exclusive one (readers wait too,
    // and the file holds every committed change), in WAL mode the write lock (readers go on).
    if (const int rc = sqlite3_backup_step(backup.get(), 0); rc != SQLITE_OK && rc != SQLITE_DONE) {
        backup.reset();
        watch.Fail(SqliteError(sqlite3_errstr(rc), rc), target);
    }

    if (steps.KeepCurrent) {
        const auto tick = [&] { watch.Check(); };
        // The file as it stands holds every committed change: in rollback-journal mode under the
        // exclusive lock, in WAL mode once the WAL is checkpointed whole.
        if (!wal || CheckpointWhole(target)) {
            sqlite3_file* file = MainFile(live, target);
            EngineFileSource current(file, FileSizeOf(file, target), target, tick);
            steps.KeepCurrent(&current);
        } else {
            // Readers of an older state hold part of the WAL back: a reader of its own sees
            // every committed change, and nobody can add one while the write lock is held here.
            ScopedFileRemoval removeCopy(steps.CopyFile);
            {
                SqliteDatabase reader(target, SQLITE_OPEN_READONLY);
                sqlite3_busy_timeout(reader.get(), static_cast<int>(kCompanyBusyTimeout.count()));
                VacuumInto(reader, steps.CopyFile, target, stop);
            }
            SqliteDatabase copy = OpenAsItStands(steps.CopyFile, false);
            sqlite3_file* file = MainFile(copy, steps.CopyFile);
            EngineFileSource current(file, FileSizeOf(file, steps.CopyFile), steps.CopyFile, tick);
            steps.KeepCurrent(&current);
        }
    }
    if (steps.BeforeReplace) steps.BeforeReplace();

    // Nobody else has it open: the new file takes the old one's place in one rename, still under
    // the lock. Copying through the engine would write every page twice (journal and file).
    if (!wal) {
        const SoleOpener sole(OwnDescriptorOf(target));
        if (sole) {
            if (steps.SettleNew) steps.SettleNew(staged);
            ReplaceFile(staged, target);
            return;  // letting go of the backup releases the old file's lock
        }
    }
    for (;;) {
        const int rc = sqlite3_backup_step(backup.get(), kBackupPagesPerStep);
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_OK) {
            backup.reset();  // rolls the target back
            watch.Fail(SqliteError(sqlite3_errstr(rc), rc), target);
        }
        watch.Check();  // a stop here releases the backup, which rolls the target back
    }
    if (const int rc = sqlite3_backup_finish(backup.release()); rc != SQLITE_OK) {
        watch.Fail(failure(rc), target);
    }
    // The new content moves from the WAL into the file, so the file's time tells the truth.
    try {
        if (wal) live.Execute("PRAGMA wal_checkpoint(TRUNCATE)");
    } catch (const SqliteError&) {
        // Readers of another program keep the WAL for now; the data is in it all the same.
    }
    if (!steps.SettleNew) return;
    // Committing let go of the lock; it is taken again, so that the new content's time and look
    // are settled before a program that waited for the lock writes to it.
    try {
        SqliteTransaction settle(live, wal ? "BEGIN IMMEDIATE" : "BEGIN EXCLUSIVE");
        steps.SettleNew(target);
    } catch (const SqliteError& error) {
        throw Translate(error, target);
    }
}

// A file the engine can't read (damaged, or no database of this engine): there is nothing to
// keep consistent, only its bytes to keep. It is replaced by rename, and only while no other
// process has it open, under the lock any engine user would take before writing it.
void ReplaceUnreadableFile(const std::string& staged, const std::string& target,
                           SqliteDatabase& live, const ReplaceSteps& steps, const StopQuery& stop) {
    sqlite3_file* file = MainFile(live, target);
    const RawFileLock lock(file, SQLITE_LOCK_EXCLUSIVE, target, stop);
    if (steps.KeepCurrent) {
        EngineFileSource current(file, FileSizeOf(file, target), target, [&] {
            if (StopWanted(stop)) throw OperationStopped();
        });
        steps.KeepCurrent(&current);
    }
    const SoleOpener sole(OwnDescriptorOf(target));
    if (!sole) {
        throw CompanyDatabaseError(
            "다른 프로그램이 데이터베이스를 사용하고 있어 바꿀 수 없습니다: " + target,
            DatabaseProblem::Busy);
    }
    if (steps.BeforeReplace) steps.BeforeReplace();
    if (steps.SettleNew) steps.SettleNew(staged);
    ReplaceFile(staged, target);
}

// The rows of one statement; the statement keeps its connection alive.
class SqliteCursor : public EngineCursor {
public:
    SqliteCursor(std::shared_ptr<SqliteDatabase> db, std::string dataSource, const std::string& sql)
        : db_(std::move(db)), dataSource_(std::move(dataSource)) {
        try {
            statement_ = std::make_unique<SqliteStatement>(*db_, sql);
        } catch (const SqliteError& error) {
            throw Translate(error, dataSource_);
        }
    }
    bool Step() override {
        try {
            return statement_->Step();
        } catch (const SqliteError& error) {
            throw Translate(error, dataSource_);
        }
    }
    int ColumnCount() const override { return statement_->ColumnCount(); }
    std::string ColumnName(int column) const override { return statement_->ColumnName(column); }
    bool IsNull(int column) const override { return statement_->IsNull(column); }
    std::string Text(int column) const override { return statement_->ColumnText(column); }
    std::int64_t Integer(int column) const override { return statement_->ColumnInt(column); }

private:
    std::shared_ptr<SqliteDatabase> db_;  // declared first: outlives the statement
    std::string dataSource_;
    std::unique_ptr<SqliteStatement> statement_;
};

class SqliteConnection : public EngineConnection {
public:
    SqliteConnection(const std::string& file, CompanyShareMode mode,
                     std::chrono::milliseconds busyTimeout)
        : dataSource_(file) {
        try {
            // Without SQLITE_OPEN_CREATE: a missing database is an error, never a new empty file.
            db_ = std::make_shared<SqliteDatabase>(dataSource_, SQLITE_OPEN_READWRITE);
            sqlite3_busy_timeout(db_->get(), static_cast<int>(busyTimeout.count()));
            if (mode == CompanyShareMode::Exclusive) {
                // The lock taken by this transaction is kept until the connection closes.
                db_->Execute("PRAGMA locking_mode=EXCLUSIVE");
                db_->Execute("BEGIN EXCLUSIVE");
            }
            // SQLite reads the file lazily; reading the schema here makes a file that is not a
            // database fail at opening, as callers expect.
            db_->Prepare("SELECT count(*) FROM sqlite_master").Run();
            if (mode == CompanyShareMode::Exclusive) db_->Execute("COMMIT");
        } catch (const SqliteError& error) {
            db_.reset();
            throw Translate(error, dataSource_);
        }
    }

    std::unique_ptr<EngineCursor> Query(const std::string& sql) override {
        return std::make_unique<SqliteCursor>(db_, dataSource_, sql);
    }

    void Execute(const std::string& sql) override {
        sqlite3* db = db_->get();
        auto fail = [&] {
            throw Translate(SqliteError(sqlite3_errmsg(db), sqlite3_extended_errcode(db)),
                            dataSource_);
        };
        sqlite3_stmt* raw = nullptr;
        const char* tail = nullptr;
        int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &raw, &tail);
        std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
        if (rc != SQLITE_OK) fail();
        if (tail != nullptr && *tail != '\0') {
            sqlite3_stmt* next = nullptr;
            rc = sqlite3_prepare_v2(db, tail, -1, &next, nullptr);
            sqlite3_finalize(next);
            if (rc != SQLITE_OK || next != nullptr) {
                throw CompanyDatabaseError("한 번에 한 문장만 실행할 수 있습니다: " + sql,
                                           DatabaseProblem::Other);
            }
        }
        if (!statement) return;  // only blanks or a comment
        while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
        }
        if (rc != SQLITE_DONE) fail();
    }

    std::vector<std::string> ColumnNames(const std::string& table) override {
        std::vector<std::string> names;
        try {
            SqliteStatement statement(*db_, "SELECT name FROM pragma_table_info(?)");
            statement.Bind(1, UnquoteTableName(table));
            while (statement.Step()) names.push_back(statement.ColumnText(0));
        } catch (const SqliteError& error) {
            throw Translate(error, dataSource_);
        }
        return names;
    }

    void CompactInto(const std::string& destFile, const StopQuery& stop) override {
        VacuumInto(*db_, destFile, dataSource_, stop);
    }

private:
    std::string dataSource_;
    std::shared_ptr<SqliteDatabase> db_;
};

}  // namespace

std::string ReadFileStart(const std::string& file, std::size_t count) {
    std::optional<SqliteDatabase> db;
    try {
        db.emplace(file, SQLITE_OPEN_READONLY);
    } catch (const SqliteError&) {
        return {};
    }
    sqlite3_file* handle = nullptr;
    if (sqlite3_file_control(db->get(), "main", SQLITE_FCNTL_FILE_POINTER, &handle) != SQLITE_OK ||
        handle == nullptr || handle->pMethods == nullptr) {
        return {};
    }
    sqlite3_int64 size = 0;
    if (handle->pMethods->xFileSize(handle, &size) != SQLITE_OK) return {};
    std::string start(
        static_cast<std::size_t>(std::min<sqlite3_int64>(size, static_cast<sqlite3_int64>(count))),
        '\0');
    if (!start.empty() && handle->pMethods->xRead(handle, start.data(),
                                                  static_cast<int>(start.size()), 0) != SQLITE_OK) {
        return {};
    }
    return start;
}

std::unique_ptr<EngineConnection> SqliteEngine::Open(const std::string& file, CompanyShareMode mode,
                                                     std::chrono::milliseconds busyTimeout) const {
    return std::make_unique<SqliteConnection>(file, mode, busyTimeout);
}

void SqliteEngine::Snapshot(const std::string& source, const std::string& dest,
                            const StopQuery& stop) const {
    std::optional<SqliteDatabase> db;
    try {
        db.emplace(source, SQLITE_OPEN_READONLY);
        sqlite3_busy_timeout(db->get(), static_cast<int>(kCompanyBusyTimeout.count()));
        // The copy is a working file of one operation: it need not wait for the disk.
        db->Execute("PRAGMA synchronous=OFF");
    } catch (const SqliteError& error) {
        throw Translate(error, source);
    }
    VacuumInto(*db, dest, source, stop);
}

std::optional<std::string> SqliteEngine::ReadFileText(const std::string& file,
                                                      const std::string& sql) const {
    try {
        SqliteDatabase db = OpenAsItStands(file, false);
        SqliteStatement statement = db.Prepare(sql);
        if (!statement.Step()) return std::nullopt;
        return statement.ColumnText(0);
    } catch (const SqliteError&) {
        return std::nullopt;
    }
}

void SqliteEngine::Check(const std::string& file, const StopQuery& stop) const {
    try {
        SqliteDatabase db = OpenAsItStands(file, false);
        EngineWatch watch(db.get(), stop);
        try {
            const std::string verdict = PragmaText(db, "PRAGMA quick_check");
            if (verdict != "ok") {
                throw CompanyDatabaseError(
                    "데이터베이스 파일이 손상되었습니다 (" + verdict + "): " + file,
                    DatabaseProblem::Damaged);
            }
        } catch (const SqliteError& error) {
            watch.Fail(error, file);
        }
    } catch (const SqliteError& error) {
        throw Translate(error, file);
    }
}

void SqliteEngine::Replace(const std::string& staged, const std::string& target,
                           const ReplaceSteps& steps, const StopQuery& stop) const {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) {
        if (errno != ENOENT) throw FileError("파일을 읽을 수 없습니다", target);
        if (steps.KeepCurrent) steps.KeepCurrent(nullptr);
        if (steps.BeforeReplace) steps.BeforeReplace();
        if (steps.SettleNew) steps.SettleNew(staged);
        ReplaceFile(staged, target);
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        throw CompanyDatabaseError(
            "데이터베이스 자리에 파일이 아닌 것이 있어 바꿀 수 없습니다: " + target,
            DatabaseProblem::Other);
    }
    std::optional<SqliteDatabase> live;
    std::string journal;
    try {
        live.emplace(OpenShared(target));
        journal = PragmaText(*live, "PRAGMA journal_mode");
        live->Prepare("SELECT count(*) FROM sqlite_master").Run();
    } catch (const SqliteError& error) {
        if (!live || !IsDatabaseProblem(error)) throw Translate(error, target);
        ReplaceUnreadableFile(staged, target, *live, steps, stop);
        return;
    }
    try {
        ReplaceReadableDatabase(staged, target, *live, journal == "wal", steps, stop);
    } catch (const SqliteError& error) {
        throw Translate(error, target);
    }
}

void SqliteEngine::CopyFile(const std::string& source, const std::string& dest) const {
    try {
        SqliteDatabase reader(source, SQLITE_OPEN_READONLY);
        sqlite3_file* file = MainFile(reader, source);
        // A writer in another program finishes first: the copy is never half old, half new.
        const RawFileLock lock(file, SQLITE_LOCK_SHARED, source, {});
        Unlink(dest);
        CopyRawBytes(file, dest, source, {});
    } catch (const SqliteError& error) {
        throw Translate(error, source);
    }
}

bool SqliteEngine::InUse(const std::string& file) const {
    // Only one handle of this process's own may be open: the one opened here. A program with the
    // database open in WAL mode has the database file open too.
    const FileHandle probe(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!probe) return false;
    return !SoleOpener(probe.get());
}

std::vector<std::string> SqliteEngine::CompanionFiles(const std::string& file) const {
    std::vector<std::string> files;
    for (const char* sidecar : kSidecars) files.push_back(file + sidecar);
    return files;
}

}  // namespace tidewell
