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

#include "app/HeadlessView.h"
#include "app/Main.h"
#include "gateway/TidewellGateway.h"
#include "platform/MessagePump.h"
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
    "--prefer local|web (sync, upload, download): which side to keep when both changed since\n"
    "they last agreed; without it such companies are passed over.\n"
    "Credentials come from TIDEWELL_USERID and TIDEWELL_PASSWORD (asked for when the\n"
    "password is unset and a terminal is attached). The service is TIDEWELL_SERVICE_URL or\n"
    "--service.\n"
    "Ctrl+C (SIGINT) or SIGTERM stops the transfer under way and leaves the data as it was;\n"
    "the exit status is then 130 or 143.\n";

struct UsageError {
    std::string message;
};

struct Failure {
    std::string message;
};

struct Options {
    std::string service;
    std::string command;
    std::vector<std::string> arguments;
    std::string folder;  // download --folder
    bool yes = false;    // remove --yes
    bool wait = false;   // sync --wait
    std::string prefer;  // --prefer local|web
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
        {"account", {0, 0}}, {"list", {0, 0}},   {"sync", {0, SIZE_MAX}}, {"upload", {1, 1}},
        {"download", {1, 1}}, {"add", {1, 1}}, {"remove", {1, 1}}, {"history", {1, 1}},
        {"restore", {2, 2}}};
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

// Message boxes become lines on stderr; the one question is answered by --yes or the user.
class ConsoleMessages : public UserInterfaceService {
public:
    ConsoleMessages(std::ostream& err, bool yes, std::string prefer)
        : err_(err), yes_(yes), prefer_(std::move(prefer)) {}
    MessageResult ShowMessageBox(const MessageBoxRequest& request) override {
        // Which side to keep when both changed: --prefer says, or the company is passed over.
        if (request.buttons == MessageButtons::YesNoCancel) {
            if (prefer_ == "local") return MessageResult::Yes;
            if (prefer_ == "web") return MessageResult::No;
            ++shown;
            err_ << PlainLines(request.text) << "\n"
                 << "(--prefer local 또는 --prefer web으로 남길 쪽을 정해 주세요.)\n";
            return MessageResult::Cancel;
        }
        if (request.buttons == MessageButtons::YesNo) {
            answeredYes = yes_ || (isatty(STDIN_FILENO) && AskYes(request.text, err_));
            return answeredYes ? MessageResult::Yes : MessageResult::No;
        }
        ++shown;
        err_ << PlainLines(request.text) << "\n";
        return request.buttons == MessageButtons::OkCancel ? MessageResult::Cancel
                                                           : MessageResult::Ok;
    }
    int shown = 0;
    bool answeredYes = false;

private:
    std::ostream& err_;
    bool yes_;
    std::string prefer_;
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
    explicit ConsoleView(std::ostream& err) : err_(err), terminal_(isatty(STDERR_FILENO)) {}
    void SetText(Element element, const std::string& text) override {
        HeadlessView::SetText(element, text);
        if (element == Element::labelProgressCaption && text != lastCaption_) {
            lastCaption_ = text;
            Show();
        }
    }
    void SetPosition(Element element, int position) override {
        HeadlessView::SetPosition(element, position);
        if (element == Element::ProgressBar && terminal_ && !lastCaption_.empty()) Show();
    }
    void SetVisible(Element element, bool visible) override {
        HeadlessView::SetVisible(element, visible);
        if (element == Element::panelProgress && !visible && terminal_ && shown_) {
            err_ << "\n";
            shown_ = false;
        }
        if (element == Element::panelProgress && !visible) lastCaption_.clear();
    }

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

class Session {
public:
    Session(const Options& options, std::ostream& out, std::ostream& err)
        : options_(options),
          out_(out),
          err_(err),
          messages_(err, options.yes, options.prefer),
          scopedMessages_(messages_),
          view_(err),
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
        const auto [userID, password] = Credentials();
        form_.FormCreate();
        if (!options_.service.empty()) form_.User().ServiceURL = options_.service;
        if (options_.wait) form_.User().LockWait = std::nullopt;
        view_.SetText(Element::Edit1, userID);
        view_.SetText(Element::Edit2, password);
        form_.Button1Click();
        if (form_.User().UserID.empty()) return LoginFailure();

        const std::string& c = options_.command;
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

    std::pair<std::string, std::string> Credentials() {
        const char* id = std::getenv("TIDEWELL_USERID");
        if (id == nullptr || *id == '\0') throw UsageError{"TIDEWELL_USERID is not set"};
        if (const char* password = std::getenv("TIDEWELL_PASSWORD")) return {id, password};
        if (!isatty(STDIN_FILENO)) throw UsageError{"TIDEWELL_PASSWORD is not set"};
        return {id, ReadPasswordFromTerminal(err_)};
    }

    int LoginFailure() {
        const std::exception_ptr error = form_.LastLoginError();
        if (!error) return kLoginRefused;  // blank credentials
        try {
            std::rethrow_exception(error);
        } catch (const HttpError& transport) {
            err_ << "tidewell-cli: " << transport.what() << "\n";
            return kFailed;
        } catch (const std::exception& refusal) {
            if (*refusal.what()) err_ << "tidewell-cli: " << refusal.what() << "\n";
            return kLoginRefused;
        }
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
                err_ << form_.Row(row).Company->CompanyName << ": 전송되지 않았습니다.\n";
                result = kFailed;
            }
        }
        return result;
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
                err_ << company.CompanyName
                     << ": 양쪽 자료가 모두 변경되어 전송하지 않았습니다. "
                        "(--prefer local 또는 --prefer web으로 남길 쪽을 정해 주세요.)\n";
                passedOver = kFailed;
            }
        }
        std::vector<std::string> keys;
        for (int i = 0; i < form_.RowCount(); ++i) {
            if (form_.Row(i).Checked) keys.push_back(form_.Row(i).Company->CompanyKey);
        }
        if (keys.empty()) {
            if (passedOver == kDone) err_ << "전송할 사업장이 없습니다.\n";
            return passedOver;
        }
        form_.btnSyncSelectedClick();
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
        form_.menuSyncSelectedClick();
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
    try {
        const Options options = Parse(arguments);
        Session session(options, out, err);
        return session.Run();
    } catch (const UsageError& usage) {
        if (!usage.message.empty()) err << "tidewell-cli: " << usage.message << "\n";
        err << kUsageText;
        return usage.message.empty() ? kDone : kUsage;
    } catch (const Failure& failure) {
        err << "tidewell-cli: " << failure.message << "\n";
        return kFailed;
    } catch (const std::exception& error) {
        err << "tidewell-cli: " << ApplicationErrorText(error.what()) << "\n";
        return kFailed;
    }
}

}  // namespace tidewell::cli
