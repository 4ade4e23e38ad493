#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ArchiveIndex.h"

namespace tidewell::webfolder {

// An upload's bytes on their way into the store, written in pieces by a worker. Nothing of it
// is an archive until the index names it; destroying a writer that was not kept removes
// whatever it wrote (without waiting: the destructor may run on a serving thread).
class ArchiveWriter {
public:
    virtual ~ArchiveWriter() = default;
    virtual void Write(const char* data, std::size_t size) = 0;
    virtual std::int64_t Size() const = 0;
    // Makes the bytes durable where they are (a flush, or the upload into an object store),
    // before the index is touched; may take long.
    virtual void Seal() = 0;
    // Inside the index's transaction: puts the archive where the company keeps it and returns
    // the name the index records. Quick.
    virtual std::string Place(std::int64_t companyId) = 0;
    // The index has committed: the bytes belong to it now.
    virtual void Kept() = 0;
};

// How a reader that has nothing ready yet holds up the reply: Suspend is called before Read
// returns 0, Resume once bytes are there (from any thread).
class ReadWaiter {
public:
    virtual ~ReadWaiter() = default;
    virtual void Suspend() = 0;
    virtual void Resume() = 0;
};

// An archive's bytes on their way out to a client, read in order from the serving threads,
// which must never wait: a reader whose bytes come from elsewhere fetches them ahead.
class ArchiveReader {
public:
    static constexpr std::int64_t kNotReady = 0;
    static constexpr std::int64_t kFailed = -1;

    virtual ~ArchiveReader() = default;
    virtual std::int64_t Size() const = 0;
    // Copies up to `size` bytes found at `position`; kNotReady (after waiter.Suspend()) when
    // none are there yet, kFailed when they can't be had.
    virtual std::int64_t Read(std::uint64_t position, char* buffer, std::size_t size,
                              const std::shared_ptr<ReadWaiter>& waiter) = 0;
};

// Where archives' bytes are kept: files beside the index, or objects in an object store.
class ArchiveBytes {
public:
    virtual ~ArchiveBytes() = default;
    // What an archive of each size is charged against the quota.
    virtual Charges Charging() const = 0;
    // A writer for an upload of the account's, whose archive will be called `name`.
    virtual std::unique_ptr<ArchiveWriter> NewWriter(std::int64_t accountId,
                                                     const std::string& name) = 0;
    // A reader of the archive; nullptr when its bytes are gone (an upload let it go a moment
    // ago, and the index names a newer one).
    virtual std::shared_ptr<ArchiveReader> Open(const StoredArchive& archive) = 0;
    // Removes what the index has let go of, after its commit.
    virtual void Release(const Released& released) = 0;
};

}  // namespace tidewell::webfolder
