#pragma once

#include <filesystem>
#include <functional>

#include "platform/Error.h"

namespace tidewell {

// How this program keeps out of the way of the host product, which writes its Jet databases.
// A Jet writer keeps a lock file beside the database (default.mdb: default.ldb) with a record for
// each user and holds byte-range locks on it and on the database while it has the database open;
// the file itself may stay behind after a crash, its locks never do. Locks are what tell: a host
// run under a compatibility layer or served over the network by a file server takes them as
// POSIX locks here.

// The lock file of a Jet database: the same name with ".ldb".
std::filesystem::path JetLockFileOf(const std::filesystem::path& database);

// Whether another process holds a byte-range lock of any kind anywhere on the file; false when
// there is no file.
bool HeldByAnotherProcess(const std::filesystem::path& file);

// Whether another program uses the database: a lock held on it or on its lock file, or either
// open in another process of this user.
bool JetDatabaseInUse(const std::filesystem::path& database);

// Copies the database byte for byte to dest (a new file for this user only, replacing any file
// there) while no other program writes it: its lock file and the database hold no lock, this
// process holds a shared lock on the database for the whole copy, and its size and time are the
// same before and after. Otherwise raises JetDatabaseError (InUse or Changed) and leaves no dest.
// A stop request raises OperationStopped and leaves no dest either.
void CopyJetDatabaseFile(const std::filesystem::path& source, const std::filesystem::path& dest,
                         const StopQuery& stop = {});

// What ReplaceJetDatabaseFile does while it holds target's lock, all optional.
struct JetReplaceSteps {
    // Where the byte copy of the current database goes: a path for a new file in a private
    // folder. Without it, nothing is kept.
    std::filesystem::path copyFile;
    // Keeps what is about to be replaced, before anything changes: copy holds target's bytes
    // (taken under the lock, so no writer changed them meanwhile), or is empty when there was no
    // target. It is removed afterwards. An error raised here leaves target as it was.
    std::function<void(const std::filesystem::path& copy)> keepCurrent;
    // Runs after keepCurrent, still before target changes. An error leaves target as it was.
    std::function<void()> beforeReplace;
    // The new content, about to take target's place in one rename that keeps its time and size:
    // meant for giving it its time before any other program can open it.
    std::function<void(const std::filesystem::path& file)> settleNew;
};

// Puts staged (a checked Jet 4 file) in target's place by one rename, target's permissions kept,
// only while no other program has target open or locked. This process holds a write lock on
// target from that test until the rename, so that a Jet writer starting meanwhile finds it taken
// (and the steps see what the rename replaces). A missing target is created by the rename, and a
// file that appeared there meanwhile is not replaced. Raises JetDatabaseError (InUse, Changed,
// FileAccess) with target unchanged; a stop request before the rename raises OperationStopped.
void ReplaceJetDatabaseFile(const std::filesystem::path& staged,
                            const std::filesystem::path& target, const JetReplaceSteps& steps = {},
                            const StopQuery& stop = {});

}  // namespace tidewell
