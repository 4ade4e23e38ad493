#include "ConnectionWatch.h"

#include <sys/socket.h>

#include <algorithm>

namespace tidewell::webfolder {

ConnectionWatch::ConnectionWatch(std::chrono::milliseconds headTime)
    : headTime_(headTime), thread_([this] { Run(); }) {}

ConnectionWatch::~ConnectionWatch() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void ConnectionWatch::Opened(const void* connection, int socket) {
    std::lock_guard lock(mutex_);
    connections_[connection] = Entry{socket, Clock::now(), true};
}

void ConnectionWatch::HeadArrived(const void* connection) {
    std::lock_guard lock(mutex_);
    const auto found = connections_.find(connection);
    if (found != connections_.end()) found->second.waitingForHead = false;
}

void ConnectionWatch::RequestDone(const void* connection) {
    std::lock_guard lock(mutex_);
    const auto found = connections_.find(connection);
    if (found != connections_.end() && !found->second.cut) {
        found->second = Entry{found->second.socket, Clock::now(), true};
    }
}

bool ConnectionWatch::WasCut(const void* connection) const {
    std::lock_guard lock(mutex_);
    const auto found = connections_.find(connection);
    return found != connections_.end() && found->second.cut;
}

void ConnectionWatch::Closed(const void* connection) {
    std::lock_guard lock(mutex_);
    connections_.erase(connection);
}

void ConnectionWatch::Run() {
    // Checking a few times per deadline keeps a late cut within a quarter of it.
    const auto step = std::clamp<std::chrono::milliseconds>(
        headTime_ / 4, std::chrono::milliseconds(20), std::chrono::milliseconds(1000));
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, step, [this] { return stopping_; })) {
        const auto now = Clock::now();
        for (auto& [connection, entry] : connections_) {
            if (!entry.waitingForHead || now - entry.since < headTime_) continue;
            ::shutdown(entry.socket, SHUT_RDWR);
            entry.waitingForHead = false;  // once is enough
            entry.cut = true;
        }
    }
}

}  // namespace tidewell::webfolder
