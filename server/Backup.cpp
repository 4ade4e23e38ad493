#include "Backup.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <vector>

#include "BackupManifest.h"
#include "platform/Error.h"
#include "platform/FileKit.h"

namespace fs = std::filesystem;

namespace tidewell::webfolder {
namespace {

// A folder that is removed with everything in it when it goes out of scope.
class StagingFolder {
public:
    explicit StagingFolder(const fs::path& parent)
        : path_(CreatePrivateFolder(parent, "backup-staging-")) {}
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;
    ~StagingFolder() { RemoveTreeQuietly(path_); }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

void MakeFolder(const fs::path& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        const int code = errno;
        throw SystemError("cannot create " + folder.string() + ": " + strerror(code), code);
    }
}

// The copy says it is an unfinished backup until its manifest vouches for it.
void CopyIndex(SqliteDatabase& source, const fs::path& target) {
    SqliteDatabase copy(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    sqlite3_backup* backup = sqlite3_backup_init(copy.get(), "main", source.get(), "main");
    if (backup == nullptr) copy.Fail(sqlite3_errcode(copy.get()));
    const int stepped = sqlite3_backup_step(backup, -1);
    const int finished = sqlite3_backup_finish(backup);
    if (stepped != SQLITE_DONE) copy.Fail(stepped);
    if (finished != SQLITE_OK) copy.Fail(finished);
    WriteSetting(copy, BackupManifest::kStateSetting, "unfinished");
}

void WriteFile(const fs::path& file, const std::string& text) {
    {
        const FileHandle out = CreatePrivateFile(file);
        WriteAll(out.get(), text.data(), text.size(), file.string());
    }
    SyncFile(file);
}

void CopyFile(const fs::path& from, const fs::path& to) {
    fs::copy_file(from, to);
    SyncFile(to);
}

}  // namespace

BackupResult BackupDataFolder(const DataFolder& folder, const fs::path& destination) {
    if (::mkdir(destination.c_str(), 0700) != 0) {
        throw Exception("cannot create the backup folder " + destination.string() + ": " +
                        strerror(errno) + " (it must not exist yet)");
    }
    // Until the very end the folder says it is no data folder yet, however early a kill.
    WriteFile(destination / BackupManifest::kUnfinishedFile, "");
    SyncFolder(destination);
    MakeFolder(destination / "archives");
    MakeFolder(destination / "uploads");
    const StagingFolder staging(folder.Root());

    std::vector<std::pair<std::string, std::int64_t>> files;
    const fs::path index = destination / "webfolder.db";
    {
        // Holding the write lock keeps every archive the index names in place: files are
        // removed only after a write has committed.
        auto writer = folder.Database();
        SqliteTransaction hold(*writer);
        SqliteDatabase reader = OpenDatabase(folder.DatabaseFile());
        CopyIndex(reader, index);
        for (auto list = reader.Prepare("SELECT file, size FROM archives"); list.Step();) {
            files.emplace_back(list.ColumnText(0), list.ColumnInt(1));
        }
        for (const auto& [file, size] : files) {
            const fs::path staged = staging.Path() / file;
            MakeFolder(staged.parent_path());
            const fs::path original = folder.ArchivesFolder() / file;
            if (::link(original.c_str(), staged.c_str()) != 0) {
                const int code = errno;
                throw SystemError("cannot link " + original.string() + ": " + strerror(code), code);
            }
        }
    }

    BackupResult result;
    for (const auto& [file, size] : files) {
        const fs::path target = destination / "archives" / file;
        MakeFolder(target.parent_path());
        CopyFile(staging.Path() / file, target);
        ++result.archives;
        result.bytes += size;
    }
    std::optional<std::string> mark;
    {
        SqliteDatabase copy(index, SQLITE_OPEN_READWRITE);
        mark = ReadSetting(copy, DataFolder::kArchivesSetting);
    }
    if (mark) {
        WriteFile(destination / "archives" / DataFolder::kArchivesMark, *mark + "\n");
    }
    for (const auto& entry : fs::directory_iterator(destination / "archives")) {
        if (entry.is_directory()) SyncFolder(entry.path());
    }
    SyncFolder(destination / "archives");
    SyncFile(index);
    // Last: what vouches for the rest.
    BackupManifest{static_cast<std::int64_t>(result.archives), result.bytes, FileSha256(index)}
        .Write(destination);
    fs::remove(destination / BackupManifest::kUnfinishedFile);
    SyncFolder(destination);
    return result;
}

BackupResult RestoreBackup(const fs::path& backup, const fs::path& destination) {
    const auto manifest = BackupManifest::Read(backup);
    if (!manifest) {
        throw Exception(backup.string() + " is no whole backup: it has no " +
                        BackupManifest::kFile);
    }
    if (::mkdir(destination.c_str(), 0700) != 0) {
        throw Exception("cannot create " + destination.string() + ": " + strerror(errno) +
                        " (it must not exist yet)");
    }
    for (const auto& entry : fs::recursive_directory_iterator(backup)) {
        const fs::path target = destination / fs::relative(entry.path(), backup);
        if (entry.is_directory()) {
            MakeFolder(target);
        } else if (entry.is_regular_file()) {
            CopyFile(entry.path(), target);
        }
    }
    for (const auto& entry : fs::recursive_directory_iterator(destination)) {
        if (entry.is_directory()) SyncFolder(entry.path());
    }
    SyncFolder(destination);
    // Checks the copy against what the backup vouches for, and takes it into use.
    const DataFolder accepted(destination);
    return {static_cast<std::size_t>(manifest->archives), manifest->bytes};
}

}  // namespace tidewell::webfolder
