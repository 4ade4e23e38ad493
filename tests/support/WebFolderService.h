#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tidewell::test {

// The path of the built tidewell-webfolder program.
std::filesystem::path WebFolderProgram();

struct ToolResult {
    int exitCode = -1;
    std::string output;  // standard output and standard error together
};

// Password checks as tests make them: far cheaper than the service's default.
inline constexpr char kTestPasswordIterations[] = "1000";

struct ToolRun {
    std::string input;                     // standard input
    std::vector<std::string> environment;  // NAME=value added to the test's own
    int timeLimitSeconds = 60;
};

// Runs tidewell-webfolder with these arguments and waits for it to end; after the time
// limit it is killed and exitCode is -1.
ToolResult RunWebFolderTool(const std::vector<std::string>& arguments, int timeLimitSeconds = 60);
ToolResult RunWebFolderTool(const std::vector<std::string>& arguments, const ToolRun& run);

// Where a service keeps accounts and archives, as every command of the program names it: a data
// folder (the embedded default), or an index in PostgreSQL with a bucket.
struct ServiceStore {
    std::vector<std::string> arguments;  // {"--data", DIR} or {"--index", URI, "--archives", ...}
    std::filesystem::path dataFolder;    // the data folder; empty for the distributed store
    std::filesystem::path logFile;       // where a service's log goes

    // A data folder, the log beside it.
    static ServiceStore Folder(const std::filesystem::path& dataFolder);
    // These arguments around the store's: {command, store..., rest...}.
    std::vector<std::string> Command(const std::string& command,
                                     const std::vector<std::string>& rest = {}) const;
};

// The reference web-folder service as a child process: `serve --data DIR --listen
// 127.0.0.1:0` (or the store's other arguments), its port read from the first line of its
// output. Its log (standard error) goes to the store's log file. Destroying the object stops
// the service with SIGTERM and waits for it; a service that did not end cleanly then fails the
// test. Passwords are hashed with kTestPasswordIterations; options adds to the serve command
// line.
class WebFolderService {
public:
    explicit WebFolderService(std::filesystem::path dataFolder,
                              std::vector<std::string> options = {});
    explicit WebFolderService(ServiceStore store, std::vector<std::string> options = {});
    WebFolderService(const WebFolderService&) = delete;
    WebFolderService& operator=(const WebFolderService&) = delete;
    ~WebFolderService();

    int Port() const { return port_; }
    pid_t Pid() const { return pid_; }
    std::string Host() const { return "127.0.0.1"; }
    std::string BaseUrl() const;
    const std::filesystem::path& DataFolder() const { return store_.dataFolder; }
    const ServiceStore& Store() const { return store_; }
    const std::filesystem::path& LogFile() const { return store_.logFile; }
    std::string LogText() const;

    // Creates or updates an account through `adduser`, the password in the environment;
    // raises Exception with the program's output when it fails.
    void AddUser(const std::string& id, const std::string& password, const std::string& name,
                 std::optional<std::int64_t> days = std::nullopt,
                 std::optional<std::int64_t> quota = std::nullopt) const;

    // Sends SIGTERM and waits; returns the exit code (128 + signal when killed). Later calls
    // return the same.
    int Stop();

private:
    ServiceStore store_;
    pid_t pid_ = -1;
    int port_ = 0;
    int exitCode_ = -1;
};

}  // namespace tidewell::test
