#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ConnectionWatch.h"
#include "ListeningSocket.h"
#include "RequestLog.h"
#include "platform/FileHandle.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace tidewell::webfolder {

// What no client can get past. Memory per connection bounds the request head (request line
// and headers) in bytes: the HTTP library answers 431 when the head does not fit.
struct HttpLimits {
    std::chrono::milliseconds headTime{10000};  // the whole head; also idle keep-alive
    unsigned idleSeconds = 30;                  // no progress on a body or a reply
    unsigned maxHeaders = 100;
    std::size_t connectionMemory = 64 * 1024;
    unsigned maxConnections = 1000;
    unsigned perAddress = 32;
    unsigned threads = 4;
    // Requests whose peer is this address name the client in X-Real-IP (a reverse proxy).
    std::string trustedProxy;
};

struct HttpRequest {
    std::string method;
    std::string path;
    std::string contentType;
    std::string remote;                    // the client's address
    MHD_Connection* connection = nullptr;  // for MultipartStream
};

struct HttpResponse {
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // When set, the reply's body is this file's first fileSize bytes instead of body.
    std::shared_ptr<FileHandle> file;
    std::int64_t fileSize = 0;
    RequestNote note;  // what the log line says about the request
};

// Takes one request's body as it arrives and gives the answer when it is complete.
class RequestHandler {
public:
    virtual ~RequestHandler() = default;
    // A piece of the body; false closes the connection without an answer.
    virtual bool Data(const char* data, std::size_t size) = 0;
    virtual HttpResponse Finish() = 0;
};

// The answer is fixed before the body is read. The body is still read and dropped, up to a
// bound, so that a client that sends everything before it reads gets the answer.
class FixedAnswer : public RequestHandler {
public:
    static constexpr std::size_t kMaxDrainBytes = 8 * 1024 * 1024;
    explicit FixedAnswer(HttpResponse response) : response_(std::move(response)) {}
    bool Data(const char*, std::size_t size) override;
    HttpResponse Finish() override { return std::move(response_); }

private:
    HttpResponse response_;
    std::size_t drained_ = 0;
};

// Chooses the handler for a request once its head has arrived; called on the daemon's threads.
using RequestRouter = std::function<std::unique_ptr<RequestHandler>(const HttpRequest&)>;

// An event-driven HTTP server: a few threads each wait on many connections, so clients that
// send slowly or not at all hold a socket and a little memory, never a thread. Handlers run
// on these threads and must not wait for anything but the disk and the CPU.
class HttpDaemon {
public:
    // Starts serving on the socket at once; raises Exception.
    HttpDaemon(ListeningSocket socket, const HttpLimits& limits, RequestRouter router,
               RequestLog& log);
    HttpDaemon(const HttpDaemon&) = delete;
    HttpDaemon& operator=(const HttpDaemon&) = delete;
    // Takes no new connections, lets requests under way finish (up to the idle time), then
    // closes every connection.
    ~HttpDaemon();

    int Port() const { return socket_.Port(); }

private:
    friend struct DaemonCallbacks;
    struct Request;
    std::string ClientAddress(MHD_Connection* connection) const;
    // The client behind a trusted reverse proxy; empty when the peer is the client.
    std::string ForwardedAddress(MHD_Connection* connection, const Request& request) const;

    ListeningSocket socket_;
    HttpLimits limits_;
    RequestRouter router_;
    RequestLog& log_;
    ConnectionWatch watch_;
    std::atomic<int> requestsUnderWay_{0};
    std::atomic<bool> stopping_{false};  // new requests are turned away
    MHD_Daemon* daemon_ = nullptr;
};

}  // namespace tidewell::webfolder
