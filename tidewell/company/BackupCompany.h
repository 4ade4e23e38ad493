#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/backup.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/FileKit.h"

namespace tidewell {

// Packs a company's default.mdb into a .bck archive and restores one into a company folder.
// One object serves one operation.
class TBackupCompany {
public:
    // WorkFolder: a private folder of the user's (see EnsureWorkFolder), made when missing.
    explicit TBackupCompany(std::string WorkFolder, const Clock& clock = SystemClock());

    std::string SourceFolder;   // the company folder; set before Backup or Restore
    std::string WorkFolder;     // where the database copy and default-named archives go
    TProgressEvent OnProgress;  // handed to the archive component
    StopQuery ShouldStop;       // asked while copying, after every block and before a commit
    // A safety copy keeps whatever the folder holds: a default.mdb that is no database (or a
    // damaged one) is packed byte for byte instead of being refused.
    bool SafetyCopy = false;

    // Snapshots, compacts and packs SourceFolder's default.mdb while the host product may keep
    // it open. An empty ArchiveName means WorkFolder + "/" + the data's time (see
    // GetCompanyDatabaseTime) as yyyymmddhhnnss + ".bck", which replaces an archive of that
    // name; an explicit name that is taken already gets a counter ("x-2.bck", "x-3.bck" ...),
    // so no archive is ever overwritten. The archive is written under a hidden temporary name
    // and takes its name only when complete. ResultName receives the path. Raises when
    // SourceFolder holds no database, the copy or the packing fails (the archive component's
    // error text) and OperationStopped when ShouldStop asks.
    void Backup(const std::string& ArchiveName, std::string& ResultName);

    // Unpacks the archive into SourceFolder (created when missing); see TCompanyRestore. True
    // when everything was restored; false when the archive broke off or was cancelled, and
    // then nothing in the folder changed. Raises when the archive holds no acceptable database.
    bool Restore(const std::string& ArchiveName);

    // Writes a consistent, compacted snapshot of DatabaseFile to WorkFolder/default.mdb
    // (owner-only). Raises when it can't be made.
    bool CopyAndCompact(const std::string& DatabaseFile);

    // Packs Sources and then Files as they are (the database first, named default.mdb) into a
    // kept archive at ArchiveName (its folder made when missing; a name that is taken gets a
    // counter, as in Backup), on the disk and under its name before this returns. Raises as
    // Backup does.
    void KeepFiles(const std::vector<TSourceMember>& Sources, const std::vector<std::string>& Files,
                   const std::string& ArchiveName, std::string& ResultName);
    void KeepFiles(const std::vector<std::string>& Files, const std::string& ArchiveName,
                   std::string& ResultName) {
        KeepFiles({}, Files, ArchiveName, ResultName);
    }
    // Keeps a finished archive made elsewhere (the web folder's, fetched) as it is: copied to
    // ArchiveName's folder under a hidden name, made durable, then given ArchiveName (or a
    // counter, as in KeepFiles). ResultName receives the path.
    void KeepArchive(const std::string& Archive, const std::string& ArchiveName,
                     std::string& ResultName);

private:
    const Clock& clock_;
    // Packs files into an archive under a hidden name and gives it the name wanted: kept
    // archives are synced and never replace another; the path it got.
    std::string Pack(const std::vector<TSourceMember>& sources,
                     const std::vector<std::string>& files, const std::string& wanted, bool keeps);
};

// What TCompanyRestore::Commit does while it holds the company database's write lock.
struct TCommitSteps {
    // Where a copy of the current database goes if one has to be made (a new file named
    // default.mdb in a private folder); used only with KeepCurrent.
    std::string CopyFile;
    // Keeps what the commit is about to replace: the database's current content, read while the
    // lock holds it still (null when the folder holds no database), and every other file of the
    // folder that a member will replace. An error raised here changes nothing.
    std::function<void(ByteSource* database, const std::vector<std::string>& others)> KeepCurrent;
    // The new database is in place, or about to take its place in a rename that keeps its time
    // and size: file holds it (see ReplaceSteps).
    std::function<void(const std::string& file)> SettleNew;
};

// Restoring an archive into a company folder in two steps, so that the data it replaces can be
// packed into a safety archive between them, as late as possible.
class TCompanyRestore {
public:
    explicit TCompanyRestore(std::string folder);
    TCompanyRestore(const TCompanyRestore&) = delete;
    TCompanyRestore& operator=(const TCompanyRestore&) = delete;
    ~TCompanyRestore();  // removes whatever is still staged

    TProgressEvent OnProgress;
    StopQuery ShouldStop;
    // The company the data must belong to (its name is for the messages). When the key is set,
    // a staged database with another key is refused, and one without a key is taken only where
    // the folder's own database has none either.
    std::string CompanyKey;
    std::string CompanyName;
    // The folder as it was when the operation began: nothing is written into a folder that is
    // another one by then (a drive unplugged, its bare mount point left at the path). Unset,
    // Stage notes the folder as it finds or makes it.
    std::optional<FileIdentity> FolderIdentity;
    // Asked when the archive's database is of another engine than the folder's (SQLite where a
    // Jet 4 database is, or the other way round), with both formats as users read them: true
    // lets the archive's take its place. Unset, such an archive is refused: a company never
    // changes engine unless the user says so.
    std::function<bool(const std::string& localFormat, const std::string& newFormat)>
        ConfirmFormatChange;

    // Unpacks every member into a staging file (owner-only from its first byte) beside its
    // target and checks them: a member never takes the place of a folder or of the database's
    // own journal files, and the archive must hold a default.mdb that opens as a database,
    // passes quick_check and belongs to the company. False when the archive broke off or was
    // cancelled; raises with the reason when a member or the data is refused (a database is named
    // as the archive's member then, never as the staging file it was in).
    bool Stage(const std::string& ArchiveName);
    // Replaces the targets, all or nothing, default.mdb last and through the database engine
    // when a database is there (see ReplaceCompanyDatabase); the steps run under its lock.
    void Commit(const TCommitSteps& steps = {});
    // Why the last Stage returned false: the archive component's error and what lay behind it;
    // empty after a cancel.
    const std::string& Problem() const { return problem_; }

    // A file name is that of a staging file: ".restoring" at the end.
    static bool IsStagingName(const std::string& name);

private:
    struct Member;
    void CheckFolder();
    void CheckOwner(const std::string& staged) const;
    void CheckFormat(const std::string& staged) const;

    std::string folder_;
    std::vector<Member> members_;
    std::string problem_;
};

// Creates Folder and its missing parents. False when Folder already exists or ends in a
// separator; raises the system's error text when a folder can't be created.
bool ForceFolder(const std::string& Folder);

// Removes what an interrupted restore or backup left in a company folder: staging files beside
// the database and unfinished safety archives in its Backup folder.
void RemoveCompanyLeftovers(const std::string& folder);

}  // namespace tidewell
