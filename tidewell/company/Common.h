#pragma once

#include <cstdint>
#include <string>

#include "company/HostProduct.h"
#include "platform/Clock.h"
#include "platform/CompanyDatabase.h"
#include "platform/DateTime.h"
#include "platform/FileKit.h"
#include "platform/TempFolder.h"

namespace tidewell {

// The application title that every message box carries.
inline constexpr const char* kApplicationTitle = "Tidewell";

// Size of a file, or of a folder tree with hidden files included; 0 for a missing path.
// Symbolic links are not followed (a link to a folder would otherwise count it twice or loop).
std::int64_t GetPathSize(const std::string& path);

// The last-write time at the two-second resolution of MS-DOS times, local time.
// False, with time unchanged, when the file can't be opened or the time has no packed form.
bool GetFileModifiedTime(const std::string& fileName, TDateTime& time);
// Sets the last-write time at two-second resolution; a time outside 1980..2107 or any
// failure leaves the file alone, silently.
void SetFileModifiedTime(const std::string& fileName, TDateTime time);

// The absolute form of an existing path without a trailing separator; empty when it
// does not exist.
std::string ShellLongPath(const std::string& path);
// The system's temporary folder (as the run's configuration found it) in that form.
std::string GetTempFolder(const WorkPlacesInput& places);
// The user's private work folder (see EnsureWorkPlaces), created when missing.
std::string EnsureWorkFolder(const WorkPlacesInput& places);

// Whether a regular file (not a folder) is at path; false for any error.
bool FileExists(const std::string& path);

// "2KB", "1.5MB", "5.0GB": whole KB below 1 MiB, one decimal above; halves away from zero.
std::string FormatSize(std::int64_t bytes);

void GetAppVersion(std::uint16_t& major, std::uint16_t& minor, std::uint16_t& release,
                   std::uint16_t& build);
std::string GetVersionText();  // "2.0.1.103"

// A modal box titled with the application title, one OK button, no icon.
void ShowAppMessage(const std::string& text);
// An error's text as the application's error report shows it: with a full stop added when its
// last character sorts after ".".
std::string ApplicationErrorText(const std::string& message);

// ---- Company databases ------------------------------------------------------------------
// Every routine opens its own connection to folder + "/default.mdb" and closes it before it
// returns; the host product may keep the database open meanwhile.

// folder + "/default.mdb"
std::string CompanyDatabaseFile(const std::string& folder);

// The time of a company's data: the later of default.mdb's last-write time and that of the
// non-empty file beside it where the engine keeps committed changes not yet in it (see
// PendingChangesFile). False, with time unchanged, when default.mdb's time can't be read.
bool GetCompanyDatabaseTime(const std::string& folder, TDateTime& time);
// Gives default.mdb, and a non-empty file of its pending changes, that time; failures are
// ignored.
void StampCompanyDatabase(const std::string& folder, TDateTime time);
// The same for a database file anywhere (a staged one about to take its place).
void StampDatabaseFile(const std::string& file, TDateTime time);
// How a database file looks from outside, with a non-empty file of its pending changes counted
// in (the later time, the sizes added): committed changes that wait there change it too. Size -1
// when there is no file.
FileSignature DatabaseSignature(const std::string& file);
// "Provider=...;Data Source=<file>;User ID=Admin;Jet OLEDB:Database Password=...;Mode=<mode>;"
std::string DatabaseConnectionString(const std::string& file, const std::string& mode);
// DatabaseConnectionString of folder + "/default.mdb".
std::string CompanyConnectionString(const std::string& folder, const std::string& mode);

// An open dataset that owns its connection: releasing it closes both. Opening errors raise
// CompanyDatabaseError.
CompanyDataset OpenCompanyQuery(const std::string& folder, const std::string& commandText,
                                TCommandType commandType = cmdText);
// Runs one statement. A failing statement is shown in a message box and the call returns
// normally; a database that can't be opened raises.
void ExecCompanySql(const std::string& folder, const std::string& sql);
// The first column of the first row as text (null reads as empty); raises when there is no row.
std::string ReadCompanyString(const std::string& folder, const std::string& sql);
// As ReadCompanyString, with def for every error of any kind.
std::string ReadCompanyStringDef(const std::string& folder, const std::string& sql,
                                 const std::string& def);
// Whether table (bracketed or not) has field, without regard to letter case.
bool CompanyFieldExists(const std::string& folder, const std::string& table,
                        const std::string& field);

// A fresh company key: 32 characters of "0123456789abcdef".
std::string NewCompanyKey(const Clock& clock = SystemClock());
// The stored key, or a new one stored in every row of ver (adding the dbkey column when
// missing). Never empty; raises when the database can't be opened for the writes, and when its
// engine only reads it here (CompanyDatabaseError, ReadOnly): no key is made up that could
// never be stored.
std::string EnsureCompanyKey(const std::string& folder, const Clock& clock = SystemClock());
// The stored key, or empty text; never fails and shows nothing.
std::string ReadCompanyKey(const std::string& folder);

// A company's key for registering it: the stored one, or a new one written into the database
// as EnsureCompanyKey does, without any message box. Stored says whether the database holds
// the key now; Problem says why not (the database busy with another program's writes, locked,
// damaged, or a ver table without a row). ReadOnly: the database holds no key and its engine
// only reads it here; no key was made (Key is empty) and Problem says where one is made.
struct TStoredCompanyKey {
    std::string Key;
    bool Stored = false;
    bool ReadOnly = false;
    std::string Problem;
};
TStoredCompanyKey EnsureStoredCompanyKey(const std::string& folder,
                                         const Clock& clock = SystemClock());

// Why the folder's database does not open as a company database (damaged, not a database,
// locked); empty when it opens.
std::string CompanyDatabaseProblem(const std::string& folder);

}  // namespace tidewell
