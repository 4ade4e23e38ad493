#pragma once

#include <memory>
#include <string>
#include <vector>

#include "archive/backup.h"
#include "platform/Error.h"

namespace tidewell {

// Packs a company's default.mdb into a .bck archive and restores one into a company folder.
// One object serves one operation.
class TBackupCompany {
public:
    // WorkFolder is the private work folder ($TMPDIR/Tidewell), created when missing.
    TBackupCompany();

    std::string SourceFolder;  // the company folder; set before Backup or Restore
    std::string WorkFolder;    // where the database copy and default-named archives go
    TProgressEvent OnProgress; // handed to the archive component
    StopQuery ShouldStop;      // asked while copying, after every block and before a commit
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

    // Unpacks every member into a staging file beside its target and checks them: a member
    // never takes the place of a folder or of the database's own journal files, and the archive
    // must hold a default.mdb that opens as a database and passes quick_check. False when the
    // archive broke off or was cancelled; raises with the reason when a member is refused.
    bool Stage(const std::string& ArchiveName);
    // Replaces the targets, all or nothing, default.mdb last and through the database engine
    // when a database is there (see ReplaceCompanyDatabase).
    void Commit();
    // Why the last Stage returned false: the archive component's error and what lay behind it;
    // empty after a cancel.
    const std::string& Problem() const { return problem_; }

    // A file name is that of a staging file: ".restoring" at the end.
    static bool IsStagingName(const std::string& name);

private:
    struct Member;
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
