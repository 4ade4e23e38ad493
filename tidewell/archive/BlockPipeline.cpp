#include "archive/BlockPipeline.h"

#include <algorithm>
#include <optional>
#include <system_error>

#include "archive/BlockCodec.h"

namespace tidewell::archive {

// The codec of one thread, made when its first job comes.
struct BlockPipeline::Codec {
    std::optional<BlockDeflater> deflater;
    std::optional<BlockInflater> inflater;
};

int BlockPipeline::ThreadsFor(int requested) {
    if (requested > 0) return std::min(requested, kMaxThreads);
    const auto cores = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(cores, 1, kMaxThreads);
}

BlockPipeline::BlockPipeline(Work work, int zlibLevel, int threads)
    : work_(work),
      zlibLevel_(zlibLevel),
      threads_(ThreadsFor(threads)),
      // Enough jobs per thread keep every thread busy while the caller writes, also through a
      // restore's 1 MiB batch (with four, the workers ran dry and restoring lost an eighth of its
      // speed); one thread needs no more than the block at hand.
      capacity_(threads_ == 1 ? 1 : static_cast<std::size_t>(threads_) * 16),
      jobs_(std::make_unique<BlockJob[]>(capacity_)),
      states_(std::make_unique<State[]>(capacity_)),
      callerCodec_(std::make_unique<Codec>()) {
    std::fill(states_.get(), states_.get() + capacity_, State::Free);
}

BlockPipeline::~BlockPipeline() {
    for (std::jthread& worker : workers_) worker.request_stop();
    queued_.notify_all();
    // The jthreads join before the jobs and the locks they use go.
}

BlockJob* BlockPipeline::FreeJob() {
    if (submitted_ - taken_ >= capacity_) return nullptr;
    BlockJob& job = jobs_[submitted_ % capacity_];
    job.size = 0;
    job.field = 0;
    job.position = 0;
    job.end = false;
    job.readFailure = nullptr;
    job.result = 0;
    job.error.clear();
    return &job;
}

void BlockPipeline::Submit(BlockJob&, bool needsWork) {
    if (needsWork && !started_) Start();
    {
        std::lock_guard lock(mutex_);
        states_[submitted_ % capacity_] = needsWork ? State::Queued : State::Done;
        ++submitted_;
    }
    if (needsWork && !workers_.empty()) queued_.notify_one();
}

BlockJob& BlockPipeline::Front() {
    const std::size_t slot = taken_ % capacity_;
    std::unique_lock lock(mutex_);
    while (states_[slot] != State::Done) {
        // Rather than wait, the caller does the oldest job nobody has started: often the very
        // one it waits for.
        if (!WorkOnNext(lock, *callerCodec_)) done_.wait(lock);
    }
    return jobs_[slot];
}

void BlockPipeline::PopFront() {
    std::lock_guard lock(mutex_);
    states_[taken_ % capacity_] = State::Free;
    ++taken_;
}

void BlockPipeline::Clear() {
    std::unique_lock lock(mutex_);
    dispatched_ = submitted_;  // what nobody has started stays undone
    done_.wait(lock, [&] { return working_ == 0; });
    for (; taken_ < submitted_; ++taken_) states_[taken_ % capacity_] = State::Free;
}

void BlockPipeline::Start() {
    started_ = true;
    workers_.reserve(static_cast<std::size_t>(threads_ - 1));
    for (int i = 1; i < threads_; ++i) {
        try {
            workers_.emplace_back([this](std::stop_token stop) { Run(stop); });
        } catch (const std::system_error&) {
            break;  // no more threads to be had: the caller does the rest itself
        }
    }
}

void BlockPipeline::Run(std::stop_token stop) {
    Codec codec;
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        if (!WorkOnNext(lock, codec))
            queued_.wait(lock, stop, [&] { return dispatched_ < submitted_; });
    }
}

bool BlockPipeline::WorkOnNext(std::unique_lock<std::mutex>& lock, Codec& codec) {
    while (dispatched_ < submitted_) {
        const std::size_t slot = dispatched_++ % capacity_;
        if (states_[slot] != State::Queued) continue;  // passed through untouched
        states_[slot] = State::Working;
        ++working_;
        lock.unlock();
        Process(jobs_[slot], codec);
        lock.lock();
        states_[slot] = State::Done;
        --working_;
        // The caller may wait for this job, or for the last job being worked on to end.
        done_.notify_all();
        return true;
    }
    return false;
}

void BlockPipeline::Process(BlockJob& job, Codec& codec) {
    try {
        if (work_ == Work::Deflate) {
            if (!codec.deflater) codec.deflater.emplace(zlibLevel_);
            job.result = codec.deflater->Compress(job.in, job.size, job.out);
        } else {
            if (!codec.inflater) codec.inflater.emplace();
            job.result =
                static_cast<std::int32_t>(codec.inflater->Inflate(job.in, job.size, job.out));
        }
    } catch (const std::exception& e) {
        // Nothing may leave a worker: the caller reports it when the block's turn comes.
        job.error = e.what();
    }
}

}  // namespace tidewell::archive
