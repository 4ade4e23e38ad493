#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ArchiveBytes.h"
#include "ConnectionWatch.h"
#include "ListeningSocket.h"
#include "RequestLog.h"
#include "WorkerPool.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace tidewell::webfolder {

// One per core, at least two.
inline unsigned DefaultThreads() {
    return std::max(2u, std::thread::hardware_concurrency());
}

// What no client can get past. Memory per connection bounds the request head (request line
// and headers) in bytes: the HTTP library answers 431 when the head does not fit.
struct HttpLimits {
    PaceRules pace;
    unsigned idleSeconds = 30;  // no progress on a reply
    unsigned maxHeaders = 100;
    std::size_t connectionMemory = 64 * 1024;
    unsigned maxConnections = 1000;
    unsigned perAddress = 32;  // connections open at once from one address
    // Threads serving connections, and for the slow work off them: database steps and file
    // writes, password checks. None of them waits for long, so one of each per core. The steps
    // that make an archive durable may wait for an object store: more threads for them.
    unsigned threads = DefaultThreads();
    unsigned storageThreads = DefaultThreads();
    unsigned passwordThreads = DefaultThreads();
    unsigned objectThreads = 4 * DefaultThreads();
    // Requests whose peer is this address name the client in X-Real-IP (a reverse proxy).
    std::string trustedProxy;
};

struct HttpRequest {
    std::string method;
    std::string path;
    std::string contentType;
    std::string remote;  // the client's address
};

struct HttpResponse {
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // When set, the reply's body is what this reader gives instead of body.
    std::shared_ptr<ArchiveReader> reader;
    bool close = false;  // the connection ends after the reply
    RequestNote note;    // what the log line says about the request
};

// What a handler did with a piece of the body.
struct Taken {
    std::size_t bytes = 0;  // how much of the piece it took
    Work work;              // slow work to run before the rest is offered
    bool close = false;     // end the connection without an answer
};

// Takes one request's body as it arrives and gives the answer when it is complete. Data and
// Answer run on the serving threads and must never wait; whatever is slow goes into Work,
// which runs on the worker lanes while the connection waits.
class RequestHandler {
public:
    virtual ~RequestHandler() = default;
    // Takes the whole piece, or returns work: what it leaves is offered again after the work.
    virtual Taken Data(const char* data, std::size_t size) = 0;
    // The body is complete: the work the answer needs, if any.
    virtual Work Finish() { return {}; }
    virtual HttpResponse Answer() = 0;
};

// The answer is fixed before the body is read. The body is still read and dropped, up to a
// bound, so that a client that sends everything before it reads gets the answer.
class FixedAnswer : public RequestHandler {
public:
    static constexpr std::size_t kMaxDrainBytes = 8 * 1024 * 1024;
    explicit FixedAnswer(HttpResponse response) : response_(std::move(response)) {}
    Taken Data(const char*, std::size_t size) override;
    HttpResponse Answer() override { return std::move(response_); }

private:
    HttpResponse response_;
    std::size_t drained_ = 0;
};

// Chooses the handler for a request once its head has arrived; called on the serving threads.
using RequestRouter = std::function<std::unique_ptr<RequestHandler>(const HttpRequest&)>;

// Open connections per client address. A place is given back as soon as the connection's
// last request has ended, not when the library gets round to closing its socket.
class AddressSlots {
public:
    explicit AddressSlots(unsigned perAddress) : perAddress_(perAddress) {}
    // Takes a place when the address has room, in one step: two connections of one address
    // accepted at once on two serving threads must not both see the last place free.
    bool TryTake(const std::string& address);
    void Give(const std::string& address);

private:
    unsigned perAddress_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, unsigned> open_;
};

// An event-driven HTTP server: a few threads each wait on many connections, so clients that
// send slowly or not at all hold a socket and a little memory, never a thread. What handlers
// must wait for runs on worker lanes while the connection is paused.
class HttpDaemon {
public:
    // Starts serving on the socket at once; raises Exception.
    HttpDaemon(ListeningSocket socket, const HttpLimits& limits, RequestRouter router,
               RequestLog& log);
    HttpDaemon(const HttpDaemon&) = delete;
    HttpDaemon& operator=(const HttpDaemon&) = delete;
    // Takes no new requests, lets those under way finish (up to the idle time), cuts the
    // rest, waits for their work, then closes every connection.
    ~HttpDaemon();

    int Port() const { return socket_.Port(); }

private:
    friend struct DaemonCallbacks;
    struct Request;
    struct Connection;
    std::string ClientAddress(MHD_Connection* connection) const;
    // The client behind a trusted reverse proxy; empty when the peer is the client.
    std::string ForwardedAddress(MHD_Connection* connection, const Request& request) const;
    void Pause(Request& request, MHD_Connection* connection, Work work);
    void WaitForRequests(std::chrono::steady_clock::duration longest) const;

    ListeningSocket socket_;
    HttpLimits limits_;
    RequestRouter router_;
    RequestLog& log_;
    ConnectionWatch watch_;
    AddressSlots slots_;
    std::atomic<int> requestsUnderWay_{0};
    std::atomic<bool> stopping_{false};  // new requests are turned away
    WorkLanes lanes_;
    MHD_Daemon* daemon_ = nullptr;
};

}  // namespace tidewell::webfolder
