#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

#include "ArchiveBytes.h"
#include "ObjectLedger.h"
#include "S3Client.h"
#include "WorkerPool.h"

namespace tidewell::webfolder {

struct S3Tuning {
    // An upload goes up in parts of this size while it still arrives (the store's least is
    // 5 MiB); one no larger is sent whole.
    std::int64_t partBytes = 16 * 1024 * 1024;
    // A download is fetched in ranges of this size, this many ahead of the client: what it
    // holds in memory at most. Each download has one such buffer whatever happens; more only
    // while all downloads together hold less than readAheadBytes.
    std::int64_t chunkBytes = 4 * 1024 * 1024;
    int chunksAhead = 3;
    std::int64_t readAheadBytes = 256 * 1024 * 1024;
    // Threads that move bytes to and from the store in the background.
    std::size_t threads = 8;
};

// Memory for downloads' read-ahead, shared by all of them.
class ReadAheadBudget {
public:
    explicit ReadAheadBudget(std::int64_t bytes) : left_(bytes) {}
    bool Take(std::int64_t bytes) {
        std::int64_t left = left_.load();
        while (left >= bytes) {
            if (left_.compare_exchange_weak(left, left - bytes)) return true;
        }
        return false;
    }
    void Give(std::int64_t bytes) { left_ += bytes; }

private:
    std::atomic<std::int64_t> left_;
};

// Archives as objects under a prefix of an S3 bucket. An upload is spooled to a file that no
// other process can see (removed as soon as it is made, so a crash leaves nothing) and goes up
// in parts while it still arrives; the index's ledger knows its key before the first byte
// leaves, so one cut off is found and removed later. A download is fetched in ranges ahead of
// the client, with a read recorded in the index, so that no instance removes the object under
// it. Objects the index let go of are removed at once unless a download reads them; the
// sweep removes the rest later.
class S3Bytes : public ArchiveBytes {
public:
    // The mark that ties the prefix to one index, beside the archives.
    static constexpr char kMarkName[] = ".tidewell-archives";

    S3Bytes(S3Client& client, std::string prefix, ObjectLedger& ledger, std::filesystem::path spool,
            S3Tuning tuning = {});
    ~S3Bytes() override;

    // Objects have no blocks: charged by the usual file system's, so a data folder moved here
    // keeps its usage.
    Charges Charging() const override { return Charges{4096}; }
    std::unique_ptr<ArchiveWriter> NewWriter(std::int64_t accountId,
                                             const std::string& name) override;
    std::shared_ptr<ArchiveReader> Open(const StoredArchive& archive) override;
    void Release(const Released& released) override;

    // Removes what the ledger dooms: objects let go of that nobody reads, and uploads cut off
    // longer than pendingSeconds ago (their unfinished parts too); at most limit of them.
    // Returns how many.
    std::size_t Sweep(std::int64_t pendingSeconds, std::size_t limit);

    const std::string& Prefix() const { return prefix_; }
    std::string MarkKey() const { return prefix_ + kMarkName; }
    // Where archives' objects lie, under the prefix.
    std::string ArchivesPrefix() const { return prefix_ + "archives/"; }
    S3Client& Client() { return client_; }

private:
    std::string NewKey(std::int64_t accountId, const std::string& name) const;

    S3Client& client_;
    std::string prefix_;
    ObjectLedger& ledger_;
    std::filesystem::path spool_;
    S3Tuning tuning_;
    std::shared_ptr<ReadAheadBudget> budget_;
    // Last: its jobs use everything above, and it runs what is queued before it goes.
    WorkerPool transfers_;
};

}  // namespace tidewell::webfolder
