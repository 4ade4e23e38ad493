#include "company/BackupCompany.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <filesystem>
#include <utility>
#include <vector>

#include "company/Common.h"
#include "platform/CompanyDatabase.h"
#include "platform/DateTime.h"
#include "platform/Error.h"
#include "platform/FileKit.h"
#include "platform/TempFolder.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

constexpr const char* kUnit = "BackupCompany";
constexpr const char* kCompactedName = "default_compacted.mdb";
constexpr const char* kStagingSuffix = ".restoring";

bool IsFolder(const std::string& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

// Members of an archive being restored land in staging files beside their targets; they
// replace the targets only at Commit, so an archive that breaks off halfway changes nothing.
class StagedRestore {
public:
    explicit StagedRestore(std::string folder) : folder_(std::move(folder)) {}
    StagedRestore(const StagedRestore&) = delete;
    StagedRestore& operator=(const StagedRestore&) = delete;
    ~StagedRestore() {
        for (const auto& member : members_) RemoveFileQuietly(member.staging);
    }

    // The staging file for a target, or empty text when the target's name is no plain file
    // name in the folder (a damaged or hostile archive).
    std::string Stage(const std::string& target) {
        const std::string name = fs::path(target).filename().string();
        if (name.empty() || name == "." || name == ".." || name.find('\\') != std::string::npos) {
            return {};
        }
        const std::string final = folder_ + "/" + name;
        const std::string staging = final + kStagingSuffix;
        for (const auto& member : members_) {
            if (member.final == final) return staging;  // a later member of the same name wins
        }
        RemoveFileQuietly(staging);
        members_.push_back({staging, final});
        return staging;
    }

    // Replaces every target by its staging file, each in one rename.
    void Commit() {
        for (auto& member : members_) {
            std::error_code error;
            fs::rename(member.staging, member.final, error);
            if (error) {
                throw Exception("복원한 파일로 바꿀 수 없습니다 (" + error.message() +
                                "): " + member.final);
            }
            member.staging.clear();
        }
    }

private:
    struct Member {
        std::string staging;
        std::string final;
    };
    std::string folder_;
    std::vector<Member> members_;
};

}  // namespace

TBackupCompany::TBackupCompany() : WorkFolder(EnsureWorkFolder()) {}

void TBackupCompany::Backup(const std::string& ArchiveName, std::string& ResultName) {
    Assert(!SourceFolder.empty(), "Source folder is not specified.", kUnit, 117);
    Assert(IsFolder(SourceFolder), "Source folder does not exists.", kUnit, 118);
    const std::string database = CompanyDatabaseFile(SourceFolder);
    Assert(FileExists(database), "No data found in the source folder.", kUnit, 119);

    // The archive is named after the data, not after the backup: the other side reads the
    // name as the time of the company's database.
    TDateTime time = 0;
    if (!GetFileModifiedTime(database, time)) time = Now();
    ResultName = ArchiveName.empty()
                     ? WorkFolder + "/" + FormatDateTime("yyyymmddhhnnss", time) + ".bck"
                     : ArchiveName;
    if (!IsFolder(ResultName)) ForceFolder(fs::path(ResultName).parent_path().string());

    CopyAndCompact(database);
    const std::string copy = CompanyDatabaseFile(WorkFolder);
    SetFileModifiedTime(copy, time);

    {
        TBackupFile packer;
        packer.BackupTitle = FormatDateTime("yyyy-mm-dd hh:nn", Now()) + "에 만든 백업파일";
        packer.SetBackupMode(bmAll);
        packer.CompressionLevel = clDefault;
        packer.SaveFileID = false;
        if (OnProgress) packer.OnProgress = OnProgress;
        try {
            // A half-written archive must not be taken for a backup by whoever looks for it.
            if (!packer.Backup({copy}, ResultName)) RemoveFileQuietly(ResultName);
        } catch (...) {
            RemoveFileQuietly(ResultName);
            RemoveFileQuietly(copy);
            throw;
        }
    }
    RemoveFileQuietly(copy);
}

bool TBackupCompany::CopyAndCompact(const std::string& DatabaseFile) {
    if (!fs::exists(fs::symlink_status(WorkFolder))) EnsurePrivateFolder(WorkFolder);
    const std::string copy = CompanyDatabaseFile(WorkFolder);
    const std::string compacted = WorkFolder + "/" + kCompactedName;
    // A failed copy raises: packing nothing would look like a backup and lose the data.
    CopyCompanyDatabaseFile(DatabaseFile, copy);
    RemoveFileQuietly(compacted);  // left by an earlier run that failed
    try {
        CompactCompanyDatabase(DatabaseConnectionString(copy, kShareExclusive),
                               DatabaseConnectionString(compacted, kShareExclusive));
        fs::rename(compacted, copy);
    } catch (...) {
        // Not a database this build can compact: the plain copy is packed instead.
        RemoveFileQuietly(compacted);
    }
    return true;
}

bool TBackupCompany::Restore(const std::string& ArchiveName) {
    Assert(!ArchiveName.empty(), "file name is not specified.", kUnit, 162);
    Assert(FileExists(ArchiveName), "file not found.", kUnit, 163);
    Assert(!SourceFolder.empty(), "Source folder is not specified.", kUnit, 164);
    if (!IsFolder(SourceFolder)) ForceFolder(SourceFolder);

    StagedRestore staged(SourceFolder);
    TBackupFile reader;
    reader.RestoreMode = rmAll;
    reader.RestoreFullPath = false;
    if (OnProgress) reader.OnProgress = OnProgress;
    reader.OnRestoreFile = [&staged](TBackupFile*, std::string& Filename, std::int32_t,
                                     bool& DoRestore) {
        if (!DoRestore) return;
        const std::string staging = staged.Stage(Filename);
        if (staging.empty()) {
            DoRestore = false;
        } else {
            Filename = staging;
        }
    };
    const bool result = reader.Restore(ArchiveName, SourceFolder);
    if (result) staged.Commit();
    return result;
}

bool ForceFolder(const std::string& Folder) {
    const fs::path folder(Folder);
    if (folder.filename().empty() || IsFolder(Folder)) return false;
    ForceFolder(folder.parent_path().string());
    if (::mkdir(Folder.c_str(), 0777) != 0) throw Exception(strerror(errno));
    return true;
}

}  // namespace tidewell
