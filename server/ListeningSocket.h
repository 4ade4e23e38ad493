#pragma once

#include <string>

#include "platform/FileHandle.h"

namespace tidewell::webfolder {

// The service's listening socket, bound before the service starts so that a port in use is
// a clear error. Port 0 lets the system pick a free port.
class ListeningSocket {
public:
    // host is an address or a name; raises Exception when it can't listen there.
    ListeningSocket(const std::string& host, int port);
    ListeningSocket(ListeningSocket&&) = default;
    ListeningSocket& operator=(ListeningSocket&&) = default;

    int get() const { return socket_.get(); }
    int Port() const { return port_; }
    bool IsIpv6() const { return ipv6_; }
    // Gives up the descriptor to whoever closes it now.
    void Release() { socket_.Release(); }

private:
    FileHandle socket_;
    int port_ = 0;
    bool ipv6_ = false;
};

}  // namespace tidewell::webfolder
