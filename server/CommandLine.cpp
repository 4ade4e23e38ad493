#include "CommandLine.h"

#include <algorithm>
#include <charconv>
#include <map>

namespace tidewell::webfolder {
namespace {

using Values = std::map<std::string, std::string>;

// Reads "--name value" and "--name=value" pairs, allowing only the names given.
Values ReadOptions(std::span<const std::string> arguments,
                   std::initializer_list<std::string_view> allowed) {
    Values values;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!argument.starts_with("--")) {
            throw UsageError("unexpected argument '" + argument +
                             "' (a value with spaces must be quoted)");
        }
        std::string name = argument.substr(2);
        std::string value;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        } else {
            if (i + 1 >= arguments.size()) throw UsageError("--" + name + " needs a value");
            value = arguments[++i];
        }
        if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
            throw UsageError("unknown option --" + name);
        }
        if (!values.emplace(name, value).second) throw UsageError("--" + name + " is given twice");
    }
    return values;
}

const std::string& Required(const Values& values, const std::string& name) {
    const auto found = values.find(name);
    if (found == values.end() || found->second.empty())
        throw UsageError("--" + name + " is required");
    return found->second;
}

std::int64_t Integer(const std::string& name, const std::string& text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        throw UsageError("--" + name + " must be a whole number, not '" + text + "'");
    }
    return value;
}

}  // namespace

void ParseListenAddress(std::string_view text, std::string& host, int& port) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) throw UsageError("--listen must be ADDRESS:PORT");
    std::string_view address = text.substr(0, colon);
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
        address = address.substr(1, address.size() - 2);
    }
    if (address.empty()) throw UsageError("--listen needs an address before the port");
    const std::string portText(text.substr(colon + 1));
    const std::int64_t value = Integer("listen", portText);
    if (value < 0 || value > 65535) throw UsageError("--listen port must be between 0 and 65535");
    host = std::string(address);
    port = static_cast<int>(value);
}

Command ParseCommandLine(std::span<const std::string> arguments) {
    if (arguments.empty()) throw UsageError("no command given");
    const std::string& command = arguments.front();
    const auto rest = arguments.subspan(1);
    if (command == "help" || command == "--help" || command == "-h") return HelpRequest{};
    if (command == "serve") {
        const Values values = ReadOptions(rest, {"data", "listen"});
        ServeOptions options;
        options.dataFolder = Required(values, "data");
        if (const auto listen = values.find("listen"); listen != values.end()) {
            ParseListenAddress(listen->second, options.host, options.port);
        }
        return options;
    }
    if (command == "adduser") {
        const Values values =
            ReadOptions(rest, {"data", "id", "password", "name", "days", "quota"});
        AddUserOptions options;
        options.dataFolder = Required(values, "data");
        options.account.userId = Required(values, "id");
        options.account.password = Required(values, "password");
        options.account.name = Required(values, "name");
        if (const auto days = values.find("days"); days != values.end()) {
            options.account.days = Integer("days", days->second);
        }
        if (const auto quota = values.find("quota"); quota != values.end()) {
            options.account.quota = Integer("quota", quota->second);
        }
        return options;
    }
    throw UsageError("unknown command '" + command + "'");
}

std::string UsageText() {
    return "usage:\n"
           "  tidewell-webfolder serve --data DIR [--listen ADDR:PORT]\n"
           "      serves the web folder kept in DIR (default address 127.0.0.1:8080; port 0\n"
           "      picks a free port). The port is printed on the first line of standard output.\n"
           "  tidewell-webfolder adduser --data DIR --id ID --password PW --name NAME\n"
           "                             [--days N] [--quota BYTES]\n"
           "      creates or updates an account. --days N ends its period N times 24 hours\n"
           "      from now (0: already ended; left out: no end date). --quota is the web\n"
           "      folder's size in bytes (default 1073741824).\n";
}

}  // namespace tidewell::webfolder
