#include "Cli.h"

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <set>

#include "Schedule.h"
#include "ScheduledRun.h"
#include "StoredLogin.h"
#include "company/Common.h"
#include "gateway/HttpClient.h"
#include "platform/FileKit.h"
#include "platform/MessagePump.h"
#include "platform/SettingsHive.h"
#include "usecase/AccountTexts.h"
#include "usecase/CompanySession.h"
#include "usecase/RunProgress.h"

namespace fs = std::filesystem;

namespace tidewell::cli {
namespace {

constexpr const char* kUsageText =
    "사용법: tidewell-cli [--service URL] 명령 [인수]\n"
    "  account                      계정: 사용자명, 웹폴더 사용량, 사용기한\n"
    "  list                         사업장마다 한 줄(탭으로 구분): 키, 이름, 전송 방향,\n"
    "                               이 컴퓨터의 시각, 웹폴더의 시각, 이 컴퓨터의 폴더\n"
    "                               (하루 넘게 앞선 시각에는 \"(future)\"가 붙습니다;\n"
    "                               등록된 폴더를 찾을 수 없으면 방향은 missing, 폴더는\n"
    "                               찾던 곳)\n"
    "  sync [KEY...] [--wait]       전송이 필요한 모든 사업장, 또는 주어진 사업장을 전송합니다.\n"
    "                               이 컴퓨터에 폴더가 없는 사업장은 건너뜁니다.\n"
    "                               --wait: 다른 Tidewell 작업이 끝날 때까지 기다립니다\n"
    "  upload KEY                   이 컴퓨터의 자료를 웹폴더로 올립니다\n"
    "  download KEY [--folder DIR]  웹폴더의 최신 자료를 내려받습니다(폴더가 아직 없으면 DIR로)\n"
    "  add FOLDER                   FOLDER에 default.mdb가 있는 사업장을 추가합니다\n"
    "  remove KEY [--yes]           사업장을 이 컴퓨터와 웹폴더에서 삭제합니다\n"
    "                               (웹폴더의 백업 파일도 모두 삭제됩니다)\n"
    "  forget KEY [--yes]           사업장을 이 컴퓨터의 목록에서만 삭제합니다\n"
    "                               (웹폴더의 백업 파일과 사업장 폴더는 남습니다)\n"
    "  history KEY                  이 컴퓨터의 백업 파일, 최신 것부터\n"
    "                               (탭으로 구분: 파일, 자료의 시각, 크기)\n"
    "  restore KEY ARCHIVE          그 백업 파일의 자료로 되돌립니다(지금 자료는 먼저 보관)\n"
    "  login [ID] [--file]          비밀번호(표준 입력으로 받음)를 서비스에서 확인하고 아이디와\n"
    "                               함께 저장합니다: 바탕화면의 키링에, 또는 --file이면 이\n"
    "                               사용자만 읽을 수 있는 파일에(키링이 없는 컴퓨터용)\n"
    "  logout [ID]                  저장한 비밀번호를 지웁니다\n"
    "  schedule install [--daily HH:MM | --hourly] [--spread MINUTES]\n"
    "                               systemd 사용자 타이머로 저절로 전송합니다(따로 정하지\n"
    "                               않으면 매일 21:00). 가게들이 한꺼번에 서비스에 몰리지\n"
    "                               않도록 컴퓨터마다 MINUTES분(30, 0이면 정각) 안의 제\n"
    "                               시각에 실행합니다\n"
    "  schedule status | remove     다음 실행과 지난 실행 | 예약을 지웁니다\n"
    "--prefer local|web (sync, upload, download): 마지막으로 맞춘 뒤 양쪽 자료가 모두\n"
    "바뀌었거나 맞춘 적이 없을 때, 또는 미래의 시각만이 방향을 정할 때 남길 쪽. 없으면 그런\n"
    "사업장은 건너뜁니다. local이면 웹폴더의 최신 자료를 먼저 사업장의 Backup 폴더에\n"
    "보관합니다. --prefer web(download, sync)이면 다른 데이터베이스 형식(SQLite, Jet 4)의\n"
    "자료도 사업장의 자료를 대신할 수 있습니다. 없으면 그런 자료는 거절합니다.\n"
    "--scheduled (sync): 예약 실행. 성공하면 아무것도 알리지 않고, 실패하면 바탕화면 알림과\n"
    "같은 내용을 표준 오류로 보냅니다.\n"
    "로그인 정보는 TIDEWELL_USERID와 TIDEWELL_PASSWORD에서, 없으면 login이 저장한 것에서\n"
    "가져오고, 그래도 없으면 터미널에서 비밀번호를 묻습니다. 서비스는 --service,\n"
    "TIDEWELL_SERVICE_URL, 저장한 로그인의 서비스, 기본 주소 순으로 정합니다.\n"
    "Ctrl+C(SIGINT)나 SIGTERM은 진행 중인 전송을 멈추고 자료를 그대로 둡니다. 이때 종료\n"
    "상태는 130이나 143입니다.\n";

constexpr const char* kUsageHint = "사용법은 tidewell-cli --help로 볼 수 있습니다.";

// A command line that can't be run: one line that says why (empty: --help was asked for).
struct UsageError {
    std::string message;
};

struct Failure {
    std::string message;
    int status = kFailed;
};

struct Options {
    std::string service;
    std::string command;
    std::vector<std::string> arguments;
    std::string folder;                // download --folder
    bool yes = false;                  // remove, forget --yes
    bool wait = false;                 // sync --wait
    std::string prefer;                // --prefer local|web
    bool file = false;                 // login --file
    bool scheduled = false;            // sync --scheduled
    std::optional<ScheduleTime> time;  // schedule install --daily / --hourly
    std::optional<int> spread;         // schedule install --spread
};

Options Parse(const std::vector<std::string>& arguments) {
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        auto value = [&](const char* name) {
            if (i + 1 >= arguments.size())
                throw UsageError{std::string(name) + "에 값이 필요합니다"};
            return arguments[++i];
        };
        if (a == "--service") {
            options.service = value("--service");
        } else if (a == "--folder") {
            options.folder = value("--folder");
        } else if (a == "--yes") {
            options.yes = true;
        } else if (a == "--wait") {
            options.wait = true;
        } else if (a == "--prefer") {
            options.prefer = value("--prefer");
            if (options.prefer != "local" && options.prefer != "web") {
                throw UsageError{"--prefer에는 local이나 web을 주세요"};
            }
        } else if (a == "--file") {
            options.file = true;
        } else if (a == "--scheduled") {
            options.scheduled = true;
        } else if (a == "--daily" || a == "--hourly") {
            if (options.time) throw UsageError{"--daily와 --hourly는 함께 쓸 수 없습니다"};
            options.time = ScheduleTime{.Hourly = true};
            if (a == "--daily") {
                options.time = ParseDailyTime(value("--daily"));
                if (!options.time)
                    throw UsageError{"--daily에는 HH:MM(00:00부터 23:59까지)을 주세요"};
            }
        } else if (a == "--spread") {
            options.spread = ParseSpreadMinutes(value("--spread"));
            if (!options.spread) throw UsageError{"--spread에는 0부터 720까지의 분을 주세요"};
        } else if (a == "--help" || a == "-h") {
            throw UsageError{};
        } else if (a.rfind("--", 0) == 0) {
            throw UsageError{"알 수 없는 옵션입니다: " + a};
        } else if (options.command.empty()) {
            options.command = a;
        } else {
            options.arguments.push_back(a);
        }
    }
    static const std::map<std::string, std::pair<std::size_t, std::size_t>> kArity = {
        {"account", {0, 0}},  {"list", {0, 0}},  {"sync", {0, SIZE_MAX}}, {"upload", {1, 1}},
        {"download", {1, 1}}, {"add", {1, 1}},   {"remove", {1, 1}},      {"history", {1, 1}},
        {"restore", {2, 2}},  {"login", {0, 1}}, {"logout", {0, 1}},      {"schedule", {1, 1}},
        {"forget", {1, 1}}};
    const auto arity = kArity.find(options.command);
    if (arity == kArity.end()) {
        throw UsageError{options.command.empty() ? "명령이 없습니다"
                                                 : "알 수 없는 명령입니다: " + options.command};
    }
    const std::size_t count = options.arguments.size();
    if (count < arity->second.first || count > arity->second.second) {
        throw UsageError{options.command + " 명령의 인수 개수가 맞지 않습니다"};
    }
    if (!options.folder.empty() && options.command != "download") {
        throw UsageError{"--folder는 download와 함께 씁니다"};
    }
    if (options.yes && options.command != "remove" && options.command != "forget") {
        throw UsageError{"--yes는 remove나 forget과 함께 씁니다"};
    }
    if (options.wait && options.command != "sync") throw UsageError{"--wait는 sync와 함께 씁니다"};
    if (options.scheduled && options.command != "sync") {
        throw UsageError{"--scheduled는 sync와 함께 씁니다"};
    }
    if (options.file && options.command != "login")
        throw UsageError{"--file은 login과 함께 씁니다"};
    if (options.command == "schedule") {
        const std::string& action = options.arguments[0];
        if (action != "install" && action != "status" && action != "remove") {
            throw UsageError{"schedule 다음에는 install, status, remove 가운데 하나를 주세요"};
        }
        if ((options.time || options.spread) && action != "install") {
            throw UsageError{"--daily, --hourly, --spread는 schedule install과 함께 씁니다"};
        }
    } else if (options.time || options.spread) {
        throw UsageError{"--daily, --hourly, --spread는 schedule install과 함께 씁니다"};
    }
    if (options.spread && options.time && options.time->Hourly && *options.spread >= 60) {
        throw UsageError{"--hourly에는 60분보다 작은 --spread를 주세요"};
    }
    if (!options.prefer.empty() && options.command != "sync" && options.command != "upload" &&
        options.command != "download") {
        throw UsageError{"--prefer는 sync, upload, download와 함께 씁니다"};
    }
    return options;
}

// Line breaks of the window's messages as this terminal writes them.
std::string PlainLines(std::string text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string ReadPasswordFromTerminal(std::ostream& err) {
    err << "비밀번호: " << std::flush;
    termios saved{};
    const bool terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string password;
    std::getline(std::cin, password);
    if (terminal) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    err << "\n";
    return password;
}

bool AskYes(const std::string& question, std::ostream& err) {
    err << PlainLines(question) << " [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "y" || answer == "Y" || answer == "yes";
}

constexpr const char* kPassedOver = "양쪽 자료가 모두 변경되어 전송하지 않았습니다.";
constexpr const char* kFutureTime =
    "자료의 시각이 미래로 되어 있어 어느 쪽이 최신인지 알 수 없으므로 전송하지 않았습니다.";
constexpr const char* kNeverAgreed =
    "이 컴퓨터와 웹폴더의 자료를 맞춘 적이 없어 어느 쪽이 최신인지 알 수 없으므로 전송하지 "
    "않았습니다.";
constexpr const char* kChooseSide = "(--prefer local 또는 --prefer web으로 남길 쪽을 정해 주세요.)";
constexpr const char* kNoFolderHere = "이 컴퓨터에 폴더가 없습니다";
constexpr const char* kMissingFolder = "등록된 폴더를 찾을 수 없어 전송하지 않았습니다";
constexpr const char* kPreferWebForFormat =
    "(--prefer web을 붙이면 내려받은 자료로 바꾸고, 이 컴퓨터의 자료는 백업 파일로 보관합니다.)";
constexpr const char* kDeleteQuestion =
    "선택된 사업장을 목록에서 삭제하시겠습니까?\r\r삭제시 웹폴더의 모든 내용이 함께 삭제됩니다.";

// The signal that asked this run to stop, 0 while none did. Set by the handler installed in
// Run, so it can only be a flag.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void OnStopSignal(int signal) {
    stopSignal = signal;
    // A second Ctrl+C ends the program at once; what it leaves, the next run clears away.
    std::signal(signal, SIG_DFL);
}

// Installs the stop handlers for the life of a run and puts the previous ones back.
class StopSignals {
public:
    StopSignals()
        : previousInt_(std::signal(SIGINT, OnStopSignal)),
          previousTerm_(std::signal(SIGTERM, OnStopSignal)) {
        stopSignal = 0;
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    ~StopSignals() {
        std::signal(SIGINT, previousInt_);
        std::signal(SIGTERM, previousTerm_);
    }
    int Received() const { return stopSignal; }

private:
    void (*previousInt_)(int);
    void (*previousTerm_)(int);
};

// Long operations hand control here now and then: that is where a signal becomes a stop
// request, which ends the transfer under way cleanly.
class SignalPump : public MessagePump {
public:
    explicit SignalPump(CompanySession& session) : session_(session) {}
    void ProcessMessages() override {
        if (stopSignal != 0) session_.RequestStop();
    }
    bool Terminated() const override { return stopSignal != 0; }

private:
    CompanySession& session_;
};

// The progress of a transfer on stderr: one line per stage, or on a terminal one line that
// keeps its place, with the whole run's figures (company n of N, bytes, speed, time left). A
// quiet run shows none: a scheduled run says something only when it fails.
class ConsoleProgress {
public:
    ConsoleProgress(std::ostream& err, bool quiet)
        : err_(err), terminal_(isatty(STDERR_FILENO)), quiet_(quiet) {}

    TRunProgress& Run() { return run_; }

    // The stages that follow are the company's.
    void Start(const std::string& company) {
        company_ = company;
        caption_.clear();
        percent_ = 0;
    }
    TTidewellProgressEvent Event() {
        return [this](const void*, const std::string&, const std::string& message,
                      std::int64_t total, std::int64_t done, std::uint8_t percent) {
            const bool newStage = message != caption_;
            caption_ = message;
            percent_ = percent;
            run_.Report(total, done);
            if (!quiet_ && (newStage || terminal_)) Show();
        };
    }
    // Ends the terminal's progress line.
    void End() {
        if (shown_) err_ << "\n";
        shown_ = false;
        caption_.clear();
    }

private:
    void Show() {
        std::string line;
        if (run_.Count() > 1) {
            line =
                "[" + std::to_string(run_.Position()) + "/" + std::to_string(run_.Count()) + "] ";
        }
        line += company_ + ": " + caption_ + " " + std::to_string(percent_) + "%";
        // The run's bytes, speed and time left once there are any.
        if (const std::string figures = RunFiguresText(run_); !figures.empty()) {
            line += " · " + figures;
        }
        if (terminal_) {
            err_ << "\r\033[K" << line << std::flush;
            shown_ = true;
        } else {
            err_ << line << "\n";
        }
    }

    std::ostream& err_;
    bool terminal_;
    bool quiet_;
    bool shown_ = false;
    std::string company_;
    std::string caption_;
    int percent_ = 0;
    TRunProgress run_;
};

// Ends the progress line however a transfer ends.
class ProgressLine {
public:
    ProgressLine(ConsoleProgress& progress, const std::string& company) : progress_(progress) {
        progress_.Start(company);
    }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    ~ProgressLine() { progress_.End(); }

private:
    ConsoleProgress& progress_;
};

// Which way a decision points, in words.
std::string DirectionWords(const TSyncDecision& decision) {
    return decision.Ask != TSyncDecision::akNone ? "남길 쪽 선택" : SyncModeWords(decision.Mode);
}

std::string TimeText(TDateTime t, bool future = false) {
    return t == 0 ? "-" : FormatDateTime("yyyy-mm-dd hh:nn:ss", t) + (future ? " (future)" : "");
}

const char* Direction(TSyncMode mode) {
    switch (mode) {
        case smUpload:
        case smUserUpload:
            return "upload";
        case smDownload:
        case smUserDownload:
            return "download";
        default:
            return "none";
    }
}

bool IsUpload(TSyncMode mode) {
    return mode == smUpload || mode == smUserUpload;
}

std::string Absolute(const std::string& path) {
    std::error_code ignored;
    std::string result = fs::absolute(path, ignored).lexically_normal().string();
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : ", ") + name;
    return joined;
}

constexpr const char* kNoLogin =
    "tidewell-cli login으로 로그인 정보를 저장하거나 TIDEWELL_USERID와 TIDEWELL_PASSWORD를 정해 "
    "주세요.";

class Session {
public:
    Session(const Options& options, const CliEnvironment& environment, std::ostream& out,
            std::ostream& err, RunProblems& problems)
        : options_(options),
          environment_(environment),
          out_(out),
          err_(err),
          problems_(problems),
          session_({&CurrentUserHive(), ResolveConfiguration(environment.Program), &SystemClock()}),
          progress_(err, options.scheduled),
          pump_(session_),
          scopedPump_(pump_) {
        session_.Account().OnFormatChange = [this](const TFormatChange& change) {
            return AllowFormatChange(change);
        };
    }

    int Run() {
        int status = kFailed;
        try {
            status = RunCommand();
        } catch (...) {
            // Whatever a stop broke off says nothing more than the stop itself.
            if (signals_.Received() == 0) throw;
        }
        if (signals_.Received() != 0) {
            err_ << "tidewell-cli: 작업을 취소했습니다.\n";
            return 128 + signals_.Received();
        }
        return status;
    }

private:
    int RunCommand() {
        const std::string& c = options_.command;
        if (c == "schedule") return Schedule(options_.arguments[0]);
        if (c == "login") return Login();
        if (c == "logout") return Logout();
        const auto [userID, password] = Credentials();
        if (!LogIn(userID, password)) return LoginFailure();

        if (c == "account") return Account();
        if (c == "add") return Add(options_.arguments[0]);
        if (c == "list") return List();
        if (c == "sync") return Sync();
        if (c == "upload") return TransferOne(options_.arguments[0], true);
        if (c == "download") return TransferOne(options_.arguments[0], false);
        if (c == "history") return History(options_.arguments[0]);
        if (c == "restore") return Restore(options_.arguments[0], options_.arguments[1]);
        if (c == "forget") return Remove(options_.arguments[0], TRemoveScope::ThisComputer);
        return Remove(options_.arguments[0], TRemoveScope::Everywhere);
    }

    bool LogIn(const std::string& userID, const std::string& password) {
        session_.Account().Service.URL = service_;
        if (options_.wait) session_.Account().LockWait = std::nullopt;
        // One login per run: what it answers is kept for the work that follows, and the disk
        // usage is asked for only where it is shown.
        session_.Account().UsageAtLogin = options_.command == "account";
        login_ = session_.Login(userID, password);
        return login_.Kind == TLoginOutcome::loLoggedIn;
    }

    // --service, the environment, the kept login, the built-in default: the first that says.
    void ChooseService(const std::optional<StoredLogin>& stored) {
        service_ = options_.service;
        if (service_.empty()) service_ = environment_.Program.ServiceURL;
        if (service_.empty() && stored) service_ = stored->Key.ServiceURL;
        if (service_.empty()) service_ = kDefaultServiceURL;
    }

    // The environment first; what it leaves unset comes from what login kept.
    std::pair<std::string, std::string> Credentials() {
        const std::optional<StoredLogin> stored = ReadStoredLogin();
        ChooseService(stored);
        std::string id = environment_.UserID;
        if (id.empty() && stored && stored->Key.ServiceURL == service_) id = stored->Key.UserID;
        if (id.empty()) throw Failure{"로그인 정보가 없습니다. " + std::string(kNoLogin), kUsage};
        if (environment_.Password) return {id, *environment_.Password};
        std::string why;
        if (auto password = StoredPassword({service_, id}, stored, &why)) return {id, *password};
        if (isatty(STDIN_FILENO)) return {id, ReadPasswordFromTerminal(err_)};
        throw Failure{id + "의 비밀번호가 저장되어 있지 않습니다" +
                          (why.empty() ? "" : " (" + why + ")") + ". " + kNoLogin,
                      kUsage};
    }

    int LoginFailure() {
        int status = kLoginRefused;
        std::string reason = "아이디나 비밀번호가 맞지 않습니다.";
        if (login_.Kind == TLoginOutcome::loTransport) {
            reason = login_.Reason;
            status = kFailed;
        } else if (login_.Kind == TLoginOutcome::loRefused && !login_.Reason.empty()) {
            reason = login_.Reason;
        } else if (login_.Kind == TLoginOutcome::loStopped) {
            throw OperationStopped();
        }
        if (!options_.scheduled) err_ << "tidewell-cli: " << reason << "\n";
        problems_.Add("로그인하지 못했습니다: " + reason);
        try {
            if (const std::string names = Joined(session_.Registry().Names()); !names.empty()) {
                problems_.Add("백업하지 못한 사업장: " + names);
            }
        } catch (const std::exception&) {
            // the report goes out without them
        }
        return status;
    }

    // login [ID] [--file]: the password is checked with the service before it is kept.
    int Login() {
        ChooseService(ReadStoredLogin());
        std::string id = options_.arguments.empty() ? environment_.UserID : options_.arguments[0];
        if (id.empty() && isatty(STDIN_FILENO)) {
            err_ << "아이디: " << std::flush;
            std::getline(std::cin, id);
        }
        if (TrimBlanks(id).empty()) throw Failure{"아이디를 주세요: tidewell-cli login ID", kUsage};
        const std::string password = ReadPasswordFromTerminal(err_);
        if (TrimBlanks(password).empty()) throw Failure{"비밀번호를 입력하지 않았습니다.", kUsage};
        if (!LogIn(id, password)) return LoginFailure();

        StoredLogin login;
        login.Key = {service_, id};
        if (options_.file) {
            login.Place = StoredLogin::plFile;
            login.Password = password;
        } else if (const KeyringAnswer kept = StoreInKeyring(login.Key, password); !kept.ok) {
            throw Failure{
                "비밀번호를 바탕화면의 키링(Secret Service)에 넣지 못했습니다: " + kept.error +
                "\n키링이 없는 컴퓨터(화면 없는 서버, 원격 접속)라면 --file을 붙여 이 사용자만 "
                "읽을 수 있는 파일에 저장할 수 있습니다. 암호화되지는 않습니다."};
        }
        WriteStoredLogin(login);
        if (options_.file) {
            err_ << "주의: 비밀번호를 암호화하지 않은 채 " << StoredLoginFile().string()
                 << " 파일에 저장했습니다.\n"
                    "이 사용자만 읽을 수 있는 파일(0600)이지만, 이 사용자로 실행되는 프로그램과 "
                    "관리자(root), 이 파일이 든 백업이나 디스크를 가진 사람은 누구나 비밀번호를 "
                    "읽을 수 있습니다.\n"
                    "키링을 쓸 수 있게 되면 --file 없이 다시 로그인하세요. 지우려면 "
                    "tidewell-cli logout.\n";
        } else {
            err_ << id << "의 비밀번호를 바탕화면의 키링에 저장했습니다. (" << service_ << ")\n";
        }
        return kDone;
    }

    // logout [ID]: the kept password goes from the keyring and the file, wherever it is.
    int Logout() {
        const std::optional<StoredLogin> stored = ReadStoredLogin();
        ChooseService(stored);
        std::string id = options_.arguments.empty() ? environment_.UserID : options_.arguments[0];
        if (id.empty() && stored) id = stored->Key.UserID;
        const bool storedHere =
            stored && stored->Key.ServiceURL == service_ && stored->Key.UserID == id;
        bool removed = storedHere && RemoveStoredLogin();
        if (!id.empty()) {
            bool fromKeyring = false;
            const KeyringAnswer answer = RemoveFromKeyring({service_, id}, &fromKeyring);
            if (!answer.ok && storedHere && stored->Place == StoredLogin::plKeyring) {
                err_ << "tidewell-cli: 키링에 닿지 못해 키링의 비밀번호는 지우지 못했습니다: "
                     << answer.error << "\n";
                return kFailed;
            }
            removed = removed || fromKeyring;
        }
        err_ << (removed ? "저장된 로그인 정보를 지웠습니다.\n"
                         : "저장된 로그인 정보가 없습니다.\n");
        return kDone;
    }

    // schedule install|status|remove. A scheduled run logs in as login kept it.
    int Schedule(const std::string& action) {
        if (action == "status") return ShowSchedule(out_);
        if (action == "remove") return RemoveSchedule(out_, err_);
        std::error_code ignored;
        const std::vector<std::string> command = {
            fs::read_symlink("/proc/self/exe", ignored).string(), "sync", "--wait", "--scheduled"};
        // Where the settings and the kept login are, when that is not the default.
        KeyValues environment;
        if (!environment_.ConfigHome.empty()) {
            environment.emplace_back("XDG_CONFIG_HOME", environment_.ConfigHome);
        }
        ScheduleTime time = options_.time.value_or(ScheduleTime{});
        if (options_.spread) time.SpreadMinutes = *options_.spread;
        const int status = InstallSchedule(time, command, environment, out_);
        if (!ReadStoredLogin()) {
            err_ << "주의: 저장된 로그인 정보가 없어 예약 실행이 로그인하지 못합니다. "
                    "tidewell-cli login으로 먼저 저장하세요.\n";
        }
        return status;
    }

    // A company's database would change engine: a download only with --prefer web, a way back
    // only when the user at the terminal says so.
    bool AllowFormatChange(const TFormatChange& change) {
        if (!change.WayBack) {
            formatRefused_ = options_.prefer != "web";
            return !formatRefused_;
        }
        if (!isatty(STDIN_FILENO)) return false;
        progress_.End();
        return AskYes(change.CompanyName + ": 되돌릴 자료는 " + change.NewFormat +
                          "이고, 이 컴퓨터의 자료는 " + change.LocalFormat +
                          "입니다. 바꾸면 이 사업장의 데이터베이스 형식이 바뀝니다. 되돌릴 "
                          "자료로 바꾸시겠습니까?",
                      err_);
    }

    // A problem of the run: one line on stderr, and one for the report of a scheduled run.
    void Tell(const std::string& text) {
        if (!options_.scheduled) err_ << OneLine(text) << "\n";
        problems_.Add(text);
    }

    // The company list, with what the rebuild found wrong told on the way. False when the
    // service refused the list: the rows are this computer's companies only.
    bool BuildList() {
        TCompanyList list = session_.BuildList();
        rows_ = std::move(list.Rows);
        if (!list.SettingsReadable) {
            Tell("설정 파일을 읽을 수 없어 이 컴퓨터의 사업장을 목록에 넣지 못했습니다: " +
                 session_.Settings().file().string());
            warned_ = true;
        }
        for (const TSkippedCompanySlot& damaged : list.Damaged) {
            Tell(damaged.CompanyName + ": 자료를 읽을 수 없어 목록에서 뺐습니다 (" +
                 damaged.LocalPath + ")" + (damaged.Detail.empty() ? "" : ": " + damaged.Detail));
            warned_ = true;
        }
        if (!list.WebListed) {
            Tell("웹폴더의 사업장 목록을 받지 못해 이 컴퓨터의 사업장만 보여 드립니다.\r\n" +
                 list.WebRefusal);
        }
        return list.WebListed;
    }

    int Account() {
        const TTidewellUser& user = session_.Account();
        out_ << UserNameText(user) << "\n"
             << DiskUsedText(user.DiskUsed) << "\n"
             << ServicePeriodText(user).Text << "\n";
        return kDone;
    }

    std::string DirectionText(const TTidewellCompany& company) const {
        const std::string direction = Direction(company.SyncMode);
        return session_.Decide(company).Ask != TSyncDecision::akNone ? "conflict " + direction
                                                                     : direction;
    }

    int List() {
        const bool listed = BuildList();
        for (const TCompanyRow& row : rows_) {
            const TTidewellCompany& c = *row.Company;
            const TSyncDecision decision = session_.Decide(c);
            // A registered folder that is not found is named as missing, with where it was.
            out_ << c.CompanyKey << '\t' << c.CompanyName << '\t'
                 << (row.Missing ? "missing" : DirectionText(c)) << '\t'
                 << TimeText(c.LocalModified, decision.LocalInFuture) << '\t'
                 << TimeText(c.LatestFileTime, decision.WebInFuture) << '\t'
                 << (row.Missing           ? row.Missing->Path
                     : c.LocalPath.empty() ? "-"
                                           : c.LocalPath)
                 << "\n";
        }
        return listed ? kDone : kFailed;
    }

    TTidewellCompanyPtr CompanyOf(const std::string& key) const {
        for (const TCompanyRow& row : rows_) {
            if (row.Company->CompanyKey == key) return row.Company;
        }
        throw Failure{"이 계정에 없는 사업장입니다: " + key};
    }

    TKeepSide Preferred() const {
        if (options_.prefer == "local") return TKeepSide::Local;
        if (options_.prefer == "web") return TKeepSide::Web;
        return TKeepSide::Unanswered;
    }

    // What one company's transfer came to, told as one line when it did not happen and noted
    // for the run's summary.
    int Report(const TTidewellCompany& company, const TCompanyOutcome& outcome, bool upload) {
        const std::string& name = company.CompanyName;
        const auto failed = [&](const std::string& text, const std::string& why) {
            Tell(text);
            summary_.Refused.push_back({name, why});
            return kFailed;
        };
        switch (outcome.Kind) {
            case TCompanyOutcome::coDone:
                summary_.Transferred.push_back({name, {}});
                if (!outcome.KeptArchive.empty() && !options_.scheduled) {
                    err_ << name
                         << ": 웹폴더의 자료를 백업 파일로 보관했습니다: " << outcome.KeptArchive
                         << "\n";
                }
                return kDone;
            case TCompanyOutcome::coStopped:
                summary_.Cancelled.push_back({name, {}});
                return kDone;
            case TCompanyOutcome::coNothing:
                switch (outcome.Nothing) {
                    case TCompanyOutcome::tnNoDirection:
                        return kDone;
                    case TCompanyOutcome::tnNoFolder:
                        if (!options_.arguments.empty()) {
                            return failed(name + ": " + kNoFolderHere +
                                              ". tidewell-cli download KEY --folder DIR로 "
                                              "받을 수 있습니다.",
                                          kNoFolderHere);
                        }
                        // Another computer's company: this one has nothing of it to send.
                        summary_.PassedOver.push_back({name, kNoFolderHere});
                        return kDone;
                    case TCompanyOutcome::tnMissingFolder: {
                        const auto missing = session_.MissingFolderOf(company);
                        const std::string where = missing ? missing->Path : std::string();
                        return failed(name + ": " + kMissingFolder + " (" + where + ")",
                                      kMissingFolder);
                    }
                    case TCompanyOutcome::tnNoDatabase:
                        return failed(name +
                                          ": 폴더에 사업장 자료(default.mdb)가 없어 올리지 "
                                          "않았습니다.",
                                      "자료 없음");
                    case TCompanyOutcome::tnNoArchive:
                        return failed(name + ": 웹폴더에 내려받을 자료가 없습니다.", "자료 없음");
                    case TCompanyOutcome::tnUnknown:
                        break;
                }
                return failed(name + ": 전송되지 않았습니다.", "전송되지 않음");
            case TCompanyOutcome::coExpired:
                return failed(name + "\r\n사용기한이 만료되어 자료를 전송할 수 없습니다.",
                              "사용기한 만료");
            case TCompanyOutcome::coConflict: {
                const char* why = outcome.Decision.Ask == TSyncDecision::akFutureTime ? kFutureTime
                                  : outcome.Decision.Ask == TSyncDecision::akNeverAgreed
                                      ? kNeverAgreed
                                      : kPassedOver;
                if (!options_.scheduled) err_ << name << ": " << why << " " << kChooseSide << "\n";
                problems_.Add(name + ": " + why);
                summary_.Refused.push_back({name, why});
                return kFailed;
            }
            case TCompanyOutcome::coChanged:
                return failed(name + ": 목록을 만든 뒤에 자료가 바뀌어(" +
                                  DirectionWords(outcome.Previous) + "에서 " +
                                  DirectionWords(outcome.Decision) +
                                  "(으)로) 전송하지 않았습니다. 다시 실행해 주세요.",
                              "자료가 바뀜");
            case TCompanyOutcome::coRefused: {
                std::string reason = outcome.Message;
                if (reason.empty()) {
                    reason = upload ? "웹폴더가 자료를 받지 않았습니다."
                                    : "웹폴더에서 자료를 내려받지 못했습니다.";
                    if (!outcome.Status.empty()) reason += " (STATUS=" + outcome.Status + ")";
                }
                return failed(name + "\r\n" + reason, reason);
            }
            case TCompanyOutcome::coFailed:
                return failed(name + ": " + outcome.Message +
                                  (formatRefused_ ? std::string(" ") + kPreferWebForFormat : ""),
                              outcome.Message);
        }
        return kFailed;
    }

    // One company's transfer; a failure of the transport ends the run and names the company.
    int Transfer(const TTidewellCompanyPtr& company, TSyncMode mode) {
        TCompanyOutcome outcome;
        formatRefused_ = false;
        {
            const ProgressLine line(progress_, company->CompanyName);
            try {
                outcome = session_.Transfer(company, mode, Preferred(), progress_.Event());
            } catch (const HttpError& transport) {
                throw Failure{company->CompanyName + ": " + ApplicationErrorText(transport.what())};
            }
        }
        const bool upload = outcome.Kind == TCompanyOutcome::coConflict
                                ? Preferred() == TKeepSide::Local
                                : IsUpload(mode);
        if (outcome.Kind == TCompanyOutcome::coStopped) throw OperationStopped();
        return Report(*company, outcome, upload);
    }

    // What a sync came to, once at its end: the counts, and the companies passed over that no
    // line has named yet (those without a folder here).
    void ShowSummary() {
        if (options_.scheduled) return;
        err_ << RunSummaryHeadline(summary_) << "\n";
        ShowPassedOver();
    }

    int Sync() {
        if (!BuildList()) return kFailed;
        std::vector<TTidewellCompanyPtr> chosen;
        if (!options_.arguments.empty()) {
            std::set<std::string> keys(options_.arguments.begin(), options_.arguments.end());
            for (const auto& key : keys) CompanyOf(key);  // every key must be the account's
            for (const TCompanyRow& row : rows_) {
                if (keys.count(row.Company->CompanyKey)) chosen.push_back(row.Company);
            }
        } else {
            // Companies changed on both sides go when the user said which side to keep, and a
            // registered company whose folder is not found is named; the transfer tells them.
            // One without a folder here is another computer's: passed over, named at the end.
            for (const TCompanyRow& row : rows_) {
                const bool ask = session_.Decide(*row.Company).Ask != TSyncDecision::akNone;
                if (row.Checked || row.Missing || (ask && !row.Company->LocalPath.empty())) {
                    chosen.push_back(row.Company);
                } else if (row.Company->LocalPath.empty() && row.Company->SyncMode != smNone) {
                    summary_.PassedOver.push_back({row.Company->CompanyName, kNoFolderHere});
                }
            }
        }
        if (chosen.empty()) {
            if (!options_.scheduled) err_ << "전송할 사업장이 없습니다.\n";
            ShowPassedOver();
            return warned_ ? kFailed : kDone;
        }
        int status = warned_ ? kFailed : kDone;
        std::vector<std::int64_t> expected;
        for (const auto& company : chosen) expected.push_back(company->LatestFileSize);
        progress_.Run().Start(expected);
        for (std::size_t i = 0; i < chosen.size(); ++i) {
            progress_.Run().BeginCompany(static_cast<int>(i));
            if (Transfer(chosen[i], chosen[i]->SyncMode) != kDone) status = kFailed;
            progress_.Run().EndCompany();
        }
        ShowSummary();
        return status;
    }

    // Companies passed over when nothing else was to be done.
    void ShowPassedOver() {
        if (options_.scheduled || summary_.PassedOver.empty()) return;
        err_ << "건너뛴 사업장:";
        for (std::size_t i = 0; i < summary_.PassedOver.size(); ++i) {
            const auto& entry = summary_.PassedOver[i];
            err_ << (i ? ", " : " ") << entry.Company << " (" << entry.Why << ")";
        }
        err_ << "\n";
    }

    int TransferOne(const std::string& key, bool upload) {
        if (!BuildList()) return kFailed;
        const TTidewellCompanyPtr company = CompanyOf(key);
        if (!options_.folder.empty()) {
            if (!company->LocalPath.empty()) {
                throw Failure{company->CompanyName + "의 폴더는 이미 " + company->LocalPath +
                              "입니다."};
            }
            // The same as picking the folder in the list.
            if (const std::string owner = session_.PickFolder(*company, Absolute(options_.folder));
                !owner.empty()) {
                throw Failure{"선택한 폴더는 다른 사업장(" + owner + ")의 폴더입니다. " +
                              company->CompanyName + "의 폴더로 쓸 수 없습니다."};
            }
        }
        if (company->LocalPath.empty()) {
            throw Failure(company->CompanyName + "의 폴더가 선택되어 있지 않습니다." +
                          (upload ? "" : " --folder로 폴더를 지정하세요."));
        }
        if (!upload && company->LatestFileTime == 0) {
            throw Failure{company->CompanyName + ": 웹폴더에 내려받을 자료가 없습니다."};
        }
        const TSyncMode decided = session_.Decide(*company).Mode;
        const TSyncMode mode = upload ? (decided == smUpload ? smUpload : smUserUpload)
                                      : (decided == smDownload ? smDownload : smUserDownload);
        // One company is a run too: its bytes, speed and time left on the progress line.
        progress_.Run().Start({upload ? 0 : company->LatestFileSize});
        progress_.Run().BeginCompany(0);
        const int status = Transfer(company, mode);
        progress_.Run().EndCompany();
        return status;
    }

    // add FOLDER: registered once, however often it is added.
    int Add(const std::string& folderArgument) {
        const std::string folder = Absolute(folderArgument);
        const TAddOutcome added = session_.AddFolder(folder, TSameFolder::LeaveAsItIs);
        switch (added.Kind) {
            case TAddOutcome::aoAdded:
                out_ << added.CompanyKey << "\n";
                return kDone;
            case TAddOutcome::aoAlreadyAdded:
                out_ << added.CompanyKey << "\n";
                err_ << added.CompanyName << ": 이미 추가된 사업장입니다. 바꾼 것이 없습니다. ("
                     << folder << ")\n";
                return kDone;
            case TAddOutcome::aoNoDatabase:
                throw Failure{folder + "에 사업장 자료(default.mdb)가 없습니다."};
            case TAddOutcome::aoKeyNotStored:
                throw Failure{"사업장 키를 데이터베이스에 저장하지 못해 추가하지 않았습니다. " +
                              added.Problem +
                              " 다른 프로그램이 자료를 다 쓴 뒤에 다시 추가해 주세요."};
            case TAddOutcome::aoKeyNotMadeHere:
                throw Failure{added.Problem};
            case TAddOutcome::aoNoKey:
                throw Failure{"사업장 추가: 사업장키는 빈 값일 수 없습니다."};
            case TAddOutcome::aoNoName:
                throw Failure{"사업장 추가: 사업장명은 빈 값일 수 없습니다."};
            case TAddOutcome::aoNoFolder:
                throw Failure{"사업장 추가: 사업장경로는 빈 값일 수 없습니다."};
            case TAddOutcome::aoBelongsTo:
                throw Failure{"선택한 폴더는 이미 다른 사업장(" + added.Owner +
                              ")의 폴더로 등록되어 있습니다."};
            case TAddOutcome::aoSlotsFull:
                throw Failure{"사업장은 " + std::to_string(kCompanySlotCount) +
                              "개까지 등록할 수 있습니다. 등록할 자리가 모두 찼습니다."};
            case TAddOutcome::aoFailed:
                throw Failure{added.Problem};
        }
        return kFailed;
    }

    int History(const std::string& key) {
        const bool listed = BuildList();
        const TTidewellCompanyPtr company = CompanyOf(key);
        if (company->LocalPath.empty()) {
            throw Failure{company->CompanyName + "의 폴더가 이 컴퓨터에 없습니다."};
        }
        const THistory history = session_.History(*company);
        for (const TSafetyArchive& archive : history.Archives) {
            out_ << archive.Path << '\t' << TimeText(archive.DataTime) << '\t' << archive.Size
                 << "\n";
        }
        if (history.OlderInWebFolder > 0) {
            err_ << "웹폴더에도 이 사업장의 이전 자료 " << history.OlderInWebFolder
                 << "개가 보관되어 있습니다.\n";
        }
        return listed ? kDone : kFailed;
    }

    // The archive by its path, or by its name in the company's Backup folder.
    int Restore(const std::string& key, const std::string& archive) {
        const bool listed = BuildList();
        const TTidewellCompanyPtr company = CompanyOf(key);
        if (company->LocalPath.empty()) {
            throw Failure{company->CompanyName + "의 폴더가 이 컴퓨터에 없습니다."};
        }
        const std::string wanted = Absolute(archive);
        for (const TSafetyArchive& kept : session_.History(*company).Archives) {
            if (kept.Name != archive && kept.Path != wanted) continue;
            TCompanyOutcome outcome;
            {
                const ProgressLine line(progress_, company->CompanyName);
                outcome = session_.RestoreSafetyArchive(company, kept.Path, progress_.Event());
            }
            if (outcome.Kind == TCompanyOutcome::coStopped) throw OperationStopped();
            if (outcome.Kind != TCompanyOutcome::coDone) {
                throw Failure{company->CompanyName + ": " + outcome.Message};
            }
            return listed ? kDone : kFailed;
        }
        throw Failure{company->CompanyName + "의 백업 파일이 아닙니다: " + archive};
    }

    int Remove(const std::string& key, TRemoveScope scope) {
        if (!BuildList()) return kFailed;
        const TTidewellCompanyPtr company = CompanyOf(key);
        if (scope == TRemoveScope::ThisComputer && company->LocalPath.empty() &&
            !session_.MissingFolderOf(*company)) {
            throw Failure{company->CompanyName + ": 이 컴퓨터에 등록된 사업장이 아닙니다."};
        }
        const std::string question =
            scope == TRemoveScope::Everywhere
                ? std::string(kDeleteQuestion) + "\r\r삭제할 사업장: " + company->CompanyName +
                      (company->LatestFileSize > 0 ? " (웹폴더의 백업 파일도 삭제됩니다)"
                                                   : " (웹폴더에는 자료가 없습니다)")
                : "이 컴퓨터의 목록에서 " + company->CompanyName +
                      " 사업장을 삭제하시겠습니까? 웹폴더의 백업 파일과 사업장 폴더는 그대로 "
                      "남습니다.";
        if (!options_.yes && !(isatty(STDIN_FILENO) && AskYes(question, err_))) {
            throw Failure{"삭제하지 않았습니다. (확인 없이 삭제하려면 --yes)"};
        }
        const TCompanyOutcome outcome = session_.Remove(company, scope);
        if (outcome.Kind == TCompanyOutcome::coRefused && outcome.Message.empty()) {
            Tell(company->CompanyName +
                 "\r\n웹폴더에서 사업장을 삭제하지 못했습니다. (STATUS=" + outcome.Status + ")");
            return kFailed;
        }
        return Report(*company, outcome, false);
    }

    const Options& options_;
    const CliEnvironment& environment_;
    std::ostream& out_;
    std::ostream& err_;
    RunProblems& problems_;
    std::string service_;
    CompanySession session_;
    TLoginOutcome login_;
    std::vector<TCompanyRow> rows_;
    bool warned_ = false;  // the list left registered companies out
    TRunSummary summary_;
    // The company's download would have changed its engine.
    bool formatRefused_ = false;
    ConsoleProgress progress_;
    StopSignals signals_;
    SignalPump pump_;
    ScopedMessagePump scopedPump_;
};

}  // namespace

int Run(const std::vector<std::string>& arguments, const CliEnvironment& environment,
        std::ostream& out, std::ostream& err) {
    Options options;
    try {
        options = Parse(arguments);
    } catch (const UsageError& usage) {
        if (usage.message.empty()) {
            out << kUsageText;  // asked for: the answer, on the standard output
            return kDone;
        }
        err << "tidewell-cli: " << usage.message << "\n" << kUsageHint << "\n";
        return kUsage;
    }
    RunProblems problems;
    if (options.scheduled) {
        try {
            RecordRunStart();
        } catch (const std::exception& error) {
            err << "tidewell-cli: " << error.what() << "\n";
        }
    }
    int status = kFailed;
    try {
        Session session(options, environment, out, err, problems);
        status = session.Run();
    } catch (const Failure& failure) {
        // A scheduled run tells everything once, in its report at the end.
        if (!options.scheduled) err << "tidewell-cli: " << failure.message << "\n";
        problems.Add(failure.message);
        status = failure.status;
    } catch (const std::exception& error) {
        const std::string text = ApplicationErrorText(error.what());
        if (!options.scheduled) err << "tidewell-cli: " << text << "\n";
        problems.Add(text);
        status = kFailed;
    }
    if (options.scheduled) FinishScheduledRun(status, problems, err);
    return status;
}

}  // namespace tidewell::cli
