#include "WebFolderService.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/Error.h"
#include "platform/FileHandle.h"

extern char** environ;

namespace tidewell::test {
namespace {

// Starts the program with stdout to outFd and stderr to errFd, in a clean signal state
// (the test runner's mask must not leak into the service).
pid_t Spawn(const std::vector<std::string>& arguments, int inFd, int outFd, int errFd,
            const std::vector<std::string>& environment = {}) {
    std::vector<std::string> words{WebFolderProgram().string()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (inFd < 0) {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    } else {
        posix_spawn_file_actions_adddup2(&actions, inFd, STDIN_FILENO);
    }
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> variables = environment;
    for (char** variable = environ; *variable; ++variable) variables.emplace_back(*variable);
    std::vector<char*> envp;
    for (auto& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) throw Exception("cannot start " + words.front());
    return pid;
}

int ExitCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

struct Pipe {
    FileHandle read, write;
    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) throw Exception("pipe failed");
        read = FileHandle(fds[0]);
        write = FileHandle(fds[1]);
    }
};

}  // namespace

std::filesystem::path WebFolderProgram() {
    return TIDEWELL_WEBFOLDER_PROGRAM;
}

ToolResult RunWebFolderTool(const std::vector<std::string>& arguments, int timeLimitSeconds) {
    ToolRun run;
    run.timeLimitSeconds = timeLimitSeconds;
    return RunWebFolderTool(arguments, run);
}

ToolResult RunWebFolderTool(const std::vector<std::string>& arguments, const ToolRun& run) {
    Pipe output, input;
    const pid_t pid =
        Spawn(arguments, input.read.get(), output.write.get(), output.write.get(), run.environment);
    output.write.Reset();
    input.read.Reset();
    // Small inputs fit the pipe's buffer, so writing before reading can't block.
    if (!run.input.empty() && ::write(input.write.get(), run.input.data(), run.input.size()) < 0) {
        ADD_FAILURE() << "cannot write the tool's input";
    }
    input.write.Reset();
    ToolResult result;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(run.timeLimitSeconds);
    bool timedOut = false;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd poller{output.read.get(), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&poller, 1, static_cast<int>(left.count())) <= 0) {
            timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        char buffer[4096];
        const ssize_t n = ::read(output.read.get(), buffer, sizeof buffer);
        if (n <= 0) break;
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitCode = timedOut ? -1 : ExitCode(status);
    return result;
}

ServiceStore ServiceStore::Folder(const std::filesystem::path& dataFolder) {
    return {{"--data", dataFolder.string()},
            dataFolder,
            dataFolder.parent_path() / (dataFolder.filename().string() + ".log")};
}

std::vector<std::string> ServiceStore::Command(const std::string& command,
                                               const std::vector<std::string>& rest) const {
    std::vector<std::string> words{command};
    words.insert(words.end(), arguments.begin(), arguments.end());
    words.insert(words.end(), rest.begin(), rest.end());
    return words;
}

WebFolderService::WebFolderService(std::filesystem::path dataFolder,
                                   std::vector<std::string> options)
    : WebFolderService(ServiceStore::Folder(dataFolder), std::move(options)) {}

WebFolderService::WebFolderService(ServiceStore store, std::vector<std::string> options)
    : store_(std::move(store)) {
    const FileHandle log(
        ::open(store_.logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    if (!log) throw Exception("cannot create " + store_.logFile.string());
    Pipe output;
    std::vector<std::string> arguments = store_.Command("serve", {"--listen", "127.0.0.1:0"});
    if (std::find(options.begin(), options.end(), "--password-iterations") == options.end()) {
        arguments.insert(arguments.end(), {"--password-iterations", kTestPasswordIterations});
    }
    arguments.insert(arguments.end(), options.begin(), options.end());
    pid_ = Spawn(arguments, -1, output.write.get(), log.get());
    output.write.Reset();

    // The first line is the port; a program that ends before printing it failed to start.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd poller{output.read.get(), POLLIN, 0};
        char c[64];
        ssize_t n = 0;
        if (left.count() <= 0 || ::poll(&poller, 1, static_cast<int>(left.count())) <= 0 ||
            (n = ::read(output.read.get(), c, sizeof c)) <= 0) {
            Stop();
            throw Exception("tidewell-webfolder did not start: " + LogText());
        }
        line.append(c, static_cast<std::size_t>(n));
    }
    for (char c : line.substr(0, line.find('\n'))) {
        if (c < '0' || c > '9' || port_ > 65535) {
            Stop();
            throw Exception("tidewell-webfolder printed no port: " + line);
        }
        port_ = port_ * 10 + (c - '0');
    }
}

WebFolderService::~WebFolderService() {
    // A service that crashed or failed to stop fails the test that ran it.
    if (pid_ < 0) return;
    if (const int code = Stop(); code != 0) {
        ADD_FAILURE() << "tidewell-webfolder ended with " << code << "; its log:\n" << LogText();
    }
}

std::string WebFolderService::BaseUrl() const {
    return "http://" + Host() + ":" + std::to_string(port_);
}

std::string WebFolderService::LogText() const {
    std::ifstream in(store_.logFile, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WebFolderService::AddUser(const std::string& id, const std::string& password,
                               const std::string& name, std::optional<std::int64_t> days,
                               std::optional<std::int64_t> quota) const {
    std::vector<std::string> arguments = store_.Command(
        "adduser", {"--id", id, "--name", name, "--password-iterations", kTestPasswordIterations});
    if (days) arguments.insert(arguments.end(), {"--days", std::to_string(*days)});
    if (quota) arguments.insert(arguments.end(), {"--quota", std::to_string(*quota)});
    ToolRun run;
    run.environment.push_back("TIDEWELL_WEBFOLDER_PASSWORD=" + password);
    const ToolResult result = RunWebFolderTool(arguments, run);
    if (result.exitCode != 0) throw Exception("adduser failed: " + result.output);
}

int WebFolderService::Stop() {
    if (pid_ < 0) return exitCode_;
    ::kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    exitCode_ = ExitCode(status);
    return exitCode_;
}

}  // namespace tidewell::test
