#include "Schedule.h"

#include <sstream>

#include "ExternalProgram.h"
#include "ScheduledRun.h"

namespace fs = std::filesystem;

namespace tidewell::cli {
namespace {

std::string TwoDigits(int n) {
    return (n < 10 ? "0" : "") + std::to_string(n);
}

std::string FirstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    return line.empty() ? "알 수 없는 이유" : line;
}

// What systemctl's English error means, in the words of the messages around it.
std::string SystemctlProblem(const ProgramResult& result) {
    if (!result.started) return "systemctl이 없습니다";
    const std::string& text = result.errors;
    if (text.find("connect to bus") != std::string::npos ||
        text.find("$DBUS_SESSION_BUS_ADDRESS") != std::string::npos ||
        text.find("XDG_RUNTIME_DIR") != std::string::npos) {
        return "사용자 세션의 systemd에 연결할 수 없습니다";
    }
    if (text.find("not found") != std::string::npos ||
        text.find("does not exist") != std::string::npos) {
        return "systemd가 예약 파일을 찾지 못했습니다";
    }
    if (text.find("ermission") != std::string::npos || text.find("denied") != std::string::npos) {
        return "권한이 없습니다";
    }
    return "systemctl --user가 실패했습니다 (종료 상태 " + std::to_string(result.exitStatus) + ")";
}

// systemctl --user with these arguments. why says what went wrong when it did not succeed.
bool Systemctl(const std::vector<std::string>& arguments, std::string* output, std::string* why) {
    std::vector<std::string> command = {"systemctl", "--user"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const ProgramResult result = RunProgram(command);
    if (output) *output = result.output;
    if (result.started && result.exitStatus == 0) return true;
    if (why) *why = SystemctlProblem(result);
    return false;
}

// Whether enable left its link to the timer: what the user manager starts with the session,
// known also when the manager can't be asked.
bool EnabledOnDisk() {
    std::error_code ignored;
    return fs::exists(
        fs::symlink_status(UserUnitFolder() / "timers.target.wants" / kTimerUnit, ignored));
}

KeyValues Properties(const std::string& text) {
    KeyValues values;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos)
            values.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    return values;
}

void TellHowToEnable(const std::string& why, std::ostream& out) {
    out << "systemctl --user를 쓸 수 없어 예약을 켜지 못했습니다. (" << why << ")\n"
        << "바탕화면에 로그인한 사용자 세션에서 다음을 실행하면 켜집니다:\n"
        << "  systemctl --user daemon-reload\n"
        << "  systemctl --user enable --now " << kTimerUnit << "\n";
}

std::string CalendarOf(const fs::path& timer) {
    const auto content = ReadKeyValueFile(timer);
    return content ? ValueOf(content->values, "OnCalendar") : "";
}

void ShowLastRun(const std::string& serviceState, std::ostream& out) {
    const std::optional<LastRun> run = ReadLastRun();
    if (!run) {
        out << "마지막 실행: 아직 없습니다\n";
        return;
    }
    if (!run->Status) {
        out << "마지막 실행: " << run->Started
            << (serviceState == "activating" ? "에 시작해 지금 실행 중입니다\n"
                                             : "에 시작해 끝을 알리지 못하고 멈췄습니다\n");
        return;
    }
    const int status = *run->Status;
    out << "마지막 실행: " << (run->Ended.empty() ? run->Started : run->Ended) << ", ";
    if (status == 0) {
        out << "성공\n";
    } else if (status >= 128) {
        out << "중단됨 (신호 " << status - 128 << ")\n";
    } else {
        out << "실패 (종료 상태 " << status << ")\n";
    }
    for (const std::string& problem : run->Problems) out << "  " << problem << "\n";
}

}  // namespace

std::optional<ScheduleTime> ParseDailyTime(std::string_view text) {
    if (text.size() != 5 || text[2] != ':') return std::nullopt;
    for (std::size_t i : {0, 1, 3, 4}) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
    }
    ScheduleTime time;
    time.Hour = (text[0] - '0') * 10 + (text[1] - '0');
    time.Minute = (text[3] - '0') * 10 + (text[4] - '0');
    if (time.Hour > 23 || time.Minute > 59) return std::nullopt;
    return time;
}

std::optional<int> ParseSpreadMinutes(std::string_view text) {
    if (text.empty() || text.size() > 3) return std::nullopt;
    int minutes = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        minutes = minutes * 10 + (c - '0');
    }
    if (minutes > 720) return std::nullopt;
    return minutes;
}

std::string DescribeCalendar(std::string_view onCalendar) {
    if (onCalendar == "hourly") return "매시 정각";
    constexpr std::string_view daily = "*-*-* ";
    if (onCalendar.starts_with(daily) && onCalendar.size() == daily.size() + 8 &&
        onCalendar.ends_with(":00")) {
        return "매일 " + std::string(onCalendar.substr(daily.size(), 5));
    }
    return std::string(onCalendar);
}

fs::path UserUnitFolder() {
    return ProgramConfigFolder().parent_path() / "systemd" / "user";
}

std::string SystemdWord(std::string_view word) {
    std::string escaped;
    bool quote = word.empty();
    for (char c : word) {
        if (c == '%') escaped += '%';  // specifiers
        if (c == '$') escaped += '$';  // variables of the manager's environment
        if (c == '\\' || c == '"') escaped += '\\';
        if (c == ' ' || c == '\t' || c == '"' || c == '\'' || c == '\\' || c == ';') quote = true;
        escaped += c;
    }
    return quote ? "\"" + escaped + "\"" : escaped;
}

std::string ServiceUnitText(const std::vector<std::string>& command, const KeyValues& environment) {
    std::string text =
        "# Written by `tidewell-cli schedule install`; `tidewell-cli schedule remove` removes it.\n"
        "[Unit]\n"
        "Description=Tidewell 예약 백업\n"
        "\n"
        "[Service]\n"
        "Type=oneshot\n";
    for (const auto& [name, value] : environment) {
        std::string assignment = name + "=" + value;
        std::string escaped;
        for (char c : assignment) {
            if (c == '%') escaped += '%';
            if (c == '\\' || c == '"') escaped += '\\';
            escaped += c;
        }
        text += "Environment=\"" + escaped + "\"\n";
    }
    text += "ExecStart=";
    for (std::size_t i = 0; i < command.size(); ++i)
        text += (i ? " " : "") + SystemdWord(command[i]);
    text +=
        "\n"
        "# It waits for a transfer of the window as long as that takes.\n"
        "TimeoutStartSec=infinity\n"
        "# The shop's own work at the computer comes first.\n"
        "Nice=10\n"
        "IOSchedulingClass=idle\n";
    return text;
}

std::string TimerUnitText(const ScheduleTime& time) {
    const std::string calendar =
        time.Hourly ? "hourly"
                    : "*-*-* " + TwoDigits(time.Hour) + ":" + TwoDigits(time.Minute) + ":00";
    std::string text =
        "# Written by `tidewell-cli schedule install`; `tidewell-cli schedule remove` removes "
        "it.\n"
        "[Unit]\n"
        "Description=Tidewell 예약 백업 (" +
        DescribeCalendar(calendar) +
        ")\n"
        "\n"
        "[Timer]\n"
        "OnCalendar=" +
        calendar +
        "\n"
        "# A run missed while the computer was off happens when it is next on.\n"
        "Persistent=true\n";
    if (time.SpreadMinutes > 0) {
        text +=
            "# Each computer at a moment of its own within this time, the same every day, so that\n"
            "# the shops do not all reach the service in the same second.\n"
            "RandomizedDelaySec=" +
            std::to_string(time.SpreadMinutes) +
            "min\n"
            "FixedRandomDelay=true\n";
    }
    return text + "Unit=" + kServiceUnit +
           "\n"
           "\n"
           "[Install]\n"
           "WantedBy=timers.target\n";
}

int InstallSchedule(const ScheduleTime& time, const std::vector<std::string>& command,
                    const KeyValues& environment, std::ostream& out) {
    const fs::path folder = UserUnitFolder();
    ReplaceFile(folder / kServiceUnit, ServiceUnitText(command, environment), 0644);
    ReplaceFile(folder / kTimerUnit, TimerUnitText(time), 0644);
    out << "예약 백업을 만들었습니다: " << DescribeCalendar(CalendarOf(folder / kTimerUnit)) << "\n"
        << "  " << (folder / kTimerUnit).string() << "\n"
        << "  " << (folder / kServiceUnit).string() << "\n";
    std::string why;
    if (!Systemctl({"daemon-reload"}, nullptr, &why) ||
        !Systemctl({"enable", "--now", kTimerUnit}, nullptr, &why)) {
        // Written but not switched on: no backup would run, and the exit status says so.
        TellHowToEnable(why, out);
        return 1;
    }
    std::string next;
    Systemctl({"show", kTimerUnit, "--property=NextElapseUSecRealtime", "--value"}, &next, nullptr);
    out << "예약을 켰습니다. 다음 실행: " << FirstLine(next) << "\n";
    return 0;
}

int RemoveSchedule(std::ostream& out, std::ostream& err) {
    const fs::path folder = UserUnitFolder();
    std::error_code ignored;
    if (!fs::exists(folder / kTimerUnit, ignored) && !fs::exists(folder / kServiceUnit, ignored)) {
        out << "예약된 백업이 없습니다.\n";
        return 0;
    }
    std::string why;
    const bool disabled = Systemctl({"disable", "--now", kTimerUnit}, nullptr, &why);
    fs::remove(folder / kTimerUnit, ignored);
    fs::remove(folder / kServiceUnit, ignored);
    if (disabled) Systemctl({"daemon-reload"}, nullptr, nullptr);
    out << "예약 백업을 지웠습니다.\n";
    if (!disabled) {
        err << "systemctl --user를 쓸 수 없었습니다 (" << why
            << "). 켜져 있던 예약은 사용자 세션이 다음에 시작할 때 사라집니다.\n";
    }
    return 0;
}

int ShowSchedule(std::ostream& out) {
    const fs::path timer = UserUnitFolder() / kTimerUnit;
    std::error_code ignored;
    if (!fs::exists(timer, ignored)) {
        out << "예약된 백업이 없습니다. (tidewell-cli schedule install로 만듭니다)\n";
        return 1;
    }
    out << "예약: " << DescribeCalendar(CalendarOf(timer)) << " (" << timer.string() << ")\n";
    std::string text, why;
    std::string serviceState;
    bool on = false;
    if (Systemctl({"show", kTimerUnit, "--property=ActiveState,NextElapseUSecRealtime"}, &text,
                  &why)) {
        const KeyValues timerState = Properties(text);
        const std::string next = ValueOf(timerState, "NextElapseUSecRealtime");
        on = ValueOf(timerState, "ActiveState") == "active" && !next.empty();
        if (!on) {
            out << "다음 실행: 예약이 꺼져 있어 실행되지 않습니다 (systemctl --user enable --now "
                << kTimerUnit << ")\n";
        } else {
            out << "다음 실행: " << next << "\n";
        }
        if (Systemctl({"show", kServiceUnit, "--property=ActiveState"}, &text, nullptr)) {
            serviceState = ValueOf(Properties(text), "ActiveState");
        }
    } else if (EnabledOnDisk()) {
        on = true;
        out << "다음 실행: 알 수 없습니다 (예약은 켜져 있지만 " << why << ")\n";
    } else {
        out << "다음 실행: 예약이 꺼져 있어 실행되지 않습니다 (" << why
            << "). 바탕화면 세션에서 systemctl --user enable --now " << kTimerUnit
            << "로 켜 주세요.\n";
    }
    ShowLastRun(serviceState, out);
    return on ? 0 : 1;
}

}  // namespace tidewell::cli
