#include "TestServers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "platform/CodePage.h"

namespace tidewell::test {
namespace {

// Waits up to timeoutMs for fd to become readable.
bool Readable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

}  // namespace

RawServer::RawServer(Handler handler, int port) : handler_(std::move(handler)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 16) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return;
    }
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
}

RawServer::~RawServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listenFd_ >= 0) ::close(listenFd_);
}

std::string RawServer::url() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> RawServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void RawServer::Run() {
    while (!stop_) {
        if (!Readable(listenFd_, 20)) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        Serve(fd);
        ::close(fd);
    }
}

void RawServer::Serve(int fd) {
    std::string request;
    std::size_t wanted = std::string::npos;
    char buffer[65536];
    while (request.size() < wanted && Readable(fd, 5000)) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        request.append(buffer, static_cast<std::size_t>(n));
        const std::size_t end = request.find("\r\n\r\n");
        if (wanted == std::string::npos && end != std::string::npos) {
            const std::string length = RequestHeader(request, "Content-Length");
            wanted = end + 4 + (length.empty() ? 0 : std::stoull(length));
        }
    }
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    const RawReply reply = handler_(request);
    std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMs));
    std::size_t sent = 0;
    while (sent < reply.bytes.size()) {
        const ssize_t n =
            ::send(fd, reply.bytes.data() + sent, reply.bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
    while (reply.hold && !stop_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::shutdown(fd, SHUT_WR);
    // Let the client read everything before the socket goes.
    while (Readable(fd, 1000) && ::read(fd, buffer, sizeof buffer) > 0) {
    }
}

HttplibServer::~HttplibServer() {
    server.stop();
    if (thread_.joinable()) thread_.join();
}

void HttplibServer::Start() {
    port_ = server.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("cannot bind a loopback port");
    thread_ = std::thread([this] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

std::string HttplibServer::url() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

ListRefusingProxy::ListRefusingProxy(const std::string& serviceUrl, const std::string& message) {
    const std::string refusal = "STATUS=5\r\nMESSAGE=" + Utf8ToAnsi(message) + "\r\n";
    server_.server.Post(
        R"(/tidewellweb/(.*))",
        [serviceUrl, refusal](const httplib::Request& request, httplib::Response& response) {
            if (request.body.find("cmd=companylist") != std::string::npos) {
                response.set_content(refusal, "text/plain");
                return;
            }
            httplib::Client service(serviceUrl);
            const auto answer =
                service.Post(request.path, request.body, request.get_header_value("Content-Type"));
            if (!answer) {
                response.status = 502;
                return;
            }
            response.status = answer->status;
            for (const auto& [name, value] : answer->headers) {
                if (name != "Content-Length" && name != "Transfer-Encoding") {
                    response.set_header(name, value);
                }
            }
            response.body = answer->body;
        });
    server_.Start();
}

std::string HttpReply(const std::string& status, const std::vector<std::string>& headers,
                      const std::string& body) {
    std::string reply = "HTTP/1.0 " + status + "\r\n";
    for (const auto& header : headers) reply += header + "\r\n";
    return reply + "\r\n" + body;
}

std::string RequestHeader(const std::string& request, const std::string& name) {
    const std::string head = request.substr(0, request.find("\r\n\r\n") + 2);
    std::size_t start = head.find("\r\n");
    while (start != std::string::npos && start + 2 < head.size()) {
        const std::size_t end = head.find("\r\n", start + 2);
        const std::string line = head.substr(start + 2, end - start - 2);
        if (line.size() > name.size() && line[name.size()] == ':' &&
            strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
            std::size_t value = name.size() + 1;
            while (value < line.size() && line[value] == ' ') ++value;
            return line.substr(value);
        }
        start = end;
    }
    return {};
}

struct TlsServer::Impl {
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> context{SSL_CTX_new(TLS_server_method()),
                                                         SSL_CTX_free};
    std::string reply;
    int listenFd = -1;
    int port = 0;
    std::atomic<bool> stop{false};
    std::thread thread;

    void Serve(int fd) {
        std::unique_ptr<SSL, void (*)(SSL*)> tls(SSL_new(context.get()), SSL_free);
        SSL_set_fd(tls.get(), fd);
        if (SSL_accept(tls.get()) == 1) {
            std::string request;
            char buffer[4096];
            // The head, then as much body as it announces.
            for (;;) {
                const int n = SSL_read(tls.get(), buffer, sizeof buffer);
                if (n <= 0) break;
                request.append(buffer, static_cast<std::size_t>(n));
                const std::size_t head = request.find("\r\n\r\n");
                if (head == std::string::npos) continue;
                const std::string length = RequestHeader(request, "Content-Length");
                if (request.size() >= head + 4 + std::strtoul(length.c_str(), nullptr, 10)) break;
            }
            SSL_write(tls.get(), reply.data(), static_cast<int>(reply.size()));
            SSL_shutdown(tls.get());
        }
        ::close(fd);
    }
};

TlsServer::TlsServer(const std::string& certificateFile, const std::string& keyFile,
                     std::string reply)
    : impl_(std::make_unique<Impl>()) {
    impl_->reply = std::move(reply);
    SSL_CTX_use_certificate_file(impl_->context.get(), certificateFile.c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(impl_->context.get(), keyFile.c_str(), SSL_FILETYPE_PEM);
    impl_->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(impl_->listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(impl_->listenFd, 4);
    socklen_t length = sizeof address;
    ::getsockname(impl_->listenFd, reinterpret_cast<sockaddr*>(&address), &length);
    impl_->port = ntohs(address.sin_port);
    impl_->thread = std::thread([impl = impl_.get()] {
        // A client that refuses the certificate hangs up while this side still writes.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        while (!impl->stop) {
            if (!Readable(impl->listenFd, 50)) continue;
            const int fd = ::accept(impl->listenFd, nullptr, nullptr);
            if (fd >= 0) impl->Serve(fd);
        }
    });
}

TlsServer::~TlsServer() {
    impl_->stop = true;
    impl_->thread.join();
    ::close(impl_->listenFd);
}

std::string TlsServer::url() const {
    return "https://127.0.0.1:" + std::to_string(impl_->port);
}

bool MakeLoopbackCertificate(const std::string& folder, std::string& certificateFile,
                             std::string& keyFile) {
    certificateFile = folder + "/service.crt";
    keyFile = folder + "/service.key";
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
        "-addext subjectAltName=IP:127.0.0.1 -keyout '" +
        keyFile + "' -out '" + certificateFile + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace tidewell::test
