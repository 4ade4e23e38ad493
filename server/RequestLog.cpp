#include "RequestLog.h"

#include <time.h>
#include <unistd.h>

#include "TextRules.h"

namespace tidewell::webfolder {
namespace {

// Client-chosen text goes into the log quoted-free but tamed: no line breaks, bounded length.
std::string Tame(std::string_view text) {
    if (text.empty()) return "-";
    std::string out = ReplaceControls(text.substr(0, 80));
    for (char& c : out) {
        if (c == ' ') c = '_';
    }
    return out;
}

}  // namespace

std::string FormatLogLine(const LogFields& fields, std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::string line =
        std::string(stamp) + " " + Tame(fields.remote) + " " + Tame(fields.method) + " " +
        Tame(fields.path) + " account=" + Tame(fields.note.account) +
        " status=" + std::to_string(fields.status) + " bytes=" + std::to_string(fields.bytes) +
        " ms=" + (fields.milliseconds < 0 ? std::string("-") : std::to_string(fields.milliseconds));
    if (!fields.note.detail.empty()) line += " " + ReplaceControls(fields.note.detail);
    return line;
}

RequestLog::RequestLog(Sink sink) : sink_(std::move(sink)) {}

void RequestLog::Begin(const void* request) {
    std::lock_guard lock(mutex_);
    pending_[request] = Pending{std::chrono::steady_clock::now(), {}};
}

void RequestLog::Note(const void* request, RequestNote note) {
    std::lock_guard lock(mutex_);
    const auto found = pending_.find(request);
    if (found != pending_.end()) found->second.note = std::move(note);
}

void RequestLog::End(const void* request, LogFields fields) {
    {
        std::lock_guard lock(mutex_);
        const auto found = pending_.find(request);
        if (found != pending_.end()) {
            fields.note = std::move(found->second.note);
            fields.milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - found->second.start)
                                      .count();
            pending_.erase(found);
        }
    }
    Write(FormatLogLine(fields, std::chrono::system_clock::now()));
}

void RequestLog::Write(const std::string& line) {
    sink_(line);
}

RequestLog::Sink StandardErrorSink() {
    return [](const std::string& line) {
        const std::string text = line + "\n";
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
    };
}

}  // namespace tidewell::webfolder
