// The index in PostgreSQL and the archives in an S3 bucket, shared by several instances.
#include <unistd.h>

#include <cstdlib>

#include "Backend.h"
#include "DataFolder.h"
#include "DistributedBackend.h"
#include "SystemRandom.h"
#include "platform/Error.h"

namespace tidewell::webfolder {
namespace {

std::filesystem::path SpoolFolder(const StoreLocation& location) {
    if (!location.spool.empty()) return location.spool;
    const char* temporary = std::getenv("TMPDIR");
    return temporary && *temporary ? temporary : "/var/tmp";
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

}  // namespace

DistributedBackend::DistributedBackend(const StoreLocation& location, const BackendTuning& tuning)
    : location_(location),
      tuning_(tuning),
      place_(ParseS3Place(location.archives)),
      // The transfer threads tell the index about uploads and reads too.
      pool_(location.index, tuning.connections + S3Tuning{}.threads),
      index_(pool_),
      client_(LoadS3Config(location.s3Config), place_.bucket),
      bytes_(client_, place_.prefix, index_, SpoolFolder(location), [&tuning] {
          S3Tuning objects;
          objects.readAheadBytes = tuning.downloadMemory;
          return objects;
      }()) {
    {
        auto connection = pool_.Borrow();
        MigrateSchema(*connection);
    }
    if (::access(SpoolFolder(location).c_str(), W_OK | X_OK) != 0) {
        throw Exception("uploads cannot be spooled in " + SpoolFolder(location).string() +
                        " (--spool): it is missing or not writable");
    }
    CheckMark();
}

// The prefix carries a mark that the index names, so a bucket or prefix that is not this
// index's (a typing slip, another installation's) stops everything with a clear error instead
// of looking as if every archive were gone. A new index marks a prefix only while it names no
// archives and the prefix bears no other index's mark.
void DistributedBackend::CheckMark() {
    const std::string where = "s3://" + place_.bucket + "/" + place_.prefix;
    const std::string nothing = " Nothing was changed.";
    const auto expected = index_.ReadSetting(DataFolder::kArchivesSetting);
    const auto found = client_.GetSmallObject(bytes_.MarkKey(), 1024);
    if (found) {
        if (expected && Trimmed(*found) == *expected) return;
        throw Exception(where + " belongs to another index than " + location_.index + "." +
                        nothing);
    }
    if (index_.NamesArchives()) {
        throw Exception(where + " has no mark (" + S3Bytes::kMarkName + ") while the index " +
                        location_.index + " names archives: is it the right bucket and prefix?" +
                        nothing);
    }
    // Two instances starting together on a new index agree on the first ID written.
    const std::string id = index_.SettleSetting(DataFolder::kArchivesSetting, RandomHex(16));
    client_.PutSmallObject(bytes_.MarkKey(), id + "\n");
}

std::unique_ptr<LoginThrottle> DistributedBackend::MakeThrottle() {
    return std::make_unique<PgThrottle>(pool_);
}

std::string DistributedBackend::Sweep() {
    const std::size_t objects = bytes_.Sweep(tuning_.orphanAgeSeconds, 1000);
    const std::int64_t reads = index_.EndStaleReads();
    const std::int64_t failures = PgThrottle(pool_).Tidy();
    if (objects == 0 && reads == 0 && failures == 0) return {};
    return "housekeeping: removed " + std::to_string(objects) +
           " objects no archive names, ended " + std::to_string(reads) +
           " reads whose time ran out, forgot " + std::to_string(failures) + " old login failures";
}

std::unique_ptr<Backend> OpenDistributedBackend(const StoreLocation& location,
                                                const BackendTuning& tuning) {
    return std::make_unique<DistributedBackend>(location, tuning);
}

}  // namespace tidewell::webfolder
