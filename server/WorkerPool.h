#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tidewell::webfolder {

// Threads that run posted jobs in the order posted. Destroying the pool runs what is still
// queued, then joins the threads.
class WorkerPool {
public:
    using Job = std::function<void()>;
    explicit WorkerPool(std::size_t threads);
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    ~WorkerPool();

    void Post(Job job);

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// Which threads a piece of slow work runs on. Password checks have threads of their own, so a
// crowd of logins never holds up requests whose password the service knows already; so have
// the steps that wait for an archive's bytes to be made durable (a flush, or an upload into the
// object store that may take seconds), so they never hold up the index's short steps.
enum class Lane { Storage, Password, Objects };

// Slow work of one request, taken off the threads that serve connections: its first step and,
// through what each step returns, the steps after it (possibly on the other lane).
struct Work {
    Lane lane = Lane::Storage;
    std::function<Work()> step;

    Work() = default;
    Work(Lane lane, std::function<Work()> step) : lane(lane), step(std::move(step)) {}
    explicit operator bool() const { return static_cast<bool>(step); }
};

// A step with nothing after it.
template <typename F>
Work LastStep(Lane lane, F f) {
    return Work(lane, [f = std::move(f)]() mutable {
        f();
        return Work();
    });
}

// The lanes. Run carries a request's work from step to step and calls done (on a worker)
// after the last one, or with the error that ended it.
class WorkLanes {
public:
    WorkLanes(std::size_t storageThreads, std::size_t passwordThreads, std::size_t objectThreads)
        : storage_(storageThreads), password_(passwordThreads), objects_(objectThreads) {}
    WorkLanes(const WorkLanes&) = delete;
    WorkLanes& operator=(const WorkLanes&) = delete;
    // Waits for the work under way: a step may still hand its successor to the other lane.
    ~WorkLanes();

    using Done = std::function<void(std::exception_ptr error)>;
    void Run(Work work, Done done);
    // Requests whose work has not ended yet.
    std::size_t Active() const { return active_; }

private:
    void RunStep(Work work, Done done);
    WorkerPool& PoolOf(Lane lane) {
        return lane == Lane::Password ? password_ : lane == Lane::Objects ? objects_ : storage_;
    }

    std::atomic<std::size_t> active_{0};
    WorkerPool storage_;
    WorkerPool password_;
    WorkerPool objects_;
};

}  // namespace tidewell::webfolder
