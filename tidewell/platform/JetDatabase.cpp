#include "platform/JetDatabase.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/DatabaseFormat.h"
#include "platform/FileHandle.h"
#include "platform/jet/JetFileReader.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

using jet::JetReadStatus;
using Clock = std::chrono::steady_clock;

// More than any key or name: a reader that writes more is not ours to believe.
constexpr std::size_t kMaxReaderOutput = 64 * 1024;
constexpr auto kPollSlice = std::chrono::milliseconds(50);

// How the reader ended.
struct ReaderOutcome {
    bool exited = false;  // false: killed by a limit, by a signal or by us at the deadline
    int status = 0;
    std::string output;
};

// The reader process; killed and reaped when it goes out of scope still running.
class ReaderProcess {
public:
    explicit ReaderProcess(pid_t pid) : pid_(pid) {}
    ReaderProcess(const ReaderProcess&) = delete;
    ReaderProcess& operator=(const ReaderProcess&) = delete;
    ~ReaderProcess() {
        if (pid_ > 0) Kill();
    }

    void Kill() {
        ::kill(pid_, SIGKILL);
        Reap(0);
    }

    // Waits for the end (options 0) or looks whether it came (WNOHANG); true once reaped.
    bool Reap(int options) {
        int status = 0;
        pid_t got;
        do {
            got = ::waitpid(pid_, &status, options);
        } while (got < 0 && errno == EINTR);
        if (got == 0) return false;
        pid_ = -1;
        waitStatus_ = got > 0 ? status : -1;
        return true;
    }

    int waitStatus() const { return waitStatus_; }

private:
    pid_t pid_;
    int waitStatus_ = -1;
};

class SpawnActions {
public:
    SpawnActions() { posix_spawn_file_actions_init(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

JetDatabaseError ReaderMissing(const std::string& detail) {
    return JetDatabaseError(
        JetProblem::ReaderMissing,
        "Jet 데이터베이스를 읽는 프로그램(tidewell-jet-reader)을 실행할 수 없습니다: " + detail);
}

bool IsExecutable(const fs::path& file) {
    std::error_code error;
    return fs::is_regular_file(file, error) && ::access(file.c_str(), X_OK) == 0;
}

ReaderOutcome RunReader(const std::vector<std::string>& arguments, const JetReaderLimits& limits,
                        const StopQuery& stop) {
    const fs::path program = JetReaderProgram();
    std::vector<std::string> command = {program.string(), std::to_string(limits.cpuSeconds),
                                        std::to_string(limits.memoryMb)};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : command) argv.push_back(argument.data());
    argv.push_back(nullptr);
    // A plain environment: libmdb takes debug switches and character sets from its own.
    std::string locale = "LC_ALL=C.UTF-8";
    char* envp[] = {locale.data(), nullptr};

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw ReaderMissing(strerror(errno));
    FileHandle readEnd(pipeEnds[0]);
    FileHandle writeEnd(pipeEnds[1]);
    SpawnActions actions;
    posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDOUT_FILENO);
    // libmdb reports every oddity of a damaged file on standard error.
    posix_spawn_file_actions_addopen(actions.get(), STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], actions.get(), nullptr, argv.data(), envp);
    if (spawned != 0) throw ReaderMissing(strerror(spawned));
    ReaderProcess reader(pid);
    writeEnd.Reset();

    ReaderOutcome outcome;
    const auto deadline = Clock::now() + limits.timeout;
    bool open = true;
    while (open) {
        if (StopWanted(stop)) throw OperationStopped();  // the reader dies with its guard
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return outcome;
        pollfd ready{readEnd.get(), POLLIN, 0};
        const auto slice = std::min<Clock::duration>(left, kPollSlice);
        const int polled =
            ::poll(&ready, 1,
                   static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(slice).count()));
        if (polled < 0 && errno != EINTR) return outcome;
        if (polled <= 0) continue;
        char buffer[4096];
        const ssize_t got = ::read(readEnd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            open = false;
        } else if (outcome.output.size() + static_cast<std::size_t>(got) > kMaxReaderOutput) {
            return outcome;
        } else {
            outcome.output.append(buffer, static_cast<std::size_t>(got));
        }
    }
    // Standard output closed: the reader is ending or has ended.
    while (!reader.Reap(WNOHANG)) {
        if (StopWanted(stop)) throw OperationStopped();
        if (Clock::now() >= deadline) return outcome;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const int status = reader.waitStatus();
    if (status >= 0 && WIFEXITED(status)) {
        outcome.exited = true;
        outcome.status = WEXITSTATUS(status);
    }
    return outcome;
}

// Only Jet 4 files go to the reader at all; the others are told apart by their first bytes.
void RequireJet4(const fs::path& file) {
    DatabaseFormat format;
    try {
        format = DetectDatabaseFormat(file);
    } catch (const Exception& error) {
        throw JetDatabaseError(JetProblem::FileAccess, error.what());
    }
    if (format != DatabaseFormat::Jet4) {
        throw JetDatabaseError(JetProblem::NotJet4, NotCompanyDatabaseReason(format), file);
    }
}

// A read of a table that did not come to its value, told as the check tells its failures.
void ThrowUnlessRead(const ReaderOutcome& outcome, const fs::path& file, const std::string& table,
                     const std::string& column) {
    if (!outcome.exited) {
        throw JetDatabaseError(JetProblem::Damaged,
                               "Jet 4 데이터베이스를 읽다가 시간이나 메모리의 한도를 넘었습니다. "
                               "파일이 손상된 것으로 보입니다",
                               file);
    }
    switch (static_cast<JetReadStatus>(outcome.status)) {
        case JetReadStatus::Ok:
            return;
        case JetReadStatus::NoTable:
            throw JetDatabaseError(JetProblem::NotCompany,
                                   "Jet 4 데이터베이스에 " + table + " 테이블이 없습니다", file);
        case JetReadStatus::NoColumn:
            throw JetDatabaseError(
                JetProblem::NotCompany,
                "Jet 4 데이터베이스의 " + table + " 테이블에 " + column + " 열이 없습니다", file);
        default:
            throw JetDatabaseError(JetProblem::Damaged,
                                   "Jet 4 데이터베이스의 " + table +
                                       " 테이블을 읽을 수 없습니다. 파일이 손상되었습니다",
                                   file);
    }
}

}  // namespace

fs::path JetReaderProgram() {
    if (const char* chosen = std::getenv("TIDEWELL_JET_READER"); chosen && *chosen) {
        if (!IsExecutable(chosen)) throw ReaderMissing(chosen);
        return chosen;
    }
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error) throw ReaderMissing(error.message());
    const fs::path installed =
        (self.parent_path() / TIDEWELL_JET_READER_FROM_BINDIR / "tidewell-jet-reader")
            .lexically_normal();
    if (IsExecutable(installed)) return installed;
    const fs::path buildTree(TIDEWELL_BUILD_TREE);
    const bool inBuildTree =
        std::mismatch(buildTree.begin(), buildTree.end(), self.begin(), self.end()).first ==
        buildTree.end();
    if (inBuildTree && IsExecutable(TIDEWELL_JET_READER_BUILT)) {
        return TIDEWELL_JET_READER_BUILT;
    }
    throw ReaderMissing(installed.string());
}

void CheckJetDatabase(const fs::path& file, const StopQuery& stop, const JetReaderLimits& limits) {
    RequireJet4(file);
    const ReaderOutcome outcome =
        RunReader({"check", file.string(), kJetVersionTable}, limits, stop);
    if (!outcome.exited) {
        throw JetDatabaseError(
            JetProblem::Damaged,
            "Jet 4 데이터베이스를 읽다가 시간이나 메모리의 한도를 넘었습니다. 파일이 "
            "손상된 것으로 보입니다",
            file);
    }
    switch (static_cast<JetReadStatus>(outcome.status)) {
        case JetReadStatus::Ok:
            return;
        case JetReadStatus::NoTable:
        case JetReadStatus::NoRow:
            throw JetDatabaseError(JetProblem::NotCompany,
                                   "Jet 4 데이터베이스이지만 사업장 정보(ver 테이블)가 없습니다",
                                   file);
        case JetReadStatus::NoCatalogue:
            throw JetDatabaseError(
                JetProblem::Damaged,
                "Jet 4 데이터베이스의 개체 목록을 읽을 수 없습니다. 파일이 손상되었습니다", file);
        case JetReadStatus::CannotOpen:
        case JetReadStatus::NotJet4:
            throw JetDatabaseError(JetProblem::Damaged,
                                   "Jet 4 데이터베이스를 열 수 없습니다. 파일이 손상되었습니다",
                                   file);
        default:
            throw JetDatabaseError(
                JetProblem::Damaged,
                "Jet 4 데이터베이스의 ver 테이블을 읽을 수 없습니다. 파일이 손상되었습니다", file);
    }
}

std::optional<std::string> JetFirstValue(const fs::path& file, const std::string& table,
                                         const std::string& column, const StopQuery& stop,
                                         const JetReaderLimits& limits) {
    RequireJet4(file);
    const ReaderOutcome outcome = RunReader({"value", file.string(), table, column}, limits, stop);
    if (outcome.exited && outcome.status == static_cast<int>(JetReadStatus::NoRow)) {
        return std::nullopt;
    }
    ThrowUnlessRead(outcome, file, table, column);
    return outcome.output;
}

std::vector<std::string> JetColumnNames(const fs::path& file, const std::string& table,
                                        const StopQuery& stop, const JetReaderLimits& limits) {
    RequireJet4(file);
    const ReaderOutcome outcome = RunReader({"columns", file.string(), table}, limits, stop);
    ThrowUnlessRead(outcome, file, table, {});
    std::vector<std::string> names;
    for (std::size_t at = 0; at < outcome.output.size();) {
        const std::size_t end = outcome.output.find('\n', at);
        if (end == std::string::npos) break;
        names.push_back(outcome.output.substr(at, end - at));
        at = end + 1;
    }
    return names;
}

std::optional<std::string> ReadJetFirstValue(const fs::path& file, const std::string& table,
                                             const std::string& column,
                                             const JetReaderLimits& limits) {
    try {
        return JetFirstValue(file, table, column, {}, limits);
    } catch (const Exception&) {
        // The callers have their defaults for every failure.
    }
    return std::nullopt;
}

std::optional<std::string> ReadJetCompanyKey(const fs::path& file) {
    return ReadJetFirstValue(file, "ver", "dbkey");
}

std::optional<std::string> ReadJetCompanyName(const fs::path& file) {
    return ReadJetFirstValue(file, "userinfo", "legalname");
}

}  // namespace tidewell
