#include "PasswordInput.h"

#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "platform/Error.h"

namespace tidewell::webfolder {
namespace {

// Turns echo off for as long as it lives.
class HiddenInput {
public:
    explicit HiddenInput(int fd) : fd_(fd) {
        if (::tcgetattr(fd_, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
    HiddenInput(const HiddenInput&) = delete;
    HiddenInput& operator=(const HiddenInput&) = delete;
    ~HiddenInput() {
        if (active_) ::tcsetattr(fd_, TCSAFLUSH, &saved_);
    }

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

}  // namespace

std::string ReadPassword(std::istream& input, int inputDescriptor) {
    if (const char* fromEnvironment = std::getenv(kPasswordVariable);
        fromEnvironment && *fromEnvironment) {
        return fromEnvironment;
    }
    std::string line;
    if (::isatty(inputDescriptor)) {
        std::cerr << "password: " << std::flush;
        const HiddenInput hidden(inputDescriptor);
        std::getline(input, line);
        std::cerr << std::endl;
    } else {
        std::getline(input, line);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
        throw Exception(std::string("no password: set ") + kPasswordVariable +
                        " or give it on standard input");
    }
    return line;
}

}  // namespace tidewell::webfolder
