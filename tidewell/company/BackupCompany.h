#pragma once

#include <string>

#include "archive/backup.h"

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

    // Copies, compacts and packs SourceFolder's default.mdb. An empty ArchiveName means
    // WorkFolder + "/" + the database's last-write time as yyyymmddhhnnss + ".bck".
    // ResultName receives the archive's path; it exists afterwards only when the packing
    // succeeded (the archive component reports its own failures). The live database is only
    // read. Raises when SourceFolder holds no database or the database can't be copied.
    void Backup(const std::string& ArchiveName, std::string& ResultName);

    // Unpacks the archive into SourceFolder (created when missing). Each member is first
    // written beside its target and replaces it only when the whole archive was read without
    // error or cancel, so a failed restore leaves the previous default.mdb as it was.
    // True when everything was restored.
    bool Restore(const std::string& ArchiveName);

    // Copies DatabaseFile to WorkFolder/default.mdb (owner-only) and compacts the copy there;
    // when compaction fails the plain copy stays. Raises when the copy fails.
    bool CopyAndCompact(const std::string& DatabaseFile);
};

// Creates Folder and its missing parents. False when Folder already exists or ends in a
// separator; raises the system's error text when a folder can't be created.
bool ForceFolder(const std::string& Folder);

}  // namespace tidewell
