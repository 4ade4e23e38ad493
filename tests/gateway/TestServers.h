#pragma once

#include <httplib.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gateway/HttpClient.h"

namespace tidewell::test {

// What the raw server sends back: bytes exactly as given. With hold, the connection then stays
// open and silent until the server goes away.
struct RawReply {
    std::string bytes;
    bool hold = false;
    int delayMs = 0;  // before anything is sent
};

// A loopback server on a plain socket, for tests where every byte on the wire matters. It reads
// each request whole (headers and Content-Length bytes), records it and answers from handler.
class RawServer {
public:
    using Handler = std::function<RawReply(const std::string& request)>;
    explicit RawServer(Handler handler, int port = 0);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    bool listening() const { return listenFd_ >= 0; }
    int port() const { return port_; }
    std::string url() const;  // "http://127.0.0.1:port"
    std::vector<std::string> requests() const;

private:
    void Run();
    void Serve(int fd);

    Handler handler_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// A cpp-httplib server on a loopback port; routes are set on `server` before Start.
class HttplibServer {
public:
    HttplibServer() = default;
    ~HttplibServer();
    void Start();
    std::string url() const;
    httplib::Server server;

private:
    int port_ = 0;
    std::thread thread_;
};

// The reference service as a client sees it through a proxy that refuses the company list
// (as a service does whose account changed between two requests) and passes the other form
// requests on (not uploads).
class ListRefusingProxy {
public:
    // message: the service's reason, in UTF-8 (it goes on the wire in CP949).
    ListRefusingProxy(const std::string& serviceUrl, const std::string& message);
    std::string url() const { return server_.url(); }

private:
    HttplibServer server_;
};

// A loopback HTTPS server with a certificate of its own, answering every request with reply.
class TlsServer {
public:
    TlsServer(const std::string& certificateFile, const std::string& keyFile, std::string reply);
    ~TlsServer();
    TlsServer(const TlsServer&) = delete;
    TlsServer& operator=(const TlsServer&) = delete;
    std::string url() const;  // "https://127.0.0.1:port"

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A self-signed certificate for 127.0.0.1 and its key, made by the openssl program in folder;
// false when there is no such program.
bool MakeLoopbackCertificate(const std::string& folder, std::string& certificateFile,
                             std::string& keyFile);

// A plain HTTP/1.0 reply with the given status line, extra header lines and body.
std::string HttpReply(const std::string& status, const std::vector<std::string>& headers,
                      const std::string& body);

// The value of a header in captured request bytes ("" when absent).
std::string RequestHeader(const std::string& request, const std::string& name);

// The HttpError that action raises; nullopt when it raises none.
template <typename Action>
std::optional<HttpError> RaisedHttpError(Action action) {
    try {
        action();
    } catch (const HttpError& error) {
        return error;
    }
    return std::nullopt;
}

}  // namespace tidewell::test
