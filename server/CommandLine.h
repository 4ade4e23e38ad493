#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "Account.h"
#include "WebFolderServer.h"
#include "platform/Error.h"

namespace tidewell::webfolder {

// A command line that can't be followed; the text says why.
class UsageError : public Exception {
public:
    using Exception::Exception;
};

struct ServeOptions {
    StoreLocation location;
    std::string host = "127.0.0.1";
    int port = 8080;
    ServiceSettings settings;
};

struct AddUserOptions {
    StoreLocation location;
    AccountSettings account;  // the password is read later unless --password gave it
    bool passwordOnCommandLine = false;
    int passwordIterations = kPasswordIterations;
};

struct PruneOptions {
    StoreLocation location;
    std::optional<std::size_t> keep;
    std::optional<std::int64_t> keepBefore;  // seconds since 1970
    std::string account;                     // empty: every account
};

struct BackupOptions {
    std::filesystem::path dataFolder;
    std::filesystem::path destination;
};

struct RestoreBackupOptions {
    std::filesystem::path backup;
    std::filesystem::path dataFolder;  // new
};

struct FsckOptions {
    StoreLocation location;
    bool repair = false;
    std::size_t maxRepairs = 100;
};

// Moves an embedded data folder into PostgreSQL and an object store.
struct MigrateOptions {
    std::filesystem::path dataFolder;
    StoreLocation target;
};

struct HelpRequest {};

using Command = std::variant<ServeOptions, AddUserOptions, PruneOptions, BackupOptions,
                             RestoreBackupOptions, FsckOptions, MigrateOptions, HelpRequest>;

// The arguments after the program's name (see UsageText). Options take their value as the
// next argument or after "="; raises UsageError.
Command ParseCommandLine(std::span<const std::string> arguments);

// "HOST:PORT" or "[IPv6]:PORT", port 0 to 65535.
void ParseListenAddress(std::string_view text, std::string& host, int& port);

// "YYYY-MM-DD HH:MM[:SS]" (or with a T between) in local time, or "@SECONDS" since 1970;
// raises UsageError.
std::int64_t ParseTime(std::string_view text);

std::string UsageText();

}  // namespace tidewell::webfolder
