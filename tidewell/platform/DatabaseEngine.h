#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ByteSource.h"
#include "platform/DatabaseFormat.h"
#include "platform/Error.h"

namespace tidewell {

// The seam between the company-database routines (CompanyDatabase.h) and the engines that
// read and write the files. Nothing above this folder knows which engine a file has: each
// file gets the engine its first bytes call for.

// What went wrong with a company database, as far as callers need to tell cases apart.
enum class DatabaseProblem {
    Other,         // a statement failed, or something the engine does not say more about
    NotADatabase,  // the file is no database of any engine this build reads
    Damaged,       // a database whose pages do not hold together
    Busy,          // another program holds a lock that did not go within the waiting time
    CannotOpen,    // missing, unreadable, or the folder can't be written
    ReadOnly,      // a write asked of an engine that only reads its files here
};

// Every failure of a company database: the file is missing, not a database, damaged or
// locked, or a statement failed. The text is meant for the user.
class CompanyDatabaseError : public Exception {
public:
    CompanyDatabaseError(const std::string& message, DatabaseProblem problem)
        : Exception(message), problem_(problem) {}
    DatabaseProblem problem() const { return problem_; }

private:
    DatabaseProblem problem_;
};

enum class CompanyShareMode {
    DenyNone,   // others may keep the file open and write to it; short locks are waited out
    Exclusive,  // nobody else may read or write while the connection is open
};

// What replacing a database does while it holds the target's write lock.
struct ReplaceSteps {
    // Where a copy of the current content goes when one has to be made (a path for a new file in
    // a private folder); it is removed afterwards.
    std::string CopyFile;
    // Keeps what is about to be replaced, before anything changes: current gives the current
    // content (every committed change; a file the engine can't read, byte for byte) while the
    // lock holds it still, or is null when there is no file at the target. An error raised here
    // leaves the target as it was.
    std::function<void(ByteSource* current)> KeepCurrent;
    // Runs after KeepCurrent, still before the target changes (the other files of the same
    // change take their places). An error raised here leaves the target as it was.
    std::function<void()> BeforeReplace;
    // The new content is in place, or about to take the target's place in one rename that keeps
    // the file's time and size: file holds it. Meant for giving it its time and noting how it
    // looks, before any other program can write to it.
    std::function<void(const std::string& file)> SettleNew;
};

// The rows of one query, positioned before the first.
class EngineCursor {
public:
    virtual ~EngineCursor() = default;
    virtual bool Step() = 0;  // true when a row is ready
    virtual int ColumnCount() const = 0;
    virtual std::string ColumnName(int column) const = 0;
    virtual bool IsNull(int column) const = 0;
    virtual std::string Text(int column) const = 0;  // null reads as empty text
    virtual std::int64_t Integer(int column) const = 0;
};

// One open connection to a company database. Every failure raises CompanyDatabaseError.
class EngineConnection {
public:
    virtual ~EngineConnection() = default;
    // The cursor keeps what it needs of the connection: it may outlive this object.
    virtual std::unique_ptr<EngineCursor> Query(const std::string& sql) = 0;
    // Exactly one statement; text after it is refused rather than silently skipped.
    virtual void Execute(const std::string& sql) = 0;
    // Column names of a table (bracketed or not), in table order; empty when there is none.
    virtual std::vector<std::string> ColumnNames(const std::string& table) = 0;
    // A compacted copy in destFile, a new file for this user only; a failure leaves none.
    virtual void CompactInto(const std::string& destFile, const StopQuery& stop) = 0;
};

// What the company-database routines ask of an engine. Every failure raises
// CompanyDatabaseError (or OperationStopped when stop asks).
class DatabaseEngine {
public:
    virtual ~DatabaseEngine() = default;

    // The format's name as users know it, for messages.
    virtual std::string Name() const = 0;
    // A connection to an existing file, which is never created here.
    virtual std::unique_ptr<EngineConnection> Open(const std::string& file, CompanyShareMode mode,
                                                   std::chrono::milliseconds busyTimeout) const = 0;
    // A consistent snapshot of a live database, with every committed change, in dest (a new
    // file for this user only); the source may be written by another program meanwhile.
    virtual void Snapshot(const std::string& source, const std::string& dest,
                          const StopQuery& stop) const = 0;
    // The first column of the first row sql gives, reading the file as it stands (nothing is
    // created beside it); nullopt when it can't be read or gives no row.
    virtual std::optional<std::string> ReadFileText(const std::string& file,
                                                    const std::string& sql) const = 0;
    // Raises unless the file opens as a database and its pages hold together.
    virtual void Check(const std::string& file, const StopQuery& stop) const = 0;
    // Puts staged's content in target's place under target's write lock (see
    // ReplaceCompanyDatabase).
    virtual void Replace(const std::string& staged, const std::string& target,
                         const ReplaceSteps& steps, const StopQuery& stop) const = 0;
    // The file's bytes in dest (a new file for this user only), with writers held off.
    virtual void CopyFile(const std::string& source, const std::string& dest) const = 0;
    // Whether another process has the database, or a file of the engine's beside it, open: asked
    // of the engine's own means (its locks, a lock file, the kernel's leases), never by walking
    // every process's handles. Asked while this process holds no lock on the file.
    virtual bool InUse(const std::string& file) const = 0;
    // The files the engine keeps beside a database file (journals, a lock file), by path.
    virtual std::vector<std::string> CompanionFiles(const std::string& file) const = 0;
    // The companion that holds committed changes not yet in the file, whose time and size
    // count as the database's own; empty when the engine keeps none.
    virtual std::string PendingChangesFile(const std::string& file) const = 0;
    // Why nothing is ever written into this engine's files here (no statement, no compaction);
    // empty when the engine writes them.
    virtual std::string WriteRefusal() const { return {}; }
};

// The format of a database file by its first bytes (see DatabaseFormat.h), read in a way that
// leaves alone the locks this process holds on the file; Empty for a file that is missing,
// empty or unreadable.
DatabaseFormat DatabaseFileFormat(const std::string& file);

// The engine for a file by its format: SQLite files to this build's own engine, Jet 4 files to
// the one that reads the host product's files through libmdb (JetEngine.h). A file that is not
// there yet is made by this build's own engine; a file of no format it has an engine for goes
// to that engine too, which can still keep and replace its bytes (the company-database routines
// refuse to read it, naming its format).
const DatabaseEngine& EngineFor(const std::string& file);
// Every engine this build has.
const std::vector<const DatabaseEngine*>& DatabaseEngines();

// A table name as a statement may quote it ([ver], "ver" or `ver`), without the quotes.
std::string UnquoteTableName(const std::string& name);

}  // namespace tidewell
