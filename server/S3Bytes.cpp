#include "S3Bytes.h"

#include <nettle/sha2.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "SystemRandom.h"
#include "platform/FileHandle.h"
#include "platform/FileKit.h"
#include "platform/Identity.h"

namespace tidewell::webfolder {
namespace {

using Clock = std::chrono::steady_clock;

// A download tells the index it goes on this often; its read lasts ten minutes.
constexpr auto kExtendReadEvery = std::chrono::minutes(4);

std::string HexDigest(sha256_ctx& context) {
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, sizeof digest, digest);  // also starts the context afresh
    return HexText(digest, sizeof digest);
}

// An upload's bytes on the instance's disk while they arrive: a file unlinked as soon as it is
// made, so it vanishes with the process however that ends.
FileHandle OpenSpool(const std::filesystem::path& folder) {
    TemporaryFile spool = CreateTemporaryFile(folder, "tidewell-upload-");
    RemoveFileQuietly(spool.path);
    return std::move(spool.handle);
}

// One upload into the store, shared with the jobs that send its parts.
class Upload : public std::enable_shared_from_this<Upload> {
public:
    Upload(S3Client& client, ObjectLedger& ledger, WorkerPool& pool, std::string key,
           FileHandle spool, std::int64_t partBytes)
        : client_(client),
          ledger_(ledger),
          pool_(pool),
          key_(std::move(key)),
          spool_(std::move(spool)),
          partBytes_(partBytes) {
        sha256_init(&partHash_);
    }

    const std::string& Key() const { return key_; }
    std::int64_t Size() const { return size_; }

    void Write(const char* data, std::size_t size) {
        while (size > 0) {
            // Split at a part's end, so each part's hash covers exactly its bytes.
            const std::int64_t room = partBytes_ - (size_ - launched_);
            const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(room, size));
            Append(data, piece);
            data += piece;
            size -= piece;
            if (size_ - launched_ == partBytes_) Launch(false);
        }
    }

    // Every byte in the store as one object: parts still to go are sent by this thread, and
    // the others waited for.
    void Seal() {
        if (parts_.empty()) {
            // Small: one request. The ledger knows the key before the object exists.
            EnsureNoted();
            client_.PutObject(key_, {spool_.get(), 0, size_}, HexDigest(partHash_));
            sealed_ = true;
            return;
        }
        if (size_ > launched_) Launch(true);
        for (Part& part : parts_) Send(part);
        std::vector<std::pair<int, std::string>> etags;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] {
                return std::all_of(parts_.begin(), parts_.end(),
                                   [](const Part& part) { return part.state == Part::Done; });
            });
            for (const Part& part : parts_) {
                if (part.error) std::rethrow_exception(part.error);
                etags.emplace_back(part.number, part.etag);
            }
        }
        client_.CompleteMultipartUpload(key_, uploadId_, etags);
        sealed_ = true;
    }

    void Placed() { placed_ = true; }

    // The upload was not kept. Runs on the transfer pool: parts under way end first.
    void Discard() {
        {
            std::unique_lock lock(mutex_);
            for (Part& part : parts_) {
                if (part.state == Part::Queued) part.state = Part::Done;
            }
            changed_.wait(lock, [this] {
                return std::all_of(parts_.begin(), parts_.end(),
                                   [](const Part& part) { return part.state == Part::Done; });
            });
        }
        if (!noted_) return;
        try {
            if (!uploadId_.empty() && !sealed_) client_.AbortMultipartUpload(key_, uploadId_);
            // Once placed, the index's commit may have named the object even if it said it
            // failed: the ledger's entry decides, and the sweep removes it only if unnamed.
            if (placed_) return;
            if (sealed_) client_.DeleteObject(key_);
            ledger_.Forget({key_});
        } catch (const std::exception&) {
            // The ledger still knows the key: the sweep removes what is left.
        }
    }

private:
    struct Part {
        enum State { Queued, Running, Done };
        int number = 0;
        std::int64_t offset = 0;
        std::int64_t length = 0;
        std::string sha256;
        State state = Queued;
        std::string etag;
        std::exception_ptr error;
    };

    void Append(const char* data, std::size_t size) {
        WriteAll(spool_.get(), data, size, "the spool of " + key_);
        sha256_update(&partHash_, size, reinterpret_cast<const std::uint8_t*>(data));
        size_ += static_cast<std::int64_t>(size);
    }

    // The bytes since the last part become a part, sent in the background while more arrive.
    void Launch(bool last) {
        Part part;
        part.number = static_cast<int>(parts_.size()) + 1;
        part.offset = launched_;
        part.length = size_ - launched_;
        part.sha256 = HexDigest(partHash_);
        launched_ = size_;
        Part* added = nullptr;
        {
            std::lock_guard lock(mutex_);
            parts_.push_back(std::move(part));
            added = &parts_.back();
        }
        if (last) return;  // the sealing thread sends it at once
        pool_.Post([self = shared_from_this(), added] { self->Send(*added); });
    }

    // Sends the part unless another thread has (or is about to).
    void Send(Part& part) {
        {
            std::lock_guard lock(mutex_);
            if (part.state != Part::Queued) return;
            part.state = Part::Running;
        }
        std::string etag;
        std::exception_ptr error;
        try {
            EnsureStarted();
            etag = client_.UploadPart(key_, uploadId_, part.number,
                                      {spool_.get(), part.offset, part.length}, part.sha256);
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            part.etag = std::move(etag);
            part.error = error;
            part.state = Part::Done;
        }
        changed_.notify_all();
    }

    void EnsureNoted() {
        std::lock_guard lock(startMutex_);
        if (noted_) return;
        ledger_.NoteUnnamed(key_);
        noted_ = true;
    }

    void EnsureStarted() {
        EnsureNoted();
        std::lock_guard lock(startMutex_);
        if (uploadId_.empty()) uploadId_ = client_.CreateMultipartUpload(key_);
    }

    S3Client& client_;
    ObjectLedger& ledger_;
    WorkerPool& pool_;
    std::string key_;
    FileHandle spool_;
    std::int64_t partBytes_;

    sha256_ctx partHash_;
    std::int64_t size_ = 0;      // bytes spooled
    std::int64_t launched_ = 0;  // bytes made into parts

    std::mutex startMutex_;
    bool noted_ = false;
    std::string uploadId_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Part> parts_;  // a deque: parts stay where they are while others are added

    bool sealed_ = false;
    bool placed_ = false;
};

class ObjectWriter : public ArchiveWriter {
public:
    ObjectWriter(std::shared_ptr<Upload> upload, WorkerPool& pool)
        : upload_(std::move(upload)), pool_(pool) {}
    ~ObjectWriter() override {
        // Never waits here: this may be a serving thread.
        if (!kept_) pool_.Post([upload = upload_] { upload->Discard(); });
    }

    void Write(const char* data, std::size_t size) override { upload_->Write(data, size); }
    std::int64_t Size() const override { return upload_->Size(); }
    void Seal() override { upload_->Seal(); }
    std::string Place(std::int64_t) override {
        upload_->Placed();
        return upload_->Key();
    }
    void Kept() override { kept_ = true; }

private:
    std::shared_ptr<Upload> upload_;
    WorkerPool& pool_;
    bool kept_ = false;
};

// A download's bytes, fetched ahead of the client in ranges by the transfer pool. The serving
// thread only copies what has arrived; when nothing has, the reply waits (the connection
// suspended) until the fetch resumes it.
class Download : public std::enable_shared_from_this<Download> {
public:
    Download(S3Client& client, ObjectLedger& ledger, WorkerPool& pool, StoredArchive archive,
             const S3Tuning& tuning, std::shared_ptr<ReadAheadBudget> budget)
        : client_(client),
          ledger_(ledger),
          pool_(pool),
          budget_(std::move(budget)),
          archive_(std::move(archive)),
          chunkBytes_(tuning.chunkBytes),
          ahead_(tuning.chunksAhead),
          extended_(Clock::now()) {}

    std::int64_t Size() const { return archive_.size; }

    void Start() {
        std::lock_guard lock(mutex_);
        FetchAhead();
    }

    std::int64_t Read(std::uint64_t position, char* buffer, std::size_t size,
                      const std::shared_ptr<ReadWaiter>& waiter) {
        std::lock_guard lock(mutex_);
        const auto at = static_cast<std::int64_t>(position);
        while (!chunks_.empty() && chunks_.front().offset + chunks_.front().length <= at) {
            Consumed();
        }
        FetchAhead();
        if (chunks_.empty() || chunks_.front().offset > at) return ArchiveReader::kFailed;
        Chunk& chunk = chunks_.front();
        if (chunk.failed) return ArchiveReader::kFailed;
        if (!chunk.ready) {
            waiter->Suspend();
            waiter_ = waiter;
            return ArchiveReader::kNotReady;
        }
        const std::int64_t inChunk = at - chunk.offset;
        const auto n =
            static_cast<std::size_t>(std::min<std::int64_t>(size, chunk.length - inChunk));
        std::memcpy(buffer, chunk.bytes->data() + inChunk, n);
        return static_cast<std::int64_t>(n);
    }

    // The reply is over, whole or not.
    void Close() {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
            chunks_.clear();
            spare_.clear();
            budget_->Give(charged_);
            charged_ = 0;
        }
        if (!archive_.reader.empty()) {
            pool_.Post([self = shared_from_this()] {
                try {
                    self->ledger_.EndRead(self->archive_.object, self->archive_.reader);
                    // Let go of while it was read: the last reader removes it.
                    for (const auto& object : self->ledger_.Removable({self->archive_.object})) {
                        self->client_.DeleteObject(object);
                        self->ledger_.Forget({object});
                    }
                } catch (const std::exception&) {
                    // The read's time runs out by itself, and the sweep removes the object.
                }
            });
        }
    }

private:
    using Buffer = std::shared_ptr<std::vector<char>>;
    struct Chunk {
        std::int64_t offset = 0;
        std::int64_t length = 0;
        Buffer bytes;
        bool ready = false;
        bool failed = false;
    };

    // Keeps up to `ahead_` ranges under way or waiting to be read, in buffers used over and
    // over: a download holds the same memory whatever the archive's size. Its first buffer is
    // its own; the others come out of the budget all downloads share. Holds mutex_.
    void FetchAhead() {
        while (!closed_ && static_cast<int>(chunks_.size()) < ahead_ && next_ < archive_.size) {
            Chunk chunk;
            if (!spare_.empty()) {
                chunk.bytes = std::move(spare_.back());
                spare_.pop_back();
            } else if (buffers_ == 0 || budget_->Take(chunkBytes_)) {
                if (buffers_ > 0) charged_ += chunkBytes_;
                chunk.bytes = std::make_shared<std::vector<char>>(chunkBytes_);
                ++buffers_;
            } else {
                return;  // the others' downloads hold the budget: one range at a time
            }
            chunk.offset = next_;
            chunk.length = std::min(chunkBytes_, archive_.size - next_);
            next_ += chunk.length;
            chunks_.push_back(chunk);
            pool_.Post([self = shared_from_this(), chunk] { self->Fetch(chunk); });
        }
    }

    // Drops the chunk read to its end, its buffer kept for the next. Holds mutex_.
    void Consumed() {
        spare_.push_back(std::move(chunks_.front().bytes));
        chunks_.pop_front();
    }

    void Fetch(const Chunk& chunk) {
        {
            std::lock_guard lock(mutex_);
            if (closed_) return;
        }
        bool failed = false;
        try {
            KeepRead();
            client_.GetRange(archive_.object, chunk.offset, chunk.length, chunk.bytes->data());
        } catch (const std::exception&) {
            failed = true;
        }
        std::shared_ptr<ReadWaiter> waiter;
        {
            std::lock_guard lock(mutex_);
            for (Chunk& held : chunks_) {
                if (held.offset != chunk.offset) continue;
                held.ready = !failed;
                held.failed = failed;
            }
            waiter = std::exchange(waiter_, nullptr);
        }
        if (waiter) waiter->Resume();
    }

    // A long download tells the index now and then that it still reads.
    void KeepRead() {
        if (archive_.reader.empty()) return;
        {
            std::lock_guard lock(mutex_);
            if (Clock::now() - extended_ < kExtendReadEvery) return;
            extended_ = Clock::now();
        }
        ledger_.ExtendRead(archive_.object, archive_.reader);
    }

    S3Client& client_;
    ObjectLedger& ledger_;
    WorkerPool& pool_;
    std::shared_ptr<ReadAheadBudget> budget_;
    const StoredArchive archive_;
    const std::int64_t chunkBytes_;
    const int ahead_;
    int buffers_ = 0;
    std::int64_t charged_ = 0;

    std::mutex mutex_;
    std::deque<Chunk> chunks_;
    std::vector<Buffer> spare_;
    std::int64_t next_ = 0;
    std::shared_ptr<ReadWaiter> waiter_;
    bool closed_ = false;
    Clock::time_point extended_;
};

class ObjectReader : public ArchiveReader {
public:
    explicit ObjectReader(std::shared_ptr<Download> download) : download_(std::move(download)) {
        download_->Start();
    }
    ~ObjectReader() override { download_->Close(); }

    std::int64_t Size() const override { return download_->Size(); }
    std::int64_t Read(std::uint64_t position, char* buffer, std::size_t size,
                      const std::shared_ptr<ReadWaiter>& waiter) override {
        return download_->Read(position, buffer, size, waiter);
    }

private:
    std::shared_ptr<Download> download_;
};

}  // namespace

S3Bytes::S3Bytes(S3Client& client, std::string prefix, ObjectLedger& ledger,
                 std::filesystem::path spool, S3Tuning tuning)
    : client_(client),
      prefix_(std::move(prefix)),
      ledger_(ledger),
      spool_(std::move(spool)),
      tuning_(tuning),
      budget_(std::make_shared<ReadAheadBudget>(tuning.readAheadBytes)),
      transfers_(tuning.threads) {}

S3Bytes::~S3Bytes() = default;

std::string S3Bytes::NewKey(std::int64_t accountId, const std::string& name) const {
    // Grouped by account for an operator's eyes; the archive's time, then 128 random bits.
    return ArchivesPrefix() + std::to_string(accountId) + "/" + name.substr(0, 14) + "-" +
           RandomHex(16) + ".bck";
}

std::unique_ptr<ArchiveWriter> S3Bytes::NewWriter(std::int64_t accountId, const std::string& name) {
    auto upload = std::make_shared<Upload>(client_, ledger_, transfers_, NewKey(accountId, name),
                                           OpenSpool(spool_), tuning_.partBytes);
    return std::make_unique<ObjectWriter>(std::move(upload), transfers_);
}

std::shared_ptr<ArchiveReader> S3Bytes::Open(const StoredArchive& archive) {
    return std::make_shared<ObjectReader>(
        std::make_shared<Download>(client_, ledger_, transfers_, archive, tuning_, budget_));
}

void S3Bytes::Release(const Released& released) {
    if (released.objects.empty()) return;
    std::vector<std::string> removed;
    try {
        for (const auto& object : ledger_.Removable(released.objects)) {
            client_.DeleteObject(object);
            removed.push_back(object);
        }
    } catch (const std::exception&) {
        // What is not removed stays in the ledger for the sweep.
    }
    ledger_.Forget(removed);
}

std::size_t S3Bytes::Sweep(std::int64_t pendingSeconds, std::size_t limit) {
    std::vector<std::string> removed;
    for (const auto& object : ledger_.Doomed(pendingSeconds, limit)) {
        // An upload cut off may have left parts that hold space until they are given up.
        for (const auto& upload : client_.ListMultipartUploads(object)) {
            if (upload.key == object) client_.AbortMultipartUpload(upload.key, upload.uploadId);
        }
        client_.DeleteObject(object);
        removed.push_back(object);
    }
    ledger_.Forget(removed);
    return removed.size();
}

}  // namespace tidewell::webfolder
