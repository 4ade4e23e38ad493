#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "Account.h"
#include "platform/Error.h"

namespace tidewell::webfolder {

// A command line that can't be followed; the text says why.
class UsageError : public Exception {
public:
    using Exception::Exception;
};

struct ServeOptions {
    std::filesystem::path dataFolder;
    std::string host = "127.0.0.1";
    int port = 8080;
};

struct AddUserOptions {
    std::filesystem::path dataFolder;
    AccountSettings account;
};

struct HelpRequest {};

using Command = std::variant<ServeOptions, AddUserOptions, HelpRequest>;

// The arguments after the program's name:
//   serve --data DIR [--listen ADDR:PORT]
//   adduser --data DIR --id ID --password PW --name NAME [--days N] [--quota BYTES]
// Options take their value as the next argument or after "="; raises UsageError.
Command ParseCommandLine(std::span<const std::string> arguments);

// "HOST:PORT" or "[IPv6]:PORT", port 0 to 65535.
void ParseListenAddress(std::string_view text, std::string& host, int& port);

std::string UsageText();

}  // namespace tidewell::webfolder
