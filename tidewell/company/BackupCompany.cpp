#include "company/BackupCompany.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
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
constexpr const char* kStagingSuffix = ".restoring";
constexpr const char* kPartialMarker = ".partial-";
constexpr const char* kOldSuffix = ".tidewell-old";

bool IsFolder(const std::string& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// "x.bck" as "x-2.bck" for n = 2.
std::string Numbered(const std::string& name, int n) {
    const fs::path path(name);
    return (path.parent_path() /
            (path.stem().string() + "-" + std::to_string(n) + path.extension().string()))
        .string();
}

// Moves from to to unless to exists; false when it does.
bool MoveUnlessTaken(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno == EEXIST) return false;
    if (errno != EINVAL && errno != ENOSYS) {
        throw Exception("백업 파일의 이름을 정할 수 없습니다 (" + std::string(strerror(errno)) +
                        "): " + to);
    }
    // A file system without that kind of rename: a hard link fails the same way on a taken name.
    if (::link(from.c_str(), to.c_str()) != 0) {
        if (errno == EEXIST) return false;
        throw Exception("백업 파일의 이름을 정할 수 없습니다 (" + std::string(strerror(errno)) +
                        "): " + to);
    }
    ::unlink(from.c_str());
    return true;
}

// Gives the finished archive at temp its name: wanted itself when replace is set, else the first
// of wanted, wanted-2, wanted-3 ... that is free.
std::string PublishArchive(const std::string& temp, const std::string& wanted, bool replace) {
    if (replace) {
        if (::rename(temp.c_str(), wanted.c_str()) != 0) {
            throw Exception("백업 파일의 이름을 정할 수 없습니다 (" + std::string(strerror(errno)) +
                            "): " + wanted);
        }
        return wanted;
    }
    for (int n = 1;; ++n) {
        const std::string candidate = n == 1 ? wanted : Numbered(wanted, n);
        if (MoveUnlessTaken(temp, candidate)) return candidate;
    }
}

// The archive component's own error report, caught to become part of our own error.
std::string ArchiveProblem(const TBackupFile& archive) {
    const std::string detail = archive.ErrorDetail();
    return BackupErrorMessage(archive.ErrorCode()) + (detail.empty() ? "" : " (" + detail + ")");
}

// The caller's progress events, with a stop request turned into a cleared Continue flag.
TProgressEvent Stoppable(const TProgressEvent& onProgress, const StopQuery& stop) {
    return [onProgress, stop](TBackupFile* sender, const std::string& file, TPercentage percent,
                              bool& go) {
        if (onProgress) onProgress(sender, file, percent, go);
        if (StopWanted(stop)) go = false;
    };
}

// A member's file name in a company folder, or empty when it must not be written there.
std::string MemberName(const std::string& target) {
    const std::string name = fs::path(target).filename().string();
    if (name.empty() || name == "." || name == "..") return {};
    // The engine would take these for the new database's own journal.
    if (IsDatabaseCompanionName(kCompanyDatabaseName, name)) return {};
    if (TCompanyRestore::IsStagingName(name) || EndsWith(name, kOldSuffix)) return {};
    return name;
}

// A message about a staging file, naming instead what the user knows: the archive's member. The
// staging file is gone by the time anyone reads it.
std::string AboutMember(std::string message, const std::string& staging,
                        const std::string& member) {
    for (std::size_t at = message.find(staging); at != std::string::npos;
         at = message.find(staging, at + member.size())) {
        message.replace(at, staging.size(), member);
    }
    return message;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Backup

TBackupCompany::TBackupCompany(std::string WorkFolder, const Clock& clock)
    : WorkFolder(std::move(WorkFolder)), clock_(clock) {}

void TBackupCompany::Backup(const std::string& ArchiveName, std::string& ResultName) {
    Assert(!SourceFolder.empty(), "Source folder is not specified.", kUnit, 117);
    Assert(IsFolder(SourceFolder), "Source folder does not exists.", kUnit, 118);
    const std::string database = CompanyDatabaseFile(SourceFolder);
    Assert(FileExists(database), "No data found in the source folder.", kUnit, 119);

    // The archive is named after the data, not after the backup: the other side reads the
    // name as the time of the company's database.
    TDateTime time = 0;
    // Now at the resolution of file times: the name made from it must be the time the copy
    // reads back, or the two sides would never agree.
    if (!GetCompanyDatabaseTime(SourceFolder, time)) time = NowAtFileResolution(clock_);
    const std::string wanted =
        ArchiveName.empty() ? WorkFolder + "/" + FormatDateTime("yyyymmddhhnnss", time) + ".bck"
                            : ArchiveName;
    const std::string folder = fs::path(wanted).parent_path().string();
    if (!IsFolder(wanted)) ForceFolder(folder);

    CopyAndCompact(database);
    const std::string copy = CompanyDatabaseFile(WorkFolder);
    ScopedFileRemoval removeCopy(copy);
    SetFileModifiedTime(copy, time);
    // A default-named archive only lives for one upload; one with a name of its own is kept.
    ResultName = Pack({}, {copy}, wanted, !ArchiveName.empty());
}

void TBackupCompany::KeepFiles(const std::vector<TSourceMember>& Sources,
                               const std::vector<std::string>& Files,
                               const std::string& ArchiveName, std::string& ResultName) {
    Assert(!ArchiveName.empty(), "file name is not specified.", kUnit, __LINE__);
    const std::string folder = fs::path(ArchiveName).parent_path().string();
    if (!IsFolder(folder)) ForceFolder(folder);
    ResultName = Pack(Sources, Files, ArchiveName, true);
}

void TBackupCompany::KeepArchive(const std::string& Archive, const std::string& ArchiveName,
                                 std::string& ResultName) {
    Assert(!ArchiveName.empty(), "file name is not specified.", kUnit, __LINE__);
    const std::string folder = fs::path(ArchiveName).parent_path().string();
    if (!IsFolder(folder)) ForceFolder(folder);
    TemporaryFile temp = CreateTemporaryFile(
        folder, "." + fs::path(ArchiveName).filename().string() + kPartialMarker);
    temp.handle.Reset();
    ScopedFileRemoval removeTemp(temp.path);
    std::error_code ec;
    fs::copy_file(Archive, temp.path, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        throw Exception("백업 파일을 보관하지 못했습니다 (" + ec.message() + "): " + ArchiveName);
    }
    SyncFile(temp.path);
    ResultName = PublishArchive(temp.path.string(), ArchiveName, false);
    SyncFolder(fs::path(ResultName).parent_path());
    removeTemp.Keep();
    struct stat st {};
    if (::stat(CompanyDatabaseFile(SourceFolder).c_str(), &st) == 0) {
        ::chmod(ResultName.c_str(), st.st_mode & 0666);
    }
}

std::string TBackupCompany::Pack(const std::vector<TSourceMember>& sources,
                                 const std::vector<std::string>& files, const std::string& wanted,
                                 bool keeps) {
    const std::string folder = fs::path(wanted).parent_path().string();
    // Written under a hidden name: whoever looks for archives never finds a half-written one.
    TemporaryFile temp =
        CreateTemporaryFile(folder, "." + fs::path(wanted).filename().string() + kPartialMarker);
    temp.handle.Reset();
    ScopedFileRemoval removeTemp(temp.path);

    TBackupFile packer;
    packer.BackupTitle = FormatDateTime("yyyy-mm-dd hh:nn", clock_.Now()) + "에 만든 백업파일";
    packer.SetBackupMode(bmAll);
    packer.CompressionLevel = clDefault;
    packer.SaveFileID = false;
    packer.OnProgress = Stoppable(OnProgress, ShouldStop);
    packer.OnError = [](TBackupFile*, int, const std::string&) {};  // raised below instead
    const bool packed = packer.Backup(sources, files, temp.path.string());
    if (StopWanted(ShouldStop)) throw OperationStopped();
    if (!packed) throw Exception("백업 파일을 만들지 못했습니다: " + ArchiveProblem(packer));

    // An archive that is kept is what protects data about to be replaced: it is on the disk,
    // under its name, before anything relies on it.
    if (keeps) SyncFile(temp.path);
    const std::string result = PublishArchive(temp.path.string(), wanted, !keeps);
    if (keeps) SyncFolder(fs::path(result).parent_path());
    removeTemp.Keep();
    // Whoever may read the data may read its backup, and nobody else.
    struct stat st {};
    if (::stat(CompanyDatabaseFile(SourceFolder).c_str(), &st) == 0) {
        ::chmod(result.c_str(), st.st_mode & 0666);
    }
    return result;
}

bool TBackupCompany::CopyAndCompact(const std::string& DatabaseFile) {
    if (!fs::exists(fs::symlink_status(WorkFolder))) EnsurePrivateFolder(WorkFolder);
    const std::string copy = CompanyDatabaseFile(WorkFolder);
    RemoveFileQuietly(copy);  // left by an earlier run that failed
    try {
        SnapshotCompanyDatabase(DatabaseFile, copy, ShouldStop);
    } catch (const CompanyDatabaseError& error) {
        const bool notADatabase = error.problem() == DatabaseProblem::NotADatabase ||
                                  error.problem() == DatabaseProblem::Damaged;
        if (!SafetyCopy || !notADatabase) throw;
        // What the folder holds is kept as it is; nobody can be writing a database into it.
        CopyCompanyDatabaseFile(DatabaseFile, copy);
    }
    return true;
}

bool TBackupCompany::Restore(const std::string& ArchiveName) {
    Assert(!ArchiveName.empty(), "file name is not specified.", kUnit, 162);
    Assert(FileExists(ArchiveName), "file not found.", kUnit, 163);
    Assert(!SourceFolder.empty(), "Source folder is not specified.", kUnit, 164);
    TCompanyRestore restore(SourceFolder);
    restore.OnProgress = OnProgress;
    restore.ShouldStop = ShouldStop;
    if (!restore.Stage(ArchiveName)) return false;
    restore.Commit();
    return true;
}

// ---------------------------------------------------------------------------------------
// Restore

struct TCompanyRestore::Member {
    std::string staging;
    std::string final;
    bool committed = false;
    bool keptOld = false;  // the previous file waits under its old name until the end
};

TCompanyRestore::TCompanyRestore(std::string folder) : folder_(std::move(folder)) {}

TCompanyRestore::~TCompanyRestore() {
    for (const Member& member : members_) {
        if (!member.committed) RemoveFileQuietly(member.staging);
    }
}

bool TCompanyRestore::IsStagingName(const std::string& name) {
    return EndsWith(name, kStagingSuffix);
}

void TCompanyRestore::CheckFolder() {
    const std::optional<FileIdentity> now = IdentityOf(folder_);
    if (!FolderIdentity) {
        FolderIdentity = now;
        return;
    }
    if (now != FolderIdentity) {
        throw Exception((CompanyName.empty() ? std::string() : CompanyName + ": ") +
                        "작업하는 동안 사업장 폴더가 사라졌거나 다른 폴더로 바뀌어 아무것도 바꾸지 "
                        "않았습니다.\r\n" +
                        folder_);
    }
}

void TCompanyRestore::CheckOwner(const std::string& staged) const {
    if (CompanyKey.empty()) return;
    const std::string key = ReadDatabaseFileText(staged, kCompanyKeyQuery).value_or("");
    if (key == CompanyKey || (key.empty() && ReadCompanyKey(folder_).empty())) return;
    std::string other = ReadDatabaseFileText(staged, kCompanyNameQuery).value_or("");
    if (other.empty()) other = key.empty() ? "사업장 키 없음" : key;
    throw Exception(CompanyName + ": 복원할 자료가 다른 사업장(" + other +
                    ")의 자료여서 복원하지 않았습니다. 이 컴퓨터의 자료는 그대로 있습니다.");
}

void TCompanyRestore::CheckFormat(const std::string& staged) const {
    const DatabaseFormat local = DatabaseFileFormat(CompanyDatabaseFile(folder_));
    const DatabaseFormat arriving = DatabaseFileFormat(staged);
    // A file that is no database of either engine is replaced whatever comes: its bytes go into
    // the safety archive as they are.
    if (local == arriving || !IsCompanyDatabaseFormat(local)) return;
    const std::string localName = DatabaseFormatName(local);
    const std::string newName = DatabaseFormatName(arriving);
    if (ConfirmFormatChange && ConfirmFormatChange(localName, newName)) return;
    throw Exception((CompanyName.empty() ? std::string() : CompanyName + ": ") + "복원할 자료(" +
                    newName + ")가 이 컴퓨터의 자료(" + localName +
                    ")와 형식이 달라 복원하지 않았습니다. 이 컴퓨터의 자료는 그대로 있습니다.");
}

bool TCompanyRestore::Stage(const std::string& ArchiveName) {
    // A folder that was there when the operation began and is gone now is not made again: its
    // path may lead to an empty mount point by now.
    if (!IsFolder(folder_) && !FolderIdentity) ForceFolder(folder_);
    CheckFolder();
    std::string refused;
    std::string cannotCreate;
    TBackupFile reader;
    reader.RestoreMode = rmAll;
    reader.RestoreFullPath = false;
    reader.OnProgress = Stoppable(OnProgress, ShouldStop);
    reader.OnRestoreFile = [&](TBackupFile*, std::string& Filename, std::int32_t, bool& DoRestore) {
        if (!DoRestore) return;
        const std::string name = MemberName(Filename);
        const std::string final = name.empty() ? std::string() : folder_ + "/" + name;
        std::error_code ec;
        if (name.empty() || fs::is_directory(fs::symlink_status(final, ec))) {
            refused = Filename;
            DoRestore = false;
            return;
        }
        const std::string staging = final + kStagingSuffix;
        Filename = staging;
        for (const Member& member : members_) {
            if (member.final == final) return;  // a later member of the same name wins
        }
        RemoveFileQuietly(staging);
        // Made private before its first byte: the archive's writer only truncates it, and
        // nobody else reads the company's data while it arrives.
        try {
            CreatePrivateFile(staging);
        } catch (const Exception& error) {
            if (cannotCreate.empty()) cannotCreate = error.what();
            DoRestore = false;
            return;
        }
        members_.push_back({staging, final});
    };
    reader.OnError = [](TBackupFile*, int, const std::string&) {};  // kept in Problem() instead
    problem_.clear();
    const bool complete = reader.Restore(ArchiveName, folder_);
    if (StopWanted(ShouldStop)) throw OperationStopped();
    if (reader.ErrorCode() != 0) problem_ = ArchiveProblem(reader);
    if (!cannotCreate.empty()) throw Exception(cannotCreate);
    if (!refused.empty()) {
        throw Exception(
            "내려받은 자료에 사업장 폴더에 쓸 수 없는 항목이 있어 복원하지 않았습니다: " + refused);
    }
    if (!complete) return false;

    const std::string database = CompanyDatabaseFile(folder_);
    const Member* staged = nullptr;
    for (const Member& member : members_) {
        if (member.final == database) staged = &member;
    }
    if (!staged) throw Exception("내려받은 자료에 사업장 데이터베이스(default.mdb)가 없습니다.");
    try {
        CheckCompanyDatabaseFile(staged->staging, ShouldStop);
    } catch (const CompanyDatabaseError& error) {
        const std::string member =
            fs::path(ArchiveName).filename().string() + "의 " + kCompanyDatabaseName;
        throw Exception(
            "내려받은 자료가 올바른 사업장 데이터베이스가 아니어서 복원하지 않았습니다.\r\n" +
            AboutMember(error.what(), staged->staging, member));
    }
    CheckOwner(staged->staging);
    CheckFormat(staged->staging);
    return true;
}

void TCompanyRestore::Commit(const TCommitSteps& steps) {
    const std::string database = CompanyDatabaseFile(folder_);
    CheckFolder();
    for (const Member& member : members_) {
        std::error_code ec;
        if (fs::is_directory(fs::symlink_status(member.final, ec))) {
            throw Exception("폴더를 복원한 파일로 바꿀 수 없습니다: " + member.final);
        }
    }
    const Member* staged = nullptr;
    for (const Member& member : members_) {
        if (member.final == database) staged = &member;
    }
    if (!staged) throw Exception("복원할 자료에 사업장 데이터베이스(default.mdb)가 없습니다.");

    // Under the database's lock: what is kept, the other files, the database. Everything but the
    // database goes first, each previous file kept aside, so that a failure anywhere puts every
    // file back.
    ReplaceSteps replace;
    replace.CopyFile = steps.CopyFile;
    if (steps.KeepCurrent) {
        replace.KeepCurrent = [&](ByteSource* current) {
            std::vector<std::string> others;
            for (const Member& member : members_) {
                std::error_code ec;
                if (member.final != database &&
                    fs::is_regular_file(fs::symlink_status(member.final, ec))) {
                    others.push_back(member.final);
                }
            }
            steps.KeepCurrent(current, others);
        };
    }
    replace.BeforeReplace = [&] {
        CheckFolder();
        for (Member& member : members_) {
            if (member.final == database) continue;
            std::error_code ec;
            member.keptOld = fs::exists(fs::symlink_status(member.final, ec));
            if (member.keptOld) fs::rename(member.final, member.final + kOldSuffix);
            fs::rename(member.staging, member.final);
            member.committed = true;
        }
    };
    replace.SettleNew = steps.SettleNew;
    auto rollBack = [this] {
        for (Member& member : members_) {
            if (!member.committed) continue;
            if (member.keptOld) {
                ::rename((member.final + kOldSuffix).c_str(), member.final.c_str());
            } else {
                RemoveFileQuietly(member.final);
            }
            member.committed = false;
        }
    };
    try {
        ReplaceCompanyDatabase(staged->staging, database, replace, ShouldStop);
        RemoveFileQuietly(staged->staging);
    } catch (const fs::filesystem_error& error) {
        rollBack();
        throw Exception("복원한 파일로 바꿀 수 없습니다 (" + error.code().message() +
                        "): " + error.path1().string());
    } catch (...) {
        rollBack();
        throw;
    }
    for (Member& member : members_) {
        if (member.keptOld) RemoveFileQuietly(member.final + kOldSuffix);
        member.committed = true;
    }
}

// ---------------------------------------------------------------------------------------

bool ForceFolder(const std::string& Folder) {
    const fs::path folder(Folder);
    if (folder.filename().empty() || IsFolder(Folder)) return false;
    ForceFolder(folder.parent_path().string());
    if (::mkdir(Folder.c_str(), 0777) != 0) throw Exception(strerror(errno));
    return true;
}

void RemoveCompanyLeftovers(const std::string& folder) {
    // Names first: the folder changes under the loop otherwise.
    auto names = [](const fs::path& where) {
        std::vector<std::string> found;
        std::error_code ec;
        for (fs::directory_iterator it(where, ec), end; !ec && it != end; it.increment(ec)) {
            found.push_back(it->path().filename().string());
        }
        return found;
    };
    for (const std::string& name : names(folder)) {
        const fs::path path = fs::path(folder) / name;
        if (TCompanyRestore::IsStagingName(name)) {
            RemoveFileQuietly(path);
        } else if (EndsWith(name, kOldSuffix)) {
            // A commit cut short: the file it had moved aside comes back unless its successor
            // is already in place.
            const fs::path back =
                fs::path(folder) / name.substr(0, name.size() - strlen(kOldSuffix));
            std::error_code ec;
            if (fs::exists(fs::symlink_status(back, ec))) {
                RemoveFileQuietly(path);
            } else {
                fs::rename(path, back, ec);
            }
        }
    }
    const fs::path backups = fs::path(folder) / "Backup";
    for (const std::string& name : names(backups)) {
        if (name.starts_with(".") && name.find(kPartialMarker) != std::string::npos) {
            RemoveFileQuietly(backups / name);
        }
    }
}

}  // namespace tidewell
