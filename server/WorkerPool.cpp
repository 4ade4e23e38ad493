#include "WorkerPool.h"

#include <algorithm>
#include <chrono>
#include <memory>

namespace tidewell::webfolder {

WorkerPool::WorkerPool(std::size_t threads) {
    for (std::size_t i = 0; i < std::max<std::size_t>(threads, 1); ++i) {
        threads_.emplace_back([this] { Run(); });
    }
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& thread : threads_) thread.join();
}

void WorkerPool::Post(Job job) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void WorkerPool::Run() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping, and nothing left to run
        Job job = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        job();
        job = nullptr;  // whatever it held goes before the lock is taken again
        lock.lock();
    }
}

WorkLanes::~WorkLanes() {
    while (active_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void WorkLanes::Run(Work work, Done done) {
    ++active_;
    RunStep(std::move(work), [this, done = std::move(done)](std::exception_ptr error) {
        done(error);
        --active_;
    });
}

void WorkLanes::RunStep(Work work, Done done) {
    const Lane lane = work.lane;
    PoolOf(lane).Post([this, lane, work = std::move(work), done = std::move(done)]() mutable {
        // Steps on this lane run here at once; only a change of lane queues again.
        while (work && work.lane == lane) {
            try {
                work = work.step();
            } catch (...) {
                done(std::current_exception());
                return;
            }
        }
        if (work) {
            RunStep(std::move(work), std::move(done));
        } else {
            done(nullptr);
        }
    });
}

}  // namespace tidewell::webfolder
