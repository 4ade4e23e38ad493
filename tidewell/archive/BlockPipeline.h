#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/ArchiveFormat.h"

namespace tidewell::archive {

// One block on its way through the pipeline: what the caller read, and what became of it.
struct BlockJob {
    // Filled by the caller.
    unsigned char in[kBlockSize];
    std::size_t size = 0;       // bytes in in
    std::int32_t field = 0;     // restoring: the block's length field
    std::int64_t position = 0;  // restoring: where the archive stood after the block, for messages
    bool end = false;           // no block here: the member's data ends
    std::exception_ptr readFailure;  // no block here: reading it failed, raise this in turn
    // Filled by a worker (compressing: the length field; inflating: the bytes made).
    unsigned char out[kBlockSize];
    std::int32_t result = 0;
    std::string error;  // a CompressionError's text; empty when all went well
};

// Compresses or inflates blocks on a few threads and hands them back in the order they were
// given, so that the caller writes and raises its events exactly as one thread would. The caller
// reads ahead into free jobs (FreeJob, Submit) and takes finished ones from the front (Front,
// PopFront); while it waits there it works on the oldest job nobody has started, so the calling
// thread is one of the threads. At most sixteen jobs per thread exist, however long the file:
// memory stays bounded. With one thread nothing is started and the caller does each job when it
// asks for it, with one job in flight, as the sequential loop did.
class BlockPipeline {
public:
    enum class Work { Deflate, Inflate };

    // threads counts the calling thread: 0 for as many as the machine has cores; never more than
    // kMaxThreads.
    BlockPipeline(Work work, int zlibLevel, int threads);
    BlockPipeline(const BlockPipeline&) = delete;
    BlockPipeline& operator=(const BlockPipeline&) = delete;
    ~BlockPipeline();

    static constexpr int kMaxThreads = 8;
    static int ThreadsFor(int requested);

    // A job to fill, or null while every job is in flight.
    BlockJob* FreeJob();
    // Hands the job just taken from FreeJob on; needsWork false passes it through untouched
    // (stored blocks, the end, a failure to read).
    void Submit(BlockJob& job, bool needsWork);
    // The oldest job handed on, once it is done; there must be one.
    BlockJob& Front();
    void PopFront();
    // Drops every job handed on (after a cancel or a failure), waiting for those being worked on.
    void Clear();

private:
    enum class State { Free, Queued, Working, Done };
    struct Codec;

    void Start();
    void Run(std::stop_token stop);
    // Works on the oldest job nobody has started, if there is one; called and returns with the
    // lock held.
    bool WorkOnNext(std::unique_lock<std::mutex>& lock, Codec& codec);
    void Process(BlockJob& job, Codec& codec);

    const Work work_;
    const int zlibLevel_;
    const int threads_;
    const std::size_t capacity_;
    std::unique_ptr<BlockJob[]> jobs_;
    std::unique_ptr<State[]> states_;
    std::unique_ptr<Codec> callerCodec_;

    // Sequence numbers of jobs: taken_ <= dispatched_ <= submitted_; the caller alone moves
    // submitted_ and taken_, whoever starts a job moves dispatched_ (all under mutex_).
    std::uint64_t submitted_ = 0;
    std::uint64_t taken_ = 0;
    std::uint64_t dispatched_ = 0;
    int working_ = 0;
    std::mutex mutex_;
    std::condition_variable_any queued_;  // a job waits for a worker, or the workers must stop
    std::condition_variable done_;        // a job is done
    bool started_ = false;
    std::vector<std::jthread> workers_;  // threads_ - 1, started with the first job that needs work
};

}  // namespace tidewell::archive
