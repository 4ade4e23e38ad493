#include "ScheduledRun.h"

#include <charconv>

#include "DesktopNotification.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "usecase/KeyValueFile.h"

namespace fs = std::filesystem;

namespace tidewell::cli {
namespace {

std::string NowText() {
    return FormatDateTime("yyyy-mm-dd hh:nn:ss", SystemClock().Now());
}

}  // namespace

void RunProblems::Add(const std::string& text) {
    texts_.push_back(OneLine(text));
}

bool RunProblems::Mentions(std::string_view start) const {
    for (const std::string& text : texts_) {
        if (text.starts_with(start)) return true;
    }
    return false;
}

fs::path LastRunFile() {
    return ProgramConfigFolder() / "tidewell-sync-last-run";
}

std::optional<LastRun> ReadLastRun() {
    const auto content = ReadKeyValueFile(LastRunFile());
    if (!content) return std::nullopt;
    LastRun run;
    for (const auto& [name, value] : content->values) {
        if (name == "Started") run.Started = value;
        if (name == "Ended") run.Ended = value;
        int status = 0;
        if (name == "Status" &&
            std::from_chars(value.data(), value.data() + value.size(), status).ec == std::errc{}) {
            run.Status = status;
        }
        if (name == "Problem") run.Problems.push_back(value);
    }
    return run;
}

void RecordRunStart() {
    ReplaceFile(LastRunFile(), KeyValueText({{"Started", NowText()}}), 0600);
}

std::string OneLine(std::string_view text) {
    std::string line;
    bool first = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') {
            line += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n') ++i;
        if (line.empty() || line.back() == ' ') continue;
        line += first && line.back() != '.' ? ": " : " ";
        first = false;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

void FinishScheduledRun(int status, const RunProblems& problems, std::ostream& err) {
    std::vector<std::string> lines = problems.Texts();
    if (status != 0 && lines.empty()) {
        lines.push_back("알 수 없는 이유로 끝났습니다. (종료 상태 " + std::to_string(status) + ")");
    }
    KeyValues record;
    if (const auto started = ReadLastRun(); started && started->Ended.empty()) {
        record.emplace_back("Started", started->Started);
    }
    record.emplace_back("Ended", NowText());
    record.emplace_back("Status", std::to_string(status));
    for (const std::string& line : lines) record.emplace_back("Problem", line);
    try {
        ReplaceFile(LastRunFile(), KeyValueText(record), 0600);
    } catch (const std::exception& error) {
        err << "tidewell-cli: " << error.what() << "\n";
    }
    if (status == 0 || status >= 128) return;

    std::string body;
    for (const std::string& line : lines) body += (body.empty() ? "" : "\n") + line;
    err << kFailureTitle << "\n" << body << "\n";
    const NotificationAnswer answer = SendDesktopNotification(kFailureTitle, body);
    if (!answer.sent)
        err << "tidewell-cli: 바탕화면 알림을 보내지 못했습니다: " << answer.error << "\n";
}

}  // namespace tidewell::cli
