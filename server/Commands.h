#pragma once

#include <istream>
#include <ostream>

#include "CommandLine.h"

namespace tidewell::webfolder {

// Serves until SIGTERM or SIGINT, then finishes the requests under way and returns 0.
// The port goes to `out` on a line of its own before the first request is taken.
int RunServe(const ServeOptions& options, std::ostream& out);

// Creates or updates the account and says which it did; the password comes from the
// environment or `in` unless the command line gave it.
int RunAddUser(AddUserOptions options, std::istream& in, std::ostream& out);

int RunPrune(const PruneOptions& options, std::ostream& out);

// Reports where the index and the archives folder differ; exit 1 when they do and nothing was
// repaired.
int RunFsck(const FsckOptions& options, std::ostream& out);

int RunBackup(const BackupOptions& options, std::ostream& out);

int RunRestoreBackup(const RestoreBackupOptions& options, std::ostream& out);

// Moves a data folder into PostgreSQL and an object store.
int RunMigrate(const MigrateOptions& options, std::ostream& out);

}  // namespace tidewell::webfolder
