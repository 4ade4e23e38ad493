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

namespace fs = std::filesystem;

namespace tidewell::cli {
namespace {

constexpr const char* kUsageText =
    "usage: tidewell-cli [--service URL] COMMAND [ARGUMENTS]\n"
    "  account                      the account: name, web-folder usage, service period\n"
    "  list                         one line per company (tab-separated): key, name,\n"
    "                               direction, local time, web-folder time, local folder\n"
    "                               (a time more than a day ahead is marked \"(future)\")\n"
    "  sync [KEY...] [--wait]       transfer every company that needs it, or the given ones;\n"
    "                               --wait waits for another Tidewell run as long as it takes\n"
    "  upload KEY                   send this computer's data of a company to the web folder\n"
    "  download KEY [--folder DIR]  fetch a company's newest archive (into DIR when it has\n"
    "                               no folder here yet)\n"
    "  add FOLDER                   add the company whose default.mdb is in FOLDER\n"
    "  remove KEY [--yes]           remove a company here and in the web folder\n"
    "  history KEY                  the company's safety archives here, newest first\n"
    "                               (tab-separated: archive, time of its data, size)\n"
    "  restore KEY ARCHIVE          put one of them back (the current data is kept first)\n"
    "  login [ID] [--file]          check the password (read from standard input) with the\n"
    "                               service and keep it with the ID for later runs: in the\n"
    "                               desktop's keyring, or with --file in a file only you can\n"
    "                               read (for computers without a keyring)\n"
    "  logout [ID]                  forget the kept password\n"
    "  schedule install [--daily HH:MM | --hourly] [--spread MINUTES]\n"
    "                               sync by itself through a systemd user timer (every day at\n"
    "                               21:00 unless told otherwise), at a moment of its own\n"
    "                               within the next MINUTES (30; 0: on the dot), so that every\n"
    "                               shop does not reach the service in the same second\n"
    "  schedule status | remove     the next and the last scheduled run | no more schedule\n"
    "--prefer local|web (sync, upload, download): which side to keep when both changed since\n"
    "they last agreed, or when only a time in the future would decide; without it such\n"
    "companies are passed over. --prefer web (download, sync) also lets data of the other\n"
    "database format (SQLite, Jet 4) take the place of a company's; without it that is refused.\n"
    "--scheduled (sync): a run of the schedule: quiet when it succeeds; when it fails, a\n"
    "desktop notification and the same text on standard error.\n"
    "Credentials come from TIDEWELL_USERID and TIDEWELL_PASSWORD; what is unset comes from\n"
    "what login kept, else the password is asked for when a terminal is attached. The\n"
    "service is --service, TIDEWELL_SERVICE_URL, the one of the kept login, or the default.\n"
    "Ctrl+C (SIGINT) or SIGTERM stops the transfer under way and leaves the data as it was;\n"
    "the exit status is then 130 or 143.\n";

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
    bool yes = false;                  // remove --yes
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
            if (i + 1 >= arguments.size()) throw UsageError{std::string(name) + " needs a value"};
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
                throw UsageError{"--prefer takes local or web"};
            }
        } else if (a == "--file") {
            options.file = true;
        } else if (a == "--scheduled") {
            options.scheduled = true;
        } else if (a == "--daily" || a == "--hourly") {
            if (options.time) throw UsageError{"--daily and --hourly go alone"};
            options.time = ScheduleTime{.Hourly = true};
            if (a == "--daily") {
                options.time = ParseDailyTime(value("--daily"));
                if (!options.time) throw UsageError{"--daily takes HH:MM (00:00 to 23:59)"};
            }
        } else if (a == "--spread") {
            options.spread = ParseSpreadMinutes(value("--spread"));
            if (!options.spread) throw UsageError{"--spread takes minutes, 0 to 720"};
        } else if (a == "--help" || a == "-h") {
            throw UsageError{};
        } else if (a.rfind("--", 0) == 0) {
            throw UsageError{"unknown option " + a};
        } else if (options.command.empty()) {
            options.command = a;
        } else {
            options.arguments.push_back(a);
        }
    }
    static const std::map<std::string, std::pair<std::size_t, std::size_t>> kArity = {
        {"account", {0, 0}},  {"list", {0, 0}},  {"sync", {0, SIZE_MAX}}, {"upload", {1, 1}},
        {"download", {1, 1}}, {"add", {1, 1}},   {"remove", {1, 1}},      {"history", {1, 1}},
        {"restore", {2, 2}},  {"login", {0, 1}}, {"logout", {0, 1}},      {"schedule", {1, 1}}};
    const auto arity = kArity.find(options.command);
    if (arity == kArity.end()) {
        throw UsageError{options.command.empty() ? "no command given"
                                                 : "unknown command " + options.command};
    }
    const std::size_t count = options.arguments.size();
    if (count < arity->second.first || count > arity->second.second) {
        throw UsageError{"wrong number of arguments for " + options.command};
    }
    if (!options.folder.empty() && options.command != "download") {
        throw UsageError{"--folder goes with download"};
    }
    if (options.yes && options.command != "remove") throw UsageError{"--yes goes with remove"};
    if (options.wait && options.command != "sync") throw UsageError{"--wait goes with sync"};
    if (options.scheduled && options.command != "sync") {
        throw UsageError{"--scheduled goes with sync"};
    }
    if (options.file && options.command != "login") throw UsageError{"--file goes with login"};
    if (options.command == "schedule") {
        const std::string& action = options.arguments[0];
        if (action != "install" && action != "status" && action != "remove") {
            throw UsageError{"schedule takes install, status or remove"};
        }
        if ((options.time || options.spread) && action != "install") {
            throw UsageError{"--daily, --hourly and --spread go with schedule install"};
        }
    } else if (options.time || options.spread) {
        throw UsageError{"--daily, --hourly and --spread go with schedule install"};
    }
    if (options.spread && options.time && options.time->Hourly && *options.spread >= 60) {
        throw UsageError{"--hourly takes a --spread below 60 minutes"};
    }
    if (!options.prefer.empty() && options.command != "sync" && options.command != "upload" &&
        options.command != "download") {
        throw UsageError{"--prefer goes with sync, upload and download"};
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
constexpr const char* kChooseSide = "(--prefer local 또는 --prefer web으로 남길 쪽을 정해 주세요.)";
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
// keeps its place. A quiet run shows none: a scheduled run says something only when it fails.
class ConsoleProgress {
public:
    ConsoleProgress(std::ostream& err, bool quiet)
        : err_(err), terminal_(isatty(STDERR_FILENO)), quiet_(quiet) {}

    // The stages that follow are the company's.
    void Start(const std::string& company) {
        company_ = company;
        caption_.clear();
        percent_ = 0;
    }
    TTidewellProgressEvent Event() {
        return [this](const void*, const std::string&, const std::string& message, std::int64_t,
                      std::int64_t, std::uint8_t percent) {
            const bool newStage = message != caption_;
            caption_ = message;
            percent_ = percent;
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
        const std::string line = company_ + ": " + caption_ + " " + std::to_string(percent_) + "%";
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
        return Remove(options_.arguments[0]);
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
            err_ << "tidewell-cli: " << login_.Reason << "\n";
            reason = login_.Reason;
            status = kFailed;
        } else if (login_.Kind == TLoginOutcome::loRefused && !login_.Reason.empty()) {
            err_ << "tidewell-cli: " << login_.Reason << "\n";
            reason = login_.Reason;
        }
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
        err_ << OneLine(text) << "\n";
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
            out_ << c.CompanyKey << '\t' << c.CompanyName << '\t' << DirectionText(c) << '\t'
                 << TimeText(c.LocalModified, decision.LocalInFuture) << '\t'
                 << TimeText(c.LatestFileTime, decision.WebInFuture) << '\t'
                 << (c.LocalPath.empty() ? "-" : c.LocalPath) << "\n";
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

    // What one company's transfer came to, told as one line when it did not happen.
    int Report(const TTidewellCompany& company, const TCompanyOutcome& outcome, bool upload) {
        const std::string& name = company.CompanyName;
        switch (outcome.Kind) {
            case TCompanyOutcome::coDone:
            case TCompanyOutcome::coStopped:
                return kDone;
            case TCompanyOutcome::coNothing:
                if (outcome.Nothing == TCompanyOutcome::tnNoDirection) return kDone;
                Tell(name + ": 전송되지 않았습니다.");
                return kFailed;
            case TCompanyOutcome::coExpired:
                Tell(name + "\r\n사용기한이 만료되어 자료를 전송할 수 없습니다.");
                return kFailed;
            case TCompanyOutcome::coConflict: {
                const char* why =
                    outcome.Decision.Ask == TSyncDecision::akFutureTime ? kFutureTime : kPassedOver;
                err_ << name << ": " << why << " " << kChooseSide << "\n";
                problems_.Add(name + ": " + why);
                return kFailed;
            }
            case TCompanyOutcome::coRefused: {
                std::string reason = outcome.Message;
                if (reason.empty()) {
                    reason = upload ? "웹폴더가 자료를 받지 않았습니다."
                                    : "웹폴더에서 자료를 내려받지 못했습니다.";
                    if (!outcome.Status.empty()) reason += " (STATUS=" + outcome.Status + ")";
                }
                Tell(name + "\r\n" + reason);
                return kFailed;
            }
            case TCompanyOutcome::coFailed:
                Tell(name + ": " + outcome.Message +
                     (formatRefused_ ? std::string(" ") + kPreferWebForFormat : ""));
                return kFailed;
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
            // Companies changed on both sides go when the user said which side to keep; the
            // transfer tells the others.
            for (const TCompanyRow& row : rows_) {
                const bool ask = session_.Decide(*row.Company).Ask != TSyncDecision::akNone;
                if (row.Checked || ask) chosen.push_back(row.Company);
            }
        }
        if (chosen.empty()) {
            if (!options_.scheduled) err_ << "전송할 사업장이 없습니다.\n";
            return warned_ ? kFailed : kDone;
        }
        int status = warned_ ? kFailed : kDone;
        for (const TTidewellCompanyPtr& company : chosen) {
            if (company->LocalPath.empty()) {
                Tell(company->CompanyName + "의 폴더가 선택되어 있지 않습니다.\r" +
                     "폴더을 선택해 주세요.");
                status = kFailed;
                continue;
            }
            if (Transfer(company, company->SyncMode) != kDone) status = kFailed;
        }
        return status;
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
        return Transfer(company, mode);
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

    int Remove(const std::string& key) {
        if (!BuildList()) return kFailed;
        const TTidewellCompanyPtr company = CompanyOf(key);
        if (!options_.yes && !(isatty(STDIN_FILENO) && AskYes(kDeleteQuestion, err_))) {
            throw Failure{"삭제하지 않았습니다."};
        }
        const TCompanyOutcome outcome = session_.Remove(company);
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
        if (!usage.message.empty()) err << "tidewell-cli: " << usage.message << "\n";
        err << kUsageText;
        return usage.message.empty() ? kDone : kUsage;
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
        err << "tidewell-cli: " << failure.message << "\n";
        problems.Add(failure.message);
        status = failure.status;
    } catch (const std::exception& error) {
        const std::string text = ApplicationErrorText(error.what());
        err << "tidewell-cli: " << text << "\n";
        problems.Add(text);
        status = kFailed;
    }
    if (options.scheduled) FinishScheduledRun(status, problems, err);
    return status;
}

}  // namespace tidewell::cli
