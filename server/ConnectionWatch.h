#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace tidewell::webfolder {

// Closes connections whose request head takes too long as a whole. The HTTP library only
// knows an idle timeout, which a client that sends one byte now and then never meets. The
// same clock runs between requests, so it is also the deadline for an idle keep-alive.
//
// A connection is cut by shutting its socket down; the library then sees the end of the
// stream and closes it. The socket is touched only between Opened and Closed, while the
// library still owns it, so a number reused by a later connection is never hit.
class ConnectionWatch {
public:
    explicit ConnectionWatch(std::chrono::milliseconds headTime);
    ConnectionWatch(const ConnectionWatch&) = delete;
    ConnectionWatch& operator=(const ConnectionWatch&) = delete;
    ~ConnectionWatch();

    void Opened(const void* connection, int socket);
    void HeadArrived(const void* connection);  // the clock stops while a request is served
    void RequestDone(const void* connection);  // and starts again for the next head
    void Closed(const void* connection);
    // True when the connection was cut for a late head.
    bool WasCut(const void* connection) const;

private:
    using Clock = std::chrono::steady_clock;
    struct Entry {
        int socket = -1;
        Clock::time_point since;
        bool waitingForHead = true;
        bool cut = false;
    };
    void Run();

    const std::chrono::milliseconds headTime_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::unordered_map<const void*, Entry> connections_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace tidewell::webfolder
