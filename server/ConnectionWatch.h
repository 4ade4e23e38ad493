#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

namespace tidewell::webfolder {

// How long a client may take over what it sends.
struct PaceRules {
    // The whole head; the same clock runs between the requests of a kept-alive connection.
    std::chrono::milliseconds headTime{10000};
    // A body must bring at least minBodyRate bytes per second, counted over each window from
    // the end of its head; the first window is the grace a starting sender gets.
    std::uint64_t minBodyRate = 1024;
    std::chrono::milliseconds bodyWindow{30000};
    // Connections still sending a head or a body, at most; a new one beyond it pushes out the
    // one that has been at it longest.
    unsigned maxUnfinished = 900;
};

// Closes connections whose client takes too long: a head that does not arrive in time as a
// whole, a body that trickles, and, when too many connections are unfinished, the oldest of
// them. The HTTP library only knows an idle timeout, which a client that sends one byte now and
// then never meets. Time the service spends on a request (the connection paused meanwhile)
// never counts against the client.
//
// A connection is cut by shutting its socket down; the library then sees the end of the
// stream and closes it. The socket is touched only between Opened and Closed, while the
// library still owns it, so a number reused by a later connection is never hit.
class ConnectionWatch {
public:
    explicit ConnectionWatch(PaceRules rules);
    ConnectionWatch(const ConnectionWatch&) = delete;
    ConnectionWatch& operator=(const ConnectionWatch&) = delete;
    ~ConnectionWatch();

    void Opened(const void* connection, int socket);
    void HeadArrived(const void* connection);  // the head's clock stops, the body's starts
    void BodyProgress(const void* connection, std::uint64_t bytes);
    void BodyDone(const void* connection);
    void Paused(const void* connection);  // the service works; the client's clocks stop
    void Resumed(const void* connection);
    void RequestDone(const void* connection);  // the head's clock starts again
    void Closed(const void* connection);
    // Cuts every connection (a stop that can wait no longer).
    void CutAll();
    // Why the connection was cut ("head-timeout", "slow-body", "crowded"); empty when it was not.
    std::string CutReason(const void* connection) const;

private:
    using Clock = std::chrono::steady_clock;
    enum class Phase { Head, Body, Serving };
    struct Entry {
        int socket = -1;
        Phase phase = Phase::Head;
        Clock::time_point since;  // start of the phase, or of the body's current window
        std::uint64_t bytes = 0;  // body bytes so far
        std::uint64_t windowBytes = 0;
        bool paused = false;
        Clock::time_point pausedAt;
        const char* cut = nullptr;
    };
    void Cut(Entry& entry, const char* reason);
    void MakeRoom(const void* newcomer);
    void Run();

    const PaceRules rules_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::unordered_map<const void*, Entry> connections_;
    unsigned unfinished_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace tidewell::webfolder
