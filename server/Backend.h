#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "ArchiveBytes.h"
#include "ArchiveIndex.h"
#include "LoginGuard.h"

namespace tidewell::webfolder {

// Where the service keeps accounts and archives: a data folder (SQLite and files, the embedded
// default), or an index in PostgreSQL with the archives in an S3 bucket, which several
// instances of the service can share.
struct StoreLocation {
    std::filesystem::path dataFolder;
    std::string index;     // postgresql://USER@HOST:PORT/DATABASE (no password in it)
    std::string archives;  // s3://BUCKET/PREFIX
    // Endpoint, region and keys of the object store, in a file only its owner can read; the
    // environment may give them instead.
    std::filesystem::path s3Config;
    // Where uploads wait while they arrive; by default the system's temporary folder.
    std::filesystem::path spool;

    bool Distributed() const { return !index.empty() || !archives.empty(); }
    // For messages: the data folder, or the index and the bucket.
    std::string Describe() const;
};

// Tunes the distributed back end; the embedded one has nothing to tune.
struct BackendTuning {
    std::size_t connections = 4;  // to the index, at most
    // Unnamed objects (uploads that never finished) older than this are removed by the sweep.
    std::int64_t orphanAgeSeconds = 6 * 3600;
    // What downloads from the object store may hold in memory together beyond one buffer each.
    std::int64_t downloadMemory = 256 * 1024 * 1024;
};

// One place's index and archive store, opened together and kept in step.
class Backend {
public:
    virtual ~Backend() = default;
    virtual ArchiveIndex& Index() = 0;
    virtual ArchiveBytes& Bytes() = 0;
    // How failed logins are counted: in this process, or in the index all instances share.
    virtual std::unique_ptr<LoginThrottle> MakeThrottle() = 0;
    // Before serving: claims the place where it must be served by one process alone and
    // clears what an unclean stop left; `log` is told what was found.
    virtual void PrepareToServe(const std::function<void(const std::string&)>& log) = 0;
    // Housekeeping a serving process does now and then, never at its start: removes bytes
    // that uploads cut off left and that the index has let go of, and forgotten throttling
    // entries. Returns what it did, for the log (empty when nothing).
    virtual std::string Sweep() { return {}; }
};

// Opens the location (creating what is missing); raises Exception with a clear text.
std::unique_ptr<Backend> OpenBackend(const StoreLocation& location,
                                     const BackendTuning& tuning = {});

}  // namespace tidewell::webfolder
