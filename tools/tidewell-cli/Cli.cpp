#include "Cli.h"

#include <termios.h>
#include <unistd.h>

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
#include "app/HeadlessView.h"
#include "app/Main.h"
#include "company/LocalCompanyList.h"
#include "gateway/TidewellGateway.h"
#include "platform/FileKit.h"
#include "platform/MessagePump.h"
#include "platform/SettingsHive.h"
#include "platform/UserInterface.h"

namespace fs = std::filesystem;

namespace tidewell::cli {
namespace {

constexpr const char* kUsageText =
    "usage: tidewell-cli [--service URL] COMMAND [ARGUMENTS]\n"
    "  account                      the account: name, web-folder usage, service period\n"
    "  list                         one line per company (tab-separated): key, name,\n"
    "                               direction, local time, web-folder time, local folder\n"
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
    "they last agreed; without it such companies are passed over.\n"
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
    std::string folder;  // download --folder
    bool yes = false;    // remove --yes
    bool wait = false;   // sync --wait
    std::string prefer;  // --prefer local|web
    bool file = false;   // login --file
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

// Message boxes become lines on stderr; the one question is answered by --yes or the user.
class ConsoleMessages : public UserInterfaceService {
public:
    ConsoleMessages(std::ostream& err, bool yes, std::string prefer, RunProblems& problems)
        : err_(err), yes_(yes), prefer_(std::move(prefer)), problems_(problems) {}
    MessageResult ShowMessageBox(const MessageBoxRequest& request) override {
        // Which side to keep when both changed: --prefer says, or the company is passed over.
        if (request.buttons == MessageButtons::YesNoCancel) {
            if (prefer_ == "local") return MessageResult::Yes;
            if (prefer_ == "web") return MessageResult::No;
            ++shown;
            err_ << PlainLines(request.text) << "\n"
                 << "(--prefer local 또는 --prefer web으로 남길 쪽을 정해 주세요.)\n";
            const std::string text = request.text;
            problems_.Add(text.substr(0, text.find('\r')) + ": " + kPassedOver);
            return MessageResult::Cancel;
        }
        if (request.buttons == MessageButtons::YesNo) {
            answeredYes = yes_ || (isatty(STDIN_FILENO) && AskYes(request.text, err_));
            return answeredYes ? MessageResult::Yes : MessageResult::No;
        }
        ++shown;
        err_ << PlainLines(request.text) << "\n";
        if (recording) problems_.Add(request.text);
        return request.buttons == MessageButtons::OkCancel ? MessageResult::Cancel
                                                           : MessageResult::Ok;
    }
    int shown = 0;
    bool answeredYes = false;
    // Off while logging in: the login's own report says more than the window's box.
    bool recording = true;

private:
    std::ostream& err_;
    bool yes_;
    std::string prefer_;
    RunProblems& problems_;
};

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
// request of the account, which ends the transfer under way cleanly.
class SignalPump : public MessagePump {
public:
    explicit SignalPump(TformMain& form) : form_(form) {}
    void ProcessMessages() override {
        if (stopSignal != 0) form_.User().RequestStop();
    }
    bool Terminated() const override { return stopSignal != 0; }

private:
    TformMain& form_;
};

// The window without a window: progress of transfers goes to stderr.
class ConsoleView : public HeadlessView {
public:
    // A quiet view shows no progress: a scheduled run says something only when it fails.
    ConsoleView(std::ostream& err, bool quiet)
        : err_(err), terminal_(isatty(STDERR_FILENO)), quiet_(quiet) {}
    void SetText(Element element, const std::string& text) override {
        HeadlessView::SetText(element, text);
        if (quiet_) return;
        if (element == Element::labelProgressCaption && text != lastCaption_) {
            lastCaption_ = text;
            Show();
        }
    }
    void SetPosition(Element element, int position) override {
        HeadlessView::SetPosition(element, position);
        if (quiet_) return;
        if (element == Element::ProgressBar && terminal_ && !lastCaption_.empty()) Show();
    }
    void SetVisible(Element element, bool visible) override {
        HeadlessView::SetVisible(element, visible);
        // The panel closes while an error unwinds: the company on it is the one broken off.
        if (element == Element::panelProgress && !visible && std::uncaught_exceptions() > 0) {
            brokenOff = Text(Element::labelProgressTitle);
        }
        if (element == Element::panelProgress && !visible && terminal_ && shown_) {
            err_ << "\n";
            shown_ = false;
        }
        if (element == Element::panelProgress && !visible) lastCaption_.clear();
    }
    std::string brokenOff;

private:
    void Show() {
        const std::string line = Text(Element::labelProgressTitle) + ": " + lastCaption_ + " " +
                                 std::to_string(Position(Element::ProgressBar)) + "%";
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
    std::string lastCaption_;
};

std::string TimeText(TDateTime t) {
    return t == 0 ? "-" : FormatDateTime("yyyy-mm-dd hh:nn:ss", t);
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

std::string Direction(const TTidewellCompany& company) {
    std::string direction = Direction(company.SyncMode);
    return BothSidesChanged(company) ? "conflict " + direction : direction;
}

std::string Absolute(const std::string& path) {
    std::error_code ignored;
    std::string result = fs::absolute(path, ignored).lexically_normal().string();
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The names of the companies registered on this computer, for a report of a run that could
// not even log in.
std::string RegisteredCompanyNames() {
    try {
        const auto key = CurrentUserHive().OpenKey(kProgramKey, false);
        if (!key) return {};
        std::string names;
        for (int slot = 0; slot < kCompanySlotCount; ++slot) {
            if (key->ReadString(CompanySlotValue(slot, "Path")).empty()) continue;
            names += (names.empty() ? "" : ", ") + key->ReadString(CompanySlotValue(slot, "Name"));
        }
        return names;
    } catch (const std::exception&) {
        return {};  // the report goes out without them
    }
}

constexpr const char* kNoLogin =
    "tidewell-cli login으로 로그인 정보를 저장하거나 TIDEWELL_USERID와 TIDEWELL_PASSWORD를 정해 "
    "주세요.";

class Session {
public:
    Session(const Options& options, std::ostream& out, std::ostream& err, RunProblems& problems)
        : options_(options),
          out_(out),
          err_(err),
          problems_(problems),
          messages_(err, options.yes, options.prefer, problems),
          scopedMessages_(messages_),
          view_(err, options.scheduled),
          form_(view_),
          pump_(form_),
          scopedPump_(pump_) {}

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
        if (c == "list") return List();
        if (c == "sync") return Sync();
        if (c == "upload") return TransferOne(options_.arguments[0], true);
        if (c == "download") return TransferOne(options_.arguments[0], false);
        if (c == "add") return Add(options_.arguments[0]);
        if (c == "history") return History(options_.arguments[0]);
        if (c == "restore") return Restore(options_.arguments[0], options_.arguments[1]);
        return Remove(options_.arguments[0]);
    }

    bool LogIn(const std::string& userID, const std::string& password) {
        form_.FormCreate();
        form_.User().ServiceURL = service_;
        if (options_.wait) form_.User().LockWait = std::nullopt;
        view_.SetText(Element::Edit1, userID);
        view_.SetText(Element::Edit2, password);
        messages_.recording = false;
        form_.Button1Click();
        messages_.recording = true;
        return !form_.User().UserID.empty();
    }

    // --service, the environment, the kept login, the built-in default: the first that says.
    void ChooseService(const std::optional<StoredLogin>& stored) {
        service_ = options_.service;
        if (service_.empty()) service_ = Environment("TIDEWELL_SERVICE_URL");
        if (service_.empty() && stored) service_ = stored->Key.ServiceURL;
        if (service_.empty()) service_ = kDefaultServiceURL;
    }

    // The environment first; what it leaves unset comes from what login kept.
    std::pair<std::string, std::string> Credentials() {
        const std::optional<StoredLogin> stored = ReadStoredLogin();
        ChooseService(stored);
        std::string id = Environment("TIDEWELL_USERID");
        if (id.empty() && stored && stored->Key.ServiceURL == service_) id = stored->Key.UserID;
        if (id.empty()) throw Failure{"로그인 정보가 없습니다. " + std::string(kNoLogin), kUsage};
        if (const char* password = std::getenv("TIDEWELL_PASSWORD")) return {id, password};
        std::string why;
        if (auto password = StoredPassword({service_, id}, stored, &why)) return {id, *password};
        if (isatty(STDIN_FILENO)) return {id, ReadPasswordFromTerminal(err_)};
        throw Failure{id + "의 비밀번호가 저장되어 있지 않습니다" +
                          (why.empty() ? "" : " (" + why + ")") + ". " + kNoLogin,
                      kUsage};
    }

    int LoginFailure() {
        const std::exception_ptr error = form_.LastLoginError();
        int status = kLoginRefused;
        std::string reason = "아이디나 비밀번호가 맞지 않습니다.";
        if (error) {
            try {
                std::rethrow_exception(error);
            } catch (const HttpError& transport) {
                err_ << "tidewell-cli: " << transport.what() << "\n";
                reason = transport.what();
                status = kFailed;
            } catch (const std::exception& refusal) {
                if (*refusal.what()) err_ << "tidewell-cli: " << refusal.what() << "\n";
                if (*refusal.what()) reason = refusal.what();
            }
        }
        problems_.Add("로그인하지 못했습니다: " + reason);
        if (const std::string names = RegisteredCompanyNames(); !names.empty()) {
            problems_.Add("백업하지 못한 사업장: " + names);
        }
        return status;
    }

    // login [ID] [--file]: the password is checked with the service before it is kept.
    int Login() {
        ChooseService(ReadStoredLogin());
        std::string id =
            options_.arguments.empty() ? Environment("TIDEWELL_USERID") : options_.arguments[0];
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
        std::string id =
            options_.arguments.empty() ? Environment("TIDEWELL_USERID") : options_.arguments[0];
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
        if (const std::string config = Environment("XDG_CONFIG_HOME"); !config.empty()) {
            environment.emplace_back("XDG_CONFIG_HOME", config);
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

    int Account() {
        for (Element e :
             {Element::labelUserName, Element::labelUserDiskUsed, Element::labelUserExpireAt}) {
            out_ << view_.Text(e) << "\n";
        }
        return kDone;
    }

    int List() {
        for (int i = 0; i < form_.RowCount(); ++i) {
            const TTidewellCompany& c = *form_.Row(i).Company;
            out_ << c.CompanyKey << '\t' << c.CompanyName << '\t' << Direction(c)
                 << '\t' << TimeText(c.LocalModified) << '\t' << TimeText(c.LatestFileTime)
                 << '\t' << (c.LocalPath.empty() ? "-" : c.LocalPath) << "\n";
        }
        return kDone;
    }

    int RowOf(const std::string& key) const {
        const int row = form_.FindCompanyRow(key);
        if (row < 0) throw Failure{"이 계정에 없는 사업장입니다: " + key};
        return row;
    }

    void CheckOnly(const std::set<int>& rows) {
        view_.SetChecked(Element::CheckBox1, false);
        form_.CheckBox1Click();
        for (int row : rows) form_.ToggleRowCheck(row);
    }

    // Whether the given companies now show nothing left to transfer.
    int Verify(const std::vector<std::string>& keys) {
        int result = messages_.shown == 0 ? kDone : kFailed;
        for (const auto& key : keys) {
            const int row = form_.FindCompanyRow(key);
            if (row >= 0 && form_.Row(row).Company->SyncMode != smNone) {
                const std::string& name = form_.Row(row).Company->CompanyName;
                err_ << name << ": 전송되지 않았습니다.\n";
                if (!problems_.Mentions(name + ":")) problems_.Add(name + ": 전송되지 않았습니다.");
                result = kFailed;
            }
        }
        return result;
    }

    // An error that breaks off a transfer names the company it broke off.
    template <typename Command>
    void Transfer(Command command) {
        try {
            command();
        } catch (const std::exception& error) {
            if (view_.brokenOff.empty()) throw;
            throw Failure{view_.brokenOff + ": " + ApplicationErrorText(error.what())};
        }
    }

    int Sync() {
        int passedOver = kDone;
        if (!options_.arguments.empty()) {
            std::set<int> rows;
            for (const auto& key : options_.arguments) rows.insert(RowOf(key));
            CheckOnly(rows);
        } else {
            // Companies changed on both sides go only when the user said which side to keep.
            for (int i = 0; i < form_.RowCount(); ++i) {
                const TTidewellCompany& company = *form_.Row(i).Company;
                if (!BothSidesChanged(company) || form_.Row(i).Checked) continue;
                if (!options_.prefer.empty()) {
                    form_.ToggleRowCheck(i);
                    continue;
                }
                err_ << company.CompanyName << ": " << kPassedOver
                     << " (--prefer local 또는 --prefer web으로 남길 쪽을 정해 주세요.)\n";
                problems_.Add(company.CompanyName + ": " + kPassedOver);
                passedOver = kFailed;
            }
        }
        std::vector<std::string> keys;
        for (int i = 0; i < form_.RowCount(); ++i) {
            if (form_.Row(i).Checked) keys.push_back(form_.Row(i).Company->CompanyKey);
        }
        if (keys.empty()) {
            if (passedOver == kDone && !options_.scheduled) err_ << "전송할 사업장이 없습니다.\n";
            return passedOver;
        }
        Transfer([this] { form_.btnSyncSelectedClick(); });
        const int verified = Verify(keys);
        return verified == kDone ? passedOver : verified;
    }

    int TransferOne(const std::string& key, bool upload) {
        const int row = RowOf(key);
        TTidewellCompany& company = *form_.Row(row).Company;
        view_.PointerRow = row;
        if (!options_.folder.empty()) {
            if (!company.LocalPath.empty()) {
                throw Failure{company.CompanyName + "의 폴더는 이미 " + company.LocalPath +
                              "입니다."};
            }
            // The same as picking the folder in the list.
            const std::string folder = Absolute(options_.folder);
            view_.OnBrowseForFolder = [folder](const std::string&, std::string& chosen, bool) {
                chosen = folder;
                return true;
            };
            view_.PointerOverFolderLink = true;
            form_.vtClick();
            view_.PointerOverFolderLink = false;
        }
        if (company.LocalPath.empty()) {
            throw Failure(company.CompanyName + "의 폴더가 선택되어 있지 않습니다." +
                          (upload ? "" : " --folder로 폴더를 지정하세요."));
        }
        if (!upload && company.LatestFileTime == 0) {
            throw Failure{company.CompanyName + ": 웹폴더에 내려받을 자료가 없습니다."};
        }
        if (upload) {
            form_.menuSyncModeUploadClick();
        } else {
            form_.menuSyncModeDownloadClick();
        }
        Transfer([this] { form_.menuSyncSelectedClick(); });
        return Verify({key});
    }

    int Add(const std::string& folderArgument) {
        const std::string folder = Absolute(folderArgument);
        view_.OnBrowseForFolder = [folder](const std::string&, std::string& chosen, bool) {
            chosen = folder;
            return true;
        };
        form_.imgCompanyAddClick();
        for (int i = 0; i < form_.RowCount(); ++i) {
            if (form_.Row(i).Company->LocalPath == folder) {
                out_ << form_.Row(i).Company->CompanyKey << "\n";
                return kDone;
            }
        }
        throw Failure{folder + "에 사업장 자료(default.mdb)가 없습니다."};
    }

    int History(const std::string& key) {
        const TTidewellCompany& company = *form_.Row(RowOf(key)).Company;
        if (company.LocalPath.empty()) throw Failure{company.CompanyName + "의 폴더가 이 컴퓨터에 없습니다."};
        for (const TSafetyArchive& archive : ListSafetyArchives(company.LocalPath)) {
            out_ << archive.Path << '\t' << TimeText(archive.DataTime) << '\t' << archive.Size
                 << "\n";
        }
        if (company.WebArchiveCount > 1) {
            err_ << "웹폴더에도 이 사업장의 이전 자료 " << company.WebArchiveCount - 1
                 << "개가 보관되어 있습니다.\n";
        }
        return kDone;
    }

    // The archive by its path, or by its name in the company's Backup folder.
    int Restore(const std::string& key, const std::string& archive) {
        const int row = RowOf(key);
        const TTidewellCompany& company = *form_.Row(row).Company;
        if (company.LocalPath.empty()) throw Failure{company.CompanyName + "의 폴더가 이 컴퓨터에 없습니다."};
        const std::vector<TSafetyArchive> archives = ListSafetyArchives(company.LocalPath);
        const std::string wanted = Absolute(archive);
        for (std::size_t i = 0; i < archives.size(); ++i) {
            if (archives[i].Name != archive && archives[i].Path != wanted) continue;
            view_.PointerRow = row;
            view_.OnChooseSafetyArchive = [i](const std::string&, const std::vector<TSafetyArchive>&,
                                              const std::string&) { return static_cast<int>(i); };
            form_.menuRestoreClick();
            return messages_.shown == 0 ? kDone : kFailed;
        }
        throw Failure{company.CompanyName + "의 백업 파일이 아닙니다: " + archive};
    }

    int Remove(const std::string& key) {
        CheckOnly({RowOf(key)});
        form_.imgCompanyDeleteClick();
        if (!messages_.answeredYes) throw Failure{"삭제하지 않았습니다."};
        return kDone;
    }

    const Options& options_;
    std::ostream& out_;
    std::ostream& err_;
    RunProblems& problems_;
    std::string service_;
    ConsoleMessages messages_;
    ScopedUserInterface scopedMessages_;
    ConsoleView view_;
    TformMain form_;
    StopSignals signals_;
    SignalPump pump_;
    ScopedMessagePump scopedPump_;
};

}  // namespace

int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
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
        Session session(options, out, err, problems);
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
