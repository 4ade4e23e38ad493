#include "DataFolder.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <unistd.h>

#include <fstream>
#include <optional>

#include "BackupManifest.h"
#include "SystemRandom.h"
#include "platform/Error.h"
#include "platform/FileKit.h"

namespace tidewell::webfolder {
namespace {

constexpr int kSchemaVersion = 2;

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
CREATE TABLE IF NOT EXISTS settings(
    name TEXT PRIMARY KEY,
    value TEXT NOT NULL);
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

std::optional<std::string> ReadMark(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text;
    std::getline(in, text);
    return text;
}

void WriteMark(const std::filesystem::path& file, const std::string& id) {
    const std::string text = id + "\n";
    {
        const FileHandle out(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (!out) {
            const int code = errno;
            throw SystemError("cannot write " + file.string() + ": " + strerror(code), code);
        }
        WriteAll(out.get(), text.data(), text.size(), file.string());
    }
    SyncFile(file);
    SyncFolder(std::filesystem::canonical(file.parent_path()));  // archives/ may be a link
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
    if (std::filesystem::exists(root_ / BackupManifest::kUnfinishedFile)) {
        throw Exception(root_.string() +
                        " is a backup that was cut off before it was whole; take the backup "
                        "again. Nothing was changed.");
    }
    // A backup's index is checked as the backup left it, before anything opens it.
    const auto manifest = BackupManifest::Read(root_);
    const std::string checksum = manifest ? FileSha256(DatabaseFile()) : "";
    CreateFolder(UploadsFolder());
    {
        SqliteDatabase db = OpenDatabase(DatabaseFile());
        PrepareSchema(db, root_);
        AcceptBackup(db, manifest, checksum);
        CheckArchivesFolder(db);
    }
    pool_ = std::make_unique<DatabasePool>(DatabaseFile(), connections);
    // Files that older versions made readable by others, before a umask was set, are
    // tightened here.
    tightened_ = TightenModes(root_);
}

std::optional<std::string> ReadSetting(SqliteDatabase& db, const std::string& name) {
    auto read = db.Prepare("SELECT value FROM settings WHERE name = ?");
    read.Bind(1, name);
    if (!read.Step()) return std::nullopt;
    return read.ColumnText(0);
}

void WriteSetting(SqliteDatabase& db, const std::string& name, const std::string& value) {
    db.Prepare(
          "INSERT INTO settings(name, value) VALUES(?1, ?2) ON CONFLICT(name) DO UPDATE "
          "SET value = excluded.value")
        .Bind(1, name)
        .Bind(2, value)
        .Run();
}

void DataFolder::AcceptBackup(SqliteDatabase& db, const std::optional<BackupManifest>& manifest,
                              const std::string& checksum) const {
    if (!ReadSetting(db, BackupManifest::kStateSetting)) return;
    const std::string nothing = " Nothing was changed.";
    if (!manifest) {
        throw Exception(root_.string() +
                        " is a backup that was cut off before it was whole (it has no " +
                        BackupManifest::kFile + "); take the backup again." + nothing);
    }
    if (manifest->indexSha256 != checksum) {
        throw Exception("the index of the backup " + root_.string() + " is not the one " +
                        BackupManifest::kFile + " vouches for." + nothing);
    }
    std::int64_t archives = 0, bytes = 0;
    for (auto list = db.Prepare("SELECT file, size FROM archives"); list.Step();) {
        struct stat st {};
        const auto path = ArchivesFolder() / list.ColumnText(0);
        if (::stat(path.c_str(), &st) != 0 || st.st_size != list.ColumnInt(1)) {
            throw Exception("the backup " + root_.string() + " lacks " + path.string() + "." +
                            nothing);
        }
        ++archives;
        bytes += list.ColumnInt(1);
    }
    if (archives != manifest->archives || bytes != manifest->bytes) {
        throw Exception("the backup " + root_.string() + " does not hold what " +
                        BackupManifest::kFile + " counts." + nothing);
    }
    // Whole: from now on a data folder like any other.
    db.Prepare("DELETE FROM settings WHERE name = ?").Bind(1, BackupManifest::kStateSetting).Run();
    std::filesystem::remove(root_ / BackupManifest::kFile);
}

void DataFolder::CheckArchivesFolder(SqliteDatabase& db) const {
    const std::filesystem::path folder = ArchivesFolder();
    const std::filesystem::path mark = folder / kArchivesMark;
    if (const auto expected = ReadSetting(db, kArchivesSetting)) {
        const auto found = ReadMark(mark);
        if (!found) {
            throw Exception("the archives folder " + folder.string() + " is missing or empty (no " +
                            kArchivesMark +
                            "): is the disk it lives on mounted? Nothing was changed.");
        }
        if (*found != *expected) {
            throw Exception("the archives folder " + folder.string() +
                            " belongs to another index than " + DatabaseFile().string() +
                            ". Nothing was changed.");
        }
        return;
    }
    // A new data folder, or one from before the mark: it is marked only when what is there
    // agrees with the index.
    std::int64_t named = 0;
    {
        auto count = db.Prepare("SELECT COUNT(*) FROM archives");
        count.Step();
        named = count.ColumnInt(0);
    }
    std::error_code error;
    const bool exists = std::filesystem::is_directory(folder, error);
    if (named > 0 && (!exists || std::filesystem::is_empty(folder, error))) {
        throw Exception("the archives folder " + folder.string() + " is missing or empty while " +
                        "the index names " + std::to_string(named) +
                        " archives: is the disk it lives on mounted? Nothing was changed.");
    }
    CreateFolder(folder);
    const std::string id = RandomHex(16);
    WriteMark(mark, id);
    WriteSetting(db, kArchivesSetting, id);
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
