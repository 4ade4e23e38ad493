#pragma once

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "BackupManifest.h"
#include "platform/FileHandle.h"
#include "platform/Sqlite.h"

namespace tidewell::webfolder {

// Long-lived connections to the index database, lent out one at a time. They stay open for
// the life of the process: SQLite removes the -wal and -shm files when the last connection
// closes and must create them again at the next open, which a full disk refuses, and then
// even logins and downloads would fail. The first is opened at once, the others when
// requests first overlap, up to size.
class DatabasePool {
public:
    DatabasePool(const std::filesystem::path& file, std::size_t size);

    // The connection goes back to the pool when the lease ends.
    class Lease {
    public:
        Lease(DatabasePool& pool, std::unique_ptr<SqliteDatabase> db)
            : pool_(&pool), db_(std::move(db)) {}
        Lease(Lease&&) = default;
        Lease& operator=(Lease&&) = delete;
        ~Lease();
        SqliteDatabase& operator*() const { return *db_; }
        SqliteDatabase* operator->() const { return db_.get(); }

    private:
        DatabasePool* pool_;
        std::unique_ptr<SqliteDatabase> db_;
    };

    Lease Borrow();

private:
    std::filesystem::path file_;
    std::size_t size_;
    std::size_t opened_ = 0;
    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<SqliteDatabase>> idle_;
};

// The service's state under one folder: the index database (accounts, companies, archives),
// the stored archives, and uploads still arriving. The folder is private to the service's
// user: the folders are 0700 and every file 0600, tightened at every start.
//
// The archives folder carries a mark that the index names, so that a folder which is missing,
// empty or another one (a disk not mounted yet, a mix-up) stops everything with a clear error
// instead of looking as if every archive were gone.
class DataFolder {
public:
    static constexpr char kArchivesMark[] = ".tidewell-archives";
    static constexpr char kArchivesSetting[] = "archives_id";

    // Creates what is missing and brings the database's tables up; raises Exception when the
    // folder can't be used. connections: how many requests may use the database at once.
    explicit DataFolder(std::filesystem::path root, std::size_t connections = 1);

    const std::filesystem::path& Root() const { return root_; }
    std::filesystem::path DatabaseFile() const { return root_ / "webfolder.db"; }
    std::filesystem::path ArchivesFolder() const { return root_ / "archives"; }
    std::filesystem::path UploadsFolder() const { return root_ / "uploads"; }

    // A connection of the pool, for one request or step.
    DatabasePool::Lease Database() const { return pool_->Borrow(); }

    // Claims the folder for one serving process (released when the handle closes). Serving
    // repairs files and index at start, which would break the uploads of a second service on
    // the same folder; raises Exception when another one holds it.
    FileHandle ClaimForServing() const;

    // How many modes the start had to tighten.
    int ModesTightened() const { return tightened_; }

private:
    void AcceptBackup(SqliteDatabase& db, const std::optional<BackupManifest>& manifest,
                      const std::string& checksum) const;
    void CheckArchivesFolder(SqliteDatabase& db) const;

    std::filesystem::path root_;
    int tightened_ = 0;
    std::unique_ptr<DatabasePool> pool_;
};

// A value of the index's settings table.
std::optional<std::string> ReadSetting(SqliteDatabase& db, const std::string& name);
void WriteSetting(SqliteDatabase& db, const std::string& name, const std::string& value);

// Opens one connection as the service uses it.
SqliteDatabase OpenDatabase(const std::filesystem::path& file);

// Folders 0700, regular files 0600, below and including root; symbolic links are left alone.
// Returns how many entries it had to change.
int TightenModes(const std::filesystem::path& root);

}  // namespace tidewell::webfolder
