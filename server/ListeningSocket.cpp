#include "ListeningSocket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>

#include <memory>

#include "platform/Error.h"

namespace tidewell::webfolder {

ListeningSocket::ListeningSocket(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string where = host + ":" + std::to_string(port);
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
        throw Exception("cannot listen on " + where + ": unknown address");
    }
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, ::freeaddrinfo);
    socket_ = FileHandle(
        ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket_) throw Exception("cannot listen on " + where + ": " + strerror(errno));
    // Reusing an address in TIME_WAIT lets a restart follow a stop at once; SO_REUSEPORT stays
    // off, so a second service can't share the port.
    const int on = 1;
    ::setsockopt(socket_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(socket_.get(), found->ai_addr, found->ai_addrlen) != 0 ||
        ::listen(socket_.get(), SOMAXCONN) != 0) {
        throw Exception("cannot listen on " + where + ": " + strerror(errno));
    }
    ipv6_ = found->ai_family == AF_INET6;
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = ntohs(ipv6_ ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                        : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

}  // namespace tidewell::webfolder
