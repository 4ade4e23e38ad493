#include "ConnectionWatch.h"

#include <sys/socket.h>

#include <algorithm>

namespace tidewell::webfolder {
ConnectionWatch::ConnectionWatch(PaceRules rules) : rules_(rules), thread_([this] { Run(); }) {}

ConnectionWatch::~ConnectionWatch() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void ConnectionWatch::Cut(Entry& entry, const char* reason) {
    if (entry.cut) return;
    if (entry.phase != Phase::Serving) --unfinished_;
    ::shutdown(entry.socket, SHUT_RDWR);
    entry.cut = reason;
}

void ConnectionWatch::MakeRoom(const void* newcomer) {
    // The unfinished connection that has been at it longest, unless the service holds it.
    Entry* oldest = nullptr;
    for (auto& [connection, entry] : connections_) {
        if (connection == newcomer || entry.cut || entry.paused || entry.phase == Phase::Serving) {
            continue;
        }
        if (!oldest || entry.since < oldest->since) oldest = &entry;
    }
    if (oldest) Cut(*oldest, "crowded");
}

void ConnectionWatch::Opened(const void* connection, int socket) {
    std::lock_guard lock(mutex_);
    Entry entry;
    entry.socket = socket;
    entry.since = Clock::now();
    connections_[connection] = entry;
    if (++unfinished_ > rules_.maxUnfinished) MakeRoom(connection);
}

void ConnectionWatch::HeadArrived(const void* connection) {
    std::lock_guard lock(mutex_);
    const auto found = connections_.find(connection);
    if (found == connections_.end() || found->second.cut) return;
    Entry& entry = found->second;
    entry.phase = Phase::Body;
    entry.since = Clock::now();
    entry.bytes = entry.windowBytes = 0;
}

void ConnectionWatch::BodyProgress(const void* connection, std::uint64_t bytes) {
    std::lock_guard lock(mutex_);
    const auto found = connections_.find(connection);
    if (found != connections_.end()) found->second.bytes += bytes;
}

void ConnectionWatch::BodyDone(const void* connection) {
    std::lock_guard lock(mutex_);
    const auto found = connections_.find(connection);
    if (found == connections_.end() || found->second.cut || found->second.phase != Phase::Body) {
        return;
    }
    found->second.phase = Phase::Serving;
    --unfinished_;
}

void ConnectionWatch::Paused(const void* connection) {
    std::lock_guard lock(mutex_);
    const auto found = connections_.find(connection);
    if (found == connections_.end()) return;
    found->second.paused = true;
    found->second.pausedAt = Clock::now();
}

void ConnectionWatch::Resumed(const void* connection) {
    std::lock_guard lock(mutex_);
    const auto found = connections_.find(connection);
    if (found == connections_.end() || !found->second.paused) return;
    // The clocks stood still while the service worked.
    found->second.since += Clock::now() - found->second.pausedAt;
    found->second.paused = false;
}

void ConnectionWatch::RequestDone(const void* connection) {
    std::lock_guard lock(mutex_);
    const auto found = connections_.find(connection);
    if (found == connections_.end() || found->second.cut) return;
    Entry& entry = found->second;
    if (entry.phase == Phase::Serving) ++unfinished_;
    entry.phase = Phase::Head;
    entry.since = Clock::now();
    entry.paused = false;
}

void ConnectionWatch::Closed(const void* connection) {
    std::lock_guard lock(mutex_);
    const auto found = connections_.find(connection);
    if (found == connections_.end()) return;
    if (!found->second.cut && found->second.phase != Phase::Serving) --unfinished_;
    connections_.erase(found);
}

void ConnectionWatch::CutAll() {
    std::lock_guard lock(mutex_);
    for (auto& [connection, entry] : connections_) Cut(entry, "shutdown");
}

std::string ConnectionWatch::CutReason(const void* connection) const {
    std::lock_guard lock(mutex_);
    const auto found = connections_.find(connection);
    return found != connections_.end() && found->second.cut ? found->second.cut : "";
}

void ConnectionWatch::Run() {
    // Checking a few times per deadline keeps a late cut within a quarter of it.
    const auto shortest = std::min(rules_.headTime, rules_.bodyWindow);
    const auto step = std::clamp<std::chrono::milliseconds>(
        shortest / 4, std::chrono::milliseconds(20), std::chrono::milliseconds(1000));
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, step, [this] { return stopping_; })) {
        const auto now = Clock::now();
        for (auto& [connection, entry] : connections_) {
            if (entry.cut || entry.paused) continue;
            if (entry.phase == Phase::Head && now - entry.since >= rules_.headTime) {
                Cut(entry, "head-timeout");
            } else if (entry.phase == Phase::Body && now - entry.since >= rules_.bodyWindow) {
                const auto window =
                    std::chrono::duration_cast<std::chrono::milliseconds>(now - entry.since);
                const std::uint64_t wanted =
                    rules_.minBodyRate * static_cast<std::uint64_t>(window.count()) / 1000;
                if (entry.bytes - entry.windowBytes < wanted) {
                    Cut(entry, "slow-body");
                } else {
                    entry.since = now;
                    entry.windowBytes = entry.bytes;
                }
            }
        }
    }
}

}  // namespace tidewell::webfolder
