#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Error.h"

namespace tidewell {

// Company databases of the home platform are Jet 4 files. They are read through libmdb, never
// written. libmdb loops or swallows memory on some damaged files, so every read runs in the
// program tidewell-jet-reader, a process of its own with a CPU-time and a memory limit, killed
// when it outlasts a wall-clock limit: a hostile file costs this process nothing but the wait.

// What went wrong with a Jet database; the text of the error is meant for the user.
enum class JetProblem {
    NotJet4,        // the file is of another format (the text names it)
    Damaged,        // libmdb can't read it, or reading it broke a limit
    NotCompany,     // a sound Jet 4 file without the company's version table
    ReaderMissing,  // tidewell-jet-reader is not installed where it belongs
    InUse,          // another program has it open or locked
    Changed,        // another program wrote to it while it was copied
    FileAccess,     // the file system refused a read, write or rename
};

// Its text is the reason followed by the file's name; a caller that knows the file by another
// name (an archive member rather than the staging file it was put in) uses reason() with its own.
class JetDatabaseError : public Exception {
public:
    JetDatabaseError(JetProblem problem, const std::string& reason,
                     const std::filesystem::path& file = {})
        : Exception(file.empty() ? reason : reason + ": " + file.string()),
          problem_(problem),
          reason_(reason) {}
    JetProblem problem() const { return problem_; }
    const std::string& reason() const { return reason_; }

private:
    JetProblem problem_;
    std::string reason_;
};

// How much one read may cost. The defaults leave room for the largest company files.
struct JetReaderLimits {
    std::chrono::milliseconds timeout{30000};  // wall clock, waiting for the disk included
    int cpuSeconds = 20;
    int memoryMb = 1024;
};

// The table every company database has; the check reads it in full.
inline constexpr const char* kJetVersionTable = "ver";

// Raises JetDatabaseError unless file is a Jet 4 database that opens through libmdb and whose
// catalogue and version table read: what a Jet file must pass before it replaces a company's
// data or is packed for upload. A stop request kills the reader and raises OperationStopped.
void CheckJetDatabase(const std::filesystem::path& file, const StopQuery& stop = {},
                      const JetReaderLimits& limits = {});

// The value of column in table's first row, as text (a null reads as empty text); nullopt when
// the table has no row. Raises JetDatabaseError when the file is no sound Jet 4 file or has no
// such table or column (NotCompany), or OperationStopped. Names match without regard to ASCII
// case.
std::optional<std::string> JetFirstValue(const std::filesystem::path& file,
                                         const std::string& table, const std::string& column,
                                         const StopQuery& stop = {},
                                         const JetReaderLimits& limits = {});
// The names of table's columns in table order; raises as JetFirstValue does.
std::vector<std::string> JetColumnNames(const std::filesystem::path& file, const std::string& table,
                                        const StopQuery& stop = {},
                                        const JetReaderLimits& limits = {});

// JetFirstValue with nullopt for any failure as well (no such file, another format, damage, no
// table, column or row).
std::optional<std::string> ReadJetFirstValue(const std::filesystem::path& file,
                                             const std::string& table, const std::string& column,
                                             const JetReaderLimits& limits = {});

// The company's key (ver.dbkey) and name (userinfo.legalname), first row; nullopt on any failure.
std::optional<std::string> ReadJetCompanyKey(const std::filesystem::path& file);
std::optional<std::string> ReadJetCompanyName(const std::filesystem::path& file);

// Where tidewell-jet-reader lies: TIDEWELL_JET_READER when set, else where the installation puts
// it beside this program. Raises JetDatabaseError (ReaderMissing) when there is none.
std::filesystem::path JetReaderProgram();

}  // namespace tidewell
