#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/DateTime.h"

namespace tidewell {

// A safety archive in a company's Backup folder: the data a download (or a return to an
// earlier state) replaced.
struct TSafetyArchive {
    std::string Path;
    std::string Name;        // the file's name
    TDateTime DataTime = 0;  // the time stored with the database in it; zero when unreadable
    TDateTime MadeTime = 0;  // when the archive was written
    std::int64_t Size = 0;   // bytes of the archive file
};

// Where a company's safety archives go: its Backup folder, or, when that is a link to a folder
// of this user's (another disk, say), the folder it leads to, so that an archive is written,
// synced and named where it stays. A link to anything else, or something other than a folder
// at the name, raises before anything is written. The folder need not exist yet.
std::string SafetyArchiveFolder(const std::string& companyFolder);

// The name of a new safety archive made now: safetyFolder/tidewell + yyyymmddhhnn + ".bck".
std::string SafetyArchiveName(const std::string& safetyFolder, TDateTime now);

// The safety archives of a company, newest first. Each is read with the archive component as
// far as its first member's name and date.
std::vector<TSafetyArchive> ListSafetyArchives(const std::string& companyFolder);

// How many safety archives a company keeps unless the user says otherwise.
inline constexpr int kDefaultSafetyArchivesKept = 10;

// Removes a company's safety archives beyond the kept newest ones (the newest always stays,
// whatever kept says). The archives removed; one that can't be removed stays and is not named.
std::vector<TSafetyArchive> PruneSafetyArchives(const std::string& companyFolder, int kept);

// Removes one of the company's safety archives, named by its path as ListSafetyArchives gave
// it; raises Exception for a path that is none of them, or that can't be removed.
void RemoveSafetyArchive(const std::string& companyFolder, const std::string& archivePath);

}  // namespace tidewell
