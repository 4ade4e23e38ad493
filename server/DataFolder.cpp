#include "DataFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include "platform/Error.h"

namespace tidewell::webfolder {
namespace {

constexpr int kSchemaVersion = 1;

constexpr char kSchema[] = R"sql(
CREATE TABLE IF NOT EXISTS accounts(
    id INTEGER PRIMARY KEY,
    user_id TEXT NOT NULL UNIQUE COLLATE NOCASE,
    password TEXT NOT NULL,
    name TEXT NOT NULL,
    created INTEGER NOT NULL,
    last_modified INTEGER NOT NULL,
    expire_at INTEGER NOT NULL,
    quota INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS companies(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
    company_key TEXT NOT NULL,
    name TEXT NOT NULL,
    created INTEGER NOT NULL,
    UNIQUE(account_id, company_key));
CREATE TABLE IF NOT EXISTS archives(
    id INTEGER PRIMARY KEY,
    company_id INTEGER NOT NULL REFERENCES companies(id) ON DELETE CASCADE,
    name TEXT NOT NULL,
    file TEXT NOT NULL UNIQUE,
    size INTEGER NOT NULL,
    stored INTEGER NOT NULL,
    UNIQUE(company_id, name));
)sql";

void CreateFolder(const std::filesystem::path& folder) {
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) return;
    if (::mkdir(folder.c_str(), 0700) != 0 && !std::filesystem::is_directory(folder, error)) {
        throw Exception("cannot create the folder " + folder.string());
    }
}

std::int64_t ReadInteger(SqliteDatabase& db, const char* sql) {
    SqliteStatement statement(db, sql);
    return statement.Step() ? statement.ColumnInt(0) : 0;
}

// Brings the tables up; writes nothing when they are current, so a start on a full disk works.
void PrepareSchema(SqliteDatabase& db, const std::filesystem::path& root) {
    {
        auto mode = db.Prepare("PRAGMA journal_mode=WAL");
        if (!mode.Step() || mode.ColumnText(0) != "wal") {
            throw Exception("the database can't use write-ahead logging: " + root.string());
        }
    }
    const std::int64_t version = ReadInteger(db, "PRAGMA user_version");
    if (version > kSchemaVersion) {
        throw Exception("the data folder was made by a newer version of this program: " +
                        root.string());
    }
    if (version == kSchemaVersion) return;
    SqliteTransaction transaction(db);
    db.Execute(kSchema);
    db.Execute("PRAGMA user_version=" + std::to_string(kSchemaVersion));
    transaction.Commit();
}

bool Tighten(const std::filesystem::path& path, mode_t wanted) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) return false;
    const mode_t mode = S_ISDIR(st.st_mode) ? 0700 : wanted;
    if ((st.st_mode & 07777) == mode) return false;
    return ::chmod(path.c_str(), mode) == 0;
}

}  // namespace

SqliteDatabase OpenDatabase(const std::filesystem::path& file) {
    SqliteDatabase db(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    // Writers queue behind each other rather than fail; an upload's commit is short.
    sqlite3_busy_timeout(db.get(), 30000);
    // The -wal and -shm files stay when the last connection closes (an `adduser` while the
    // service is stopped), so a later start needs no new space for them.
    int persist = 1;
    sqlite3_file_control(db.get(), "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    db.Execute("PRAGMA foreign_keys=ON; PRAGMA synchronous=FULL");
    return db;
}

DatabasePool::DatabasePool(const std::filesystem::path& file, std::size_t size)
    : file_(file), size_(std::max<std::size_t>(size, 1)), opened_(1) {
    idle_.push_back(std::make_unique<SqliteDatabase>(OpenDatabase(file_)));
}

DatabasePool::Lease DatabasePool::Borrow() {
    std::unique_lock lock(mutex_);
    if (idle_.empty() && opened_ < size_) {
        ++opened_;
        lock.unlock();
        try {
            return Lease(*this, std::make_unique<SqliteDatabase>(OpenDatabase(file_)));
        } catch (...) {
            const std::lock_guard again(mutex_);
            --opened_;
            throw;
        }
    }
    returned_.wait(lock, [this] { return !idle_.empty(); });
    auto db = std::move(idle_.back());
    idle_.pop_back();
    return Lease(*this, std::move(db));
}

DatabasePool::Lease::~Lease() {
    if (!db_) return;
    {
        std::lock_guard lock(pool_->mutex_);
        pool_->idle_.push_back(std::move(db_));
    }
    pool_->returned_.notify_one();
}

DataFolder::DataFolder(std::filesystem::path root, std::size_t connections)
    : root_(std::move(root)) {
    if (root_.empty()) throw Exception("the data folder is not given");
    CreateFolder(root_);
    CreateFolder(ArchivesFolder());
    CreateFolder(UploadsFolder());
    {
        SqliteDatabase db = OpenDatabase(DatabaseFile());
        PrepareSchema(db, root_);
    }
    pool_ = std::make_unique<DatabasePool>(DatabaseFile(), connections);
    // Files that older versions made readable by others, before a umask was set, are
    // tightened here.
    tightened_ = TightenModes(root_);
}

FileHandle DataFolder::ClaimForServing() const {
    const std::filesystem::path lockFile = root_ / "serve.lock";
    FileHandle lock(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!lock) throw Exception("cannot open " + lockFile.string());
    if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        throw Exception("another tidewell-webfolder is serving " + root_.string());
    }
    return lock;
}

int TightenModes(const std::filesystem::path& root) {
    int changed = Tighten(root, 0700) ? 1 : 0;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (Tighten(it->path(), 0600)) ++changed;
    }
    return changed;
}

}  // namespace tidewell::webfolder
