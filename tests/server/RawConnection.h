#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "platform/FileHandle.h"

namespace tidewell::test {

// A TCP connection to the service on loopback, as a misbehaving client would hold it: bytes go
// out exactly as given, from a chosen loopback source address (127.0.0.0/8 all reach the
// service, so tests can play many clients).
class RawConnection {
public:
    RawConnection(int port, const std::string& from = "127.0.0.1");

    // False once the service has closed or reset the connection.
    bool Send(std::string_view bytes);
    // Whether the service closed the connection within the time (answered or not).
    bool ClosedWithin(std::chrono::milliseconds time);
    // Everything the service sends until it closes the connection or the time runs out.
    std::string ReadAll(std::chrono::milliseconds time);
    // At most `size` bytes, as soon as they come (a client that reads slowly).
    std::string ReadSome(std::size_t size, std::chrono::milliseconds time);

private:
    FileHandle socket_;
};

// One request sent whole from the address, and everything the service answers until it closes
// the connection (or the time runs out); empty when it could not be sent.
std::string Exchange(int port, const std::string& request, const std::string& from = "127.0.0.1",
                     std::chrono::milliseconds time = std::chrono::seconds(10));

// An HTTP/1.0 POST of a form, as the client sends it.
std::string FormRequest(const std::string& path, const std::string& form);

// Peak resident memory of a process in KiB (VmHWM), 0 when it can't be read.
long PeakResidentKib(int pid);

}  // namespace tidewell::test
