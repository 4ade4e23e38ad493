#include "RawConnection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <fstream>

#include "platform/Error.h"

namespace tidewell::test {
namespace {

sockaddr_in Loopback(const std::string& address, int port) {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &in.sin_addr);
    return in;
}

}  // namespace

RawConnection::RawConnection(int port, const std::string& from)
    : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    ::signal(SIGPIPE, SIG_IGN);
    const sockaddr_in source = Loopback(from, 0);
    const sockaddr_in target = Loopback("127.0.0.1", port);
    if (!socket_ ||
        ::bind(socket_.get(), reinterpret_cast<const sockaddr*>(&source), sizeof source) != 0 ||
        ::connect(socket_.get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        throw Exception("cannot connect from " + from);
    }
}

bool RawConnection::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

std::string RawConnection::ReadAll(std::chrono::milliseconds time) {
    return ReadSome(std::string::npos, time);
}

std::string RawConnection::ReadSome(std::size_t size, std::chrono::milliseconds time) {
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + time;
    while (received.size() < size) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd poller{socket_.get(), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&poller, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[4096];
        const ssize_t got =
            ::recv(socket_.get(), buffer, std::min(sizeof buffer, size - received.size()), 0);
        if (got <= 0) break;
        received.append(buffer, static_cast<std::size_t>(got));
    }
    return received;
}

bool RawConnection::ClosedWithin(std::chrono::milliseconds time) {
    const auto deadline = std::chrono::steady_clock::now() + time;
    while (true) {
        const auto left = std::max(std::chrono::milliseconds(0),
                                   std::chrono::duration_cast<std::chrono::milliseconds>(
                                       deadline - std::chrono::steady_clock::now()));
        pollfd poller{socket_.get(), POLLIN, 0};
        if (::poll(&poller, 1, static_cast<int>(left.count())) <= 0) return false;
        char buffer[4096];
        if (::recv(socket_.get(), buffer, sizeof buffer, 0) <= 0) return true;
    }
}

std::string Exchange(int port, const std::string& request, const std::string& from,
                     std::chrono::milliseconds time) {
    RawConnection connection(port, from);
    if (!connection.Send(request)) return {};
    return connection.ReadAll(time);
}

std::string FormRequest(const std::string& path, const std::string& form) {
    return "POST " + path +
           " HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(form.size()) + "\r\n\r\n" + form;
}

long PeakResidentKib(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0;
}

}  // namespace tidewell::test
