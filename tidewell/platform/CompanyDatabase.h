#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/DatabaseEngine.h"
#include "platform/Error.h"

namespace tidewell {

// Company databases (default.mdb). Callers speak in the connection strings and share modes the
// host product knows; these routines map them onto the engine the file calls for (see
// DatabaseEngine.h), so that nothing above this folder knows which engine that is.

struct CompanyConnectionParams {
    std::string dataSource;
    CompanyShareMode mode = CompanyShareMode::DenyNone;
};

// Reads "Key=Value;..." (keys without regard to case, values optionally in double or single
// quotes with the quote doubled inside). Data Source is required; Mode defaults to
// "Share Deny None". Provider, user and password are accepted and ignored.
CompanyConnectionParams ParseCompanyConnectionString(const std::string& connectionString);

// Quotes a connection-string value when it would otherwise be misread (a ';', a quote or
// surrounding spaces); ordinary values come back unchanged.
std::string QuoteConnectionValue(const std::string& value);

enum TCommandType { cmdText, cmdTable, cmdStoredProc };

// Waiting time for a lock held by another program before a call gives up.
inline constexpr std::chrono::milliseconds kCompanyBusyTimeout{5000};

class CompanyDataset;

// One open connection to a company database. The file must exist: it is never created.
class CompanyConnection {
public:
    explicit CompanyConnection(const std::string& connectionString,
                               std::chrono::milliseconds busyTimeout = kCompanyBusyTimeout);

    // A dataset positioned on its first row. A table command reads every row of the table.
    CompanyDataset OpenDataset(const std::string& commandText, TCommandType commandType = cmdText);
    // Runs exactly one statement; text after it is refused rather than silently skipped.
    void Execute(const std::string& sql);
    // Column names of a table, in table order; empty when there is no such table. The name may
    // be bracketed ("[ver]"), as the statements write it.
    std::vector<std::string> ColumnNames(const std::string& table);
    // Whether the table has the column, names compared without regard to ASCII letter case.
    bool HasColumn(const std::string& table, const std::string& column);
    // Writes a compacted copy to destFile, which must not exist (created owner-only).
    void CompactInto(const std::string& destFile);

    const std::string& DataSource() const { return dataSource_; }

private:
    std::string dataSource_;
    std::unique_ptr<EngineConnection> connection_;
};

// Rows of one query. Keeps its connection alive, so it can outlive the CompanyConnection
// object it came from.
class CompanyDataset {
public:
    CompanyDataset(CompanyDataset&&) noexcept = default;
    CompanyDataset(const CompanyDataset&) = delete;
    CompanyDataset& operator=(const CompanyDataset&) = delete;
    CompanyDataset& operator=(CompanyDataset&&) = delete;
    ~CompanyDataset();

    bool Eof() const { return eof_; }
    void Next();
    int FieldCount() const;
    std::string FieldName(int field) const;
    bool IsNull(int field) const;
    std::string AsString(int field) const;  // null reads as empty text
    std::int64_t AsInteger(int field) const;

private:
    friend class CompanyConnection;
    explicit CompanyDataset(std::unique_ptr<EngineCursor> cursor);
    void CheckField(int field) const;

    std::unique_ptr<EngineCursor> cursor_;
    bool eof_ = true;
};

// Writes a compacted copy of the source database to the destination (VACUUM INTO). The
// destination must not exist; it is created readable by its owner only. The source is opened
// in its connection string's mode and is not changed. A failure removes the partial
// destination and raises CompanyDatabaseError.
void CompactCompanyDatabase(const std::string& sourceConnection, const std::string& destConnection);

// A consistent, compacted snapshot of the database at source written to dest, a new file for
// this user only (VACUUM INTO from the live database). Another program may hold the source open
// and write to it in either journal mode: committed changes still in its WAL are included, a
// transaction under way is not. Raises CompanyDatabaseError (not a database, damaged, busy) or
// OperationStopped; a failure leaves no dest.
void SnapshotCompanyDatabase(const std::string& source, const std::string& dest,
                             const StopQuery& stop = {});

// The first column of the first row that sql gives in the database file, read as it stands
// (nothing is created beside it); nullopt when the file can't be read or gives no row.
std::optional<std::string> ReadDatabaseFileText(const std::string& file, const std::string& sql);

// Raises CompanyDatabaseError unless file opens as a database and passes its engine's check
// (SQLite: quick_check; Jet 4: the catalogue and the version table read). A file of any other
// format (an empty one too) is refused naming the format found. The file is read as it stands:
// nothing is created beside it.
void CheckCompanyDatabaseFile(const std::string& file, const StopQuery& stop = {});

// Puts the content of staged (a checked database file that nobody else uses) into the database
// at target, holding target's write lock from before KeepCurrent until after SettleNew: no other
// program can commit a change in between that neither the copy nor the new content holds (it
// waits for the lock instead, up to its own busy timeout). A database there is written through
// the engine, under its own locks, so every connection of another program stays consistent; its
// WAL is checkpointed and target keeps its file and permissions. When nobody else has it open,
// a database in rollback-journal mode is replaced by rename instead. A missing target, or a file
// there that the engine can't read (damaged, or no database), is replaced by staged (which then
// takes target's permissions) only when no other process has it open; the stale -wal, -shm and
// -journal go with it. When the database stays busy, or the file is in use, raises
// CompanyDatabaseError and target is as it was. staged may be changed or consumed. A Jet 4
// database is replaced by rename only (see JetEngine.h), and so is a database of one engine by a
// file of the other: only while nobody else has it open, its old engine's files beside it going
// with it.
void ReplaceCompanyDatabase(const std::string& staged, const std::string& target,
                            const ReplaceSteps& steps, const StopQuery& stop = {});
// The same without keeping or settling anything.
void ReplaceCompanyDatabase(const std::string& staged, const std::string& target,
                            const StopQuery& stop = {});

// Whether another process of this user has the file open (looked up in /proc); with
// countThisProcess, a descriptor of this process counts too.
bool OpenedByAnotherProcess(const std::string& file, bool countThisProcess = false);
// Why nothing can be written into the database file here (its engine only reads); empty when its
// engine writes.
std::string CompanyDatabaseWriteRefusal(const std::string& file);
// Whether another program has the database, or one of the files its engine keeps beside it,
// open.
bool CompanyDatabaseInUse(const std::string& file);

// The file beside a database that holds committed changes not yet in it (a non-empty one
// counts as part of the database: its time and size); empty when there is none. Safe while
// the database is locked: it never opens the database.
std::string PendingChangesFile(const std::string& databaseFile);
// Whether name is that of a file the engine keeps beside the database named databaseName
// (its journals): no restore may put one there.
bool IsDatabaseCompanionName(const std::string& databaseName, const std::string& name);

// Copies a database file byte for byte to a new file readable by its owner only, replacing
// any file there, under the engine's shared lock taken on the file itself (also when it is
// damaged or of another engine), so that a writer in another program can't leave the copy half
// old, half new. Meant for files the engine can't read: the main file of a database in WAL mode
// lacks what waits in the WAL (see SnapshotCompanyDatabase). Raises CompanyDatabaseError on
// failure and leaves no partial copy.
void CopyCompanyDatabaseFile(const std::string& source, const std::string& dest);

}  // namespace tidewell
