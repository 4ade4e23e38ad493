#include "HostProgram.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/Error.h"
#include "platform/Sqlite.h"

namespace fs = std::filesystem;

namespace tidewell::test {

HostProgram HostProgram::Till(const fs::path& database, const std::string& mode, int intervalMs,
                              const fs::path& log) {
    HostProgram till({"till", database.string(), mode, std::to_string(intervalMs), log.string()},
                     false);
    for (int i = 0; i < 2500 && TillTokens(log).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (TillTokens(log).empty()) throw Exception("the till never committed");
    return till;
}

HostProgram HostProgram::Write(const fs::path& database, const fs::path& source, int pauseMs) {
    return HostProgram({"write", database.string(), source.string(), std::to_string(pauseMs)},
                       true);
}

HostProgram HostProgram::JetUser(const fs::path& database, const std::string& how) {
    return HostProgram({"jet", database.string(), how}, true);
}

HostProgram::HostProgram(const std::vector<std::string>& arguments, bool awaitLine) {
    std::vector<std::string> command = {TIDEWELL_TEST_HOST_PROGRAM};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : command) argv.push_back(argument.data());
    argv.push_back(nullptr);
    int line[2];
    if (::pipe(line) != 0) throw Exception("pipe failed");
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(line[1], STDOUT_FILENO);
        ::close(line[0]);
        ::close(line[1]);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(line[1]);
    char c = 0;
    // The first line says the lock is held; for a till the log says more.
    while (awaitLine && ::read(line[0], &c, 1) == 1 && c != '\n') {
    }
    ::close(line[0]);
}

HostProgram::HostProgram(HostProgram&& other) noexcept : pid_(other.pid_) {
    other.pid_ = -1;
}

HostProgram::~HostProgram() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        Wait();
    }
}

int HostProgram::Stop() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
    return Wait();
}

int HostProgram::Wait() {
    int status = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<std::string> TillTokens(const fs::path& log) {
    std::vector<std::string> tokens;
    std::ifstream in(log);
    for (std::string token; std::getline(in, token);) {
        if (!token.empty()) tokens.push_back(token);
    }
    return tokens;
}

std::set<std::string> SaleTokens(const fs::path& database) {
    std::set<std::string> tokens;
    try {
        SqliteDatabase db(database, SQLITE_OPEN_READONLY);
        for (auto notes = db.Prepare("SELECT note FROM sale"); notes.Step();) {
            tokens.insert(notes.ColumnText(0));
        }
    } catch (const SqliteError&) {
        // no sale table: none
    }
    return tokens;
}

}  // namespace tidewell::test
