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

std::int64_t ReadInteger(const SqliteDatabase& db, const char* sql) {
    SqliteStatement statement(db, sql);
    return statement.Step() ? statement.ColumnInt(0) : 0;
}

}  // namespace

DataFolder::DataFolder(std::filesystem::path root) : root_(std::move(root)) {
    if (root_.empty()) throw Exception("the data folder is not given");
    CreateFolder(root_);
    CreateFolder(ArchivesFolder());
    CreateFolder(UploadsFolder());

    SqliteDatabase db = Open();
    {
        auto mode = db.Prepare("PRAGMA journal_mode=WAL");
        if (!mode.Step() || mode.ColumnText(0) != "wal") {
            throw Exception("the database can't use write-ahead logging: " +
                            DatabaseFile().string());
        }
    }
    SqliteTransaction transaction(db);
    if (ReadInteger(db, "PRAGMA user_version") > kSchemaVersion) {
        throw Exception("the data folder was made by a newer version of this program: " +
                        root_.string());
    }
    db.Execute(kSchema);
    db.Execute("PRAGMA user_version=" + std::to_string(kSchemaVersion));
    transaction.Commit();
}

SqliteDatabase DataFolder::Open() const {
    SqliteDatabase db(DatabaseFile(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    // Writers queue behind each other rather than fail; an upload's commit is short.
    sqlite3_busy_timeout(db.get(), 30000);
    db.Execute("PRAGMA foreign_keys=ON; PRAGMA synchronous=FULL");
    return db;
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

}  // namespace tidewell::webfolder
