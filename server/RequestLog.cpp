#include "RequestLog.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>

namespace tidewell::webfolder {
namespace {

bool IsBare(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '/' || c == ':' || c == '@' || c == ',';
}

}  // namespace

std::string LogValue(std::string_view bytes) {
    if (!bytes.empty() && std::all_of(bytes.begin(), bytes.end(), IsBare)) {
        return std::string(bytes);
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string FormatLogLine(const LogFields& fields, std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::string line =
        std::string(stamp) + " " + LogValue(fields.remote) + " " + LogValue(fields.method) + " " +
        LogValue(fields.path) + " account=" + LogValue(fields.note.account) +
        " status=" + std::to_string(fields.status) + " bytes=" + std::to_string(fields.bytes) +
        " ms=" + (fields.milliseconds < 0 ? std::string("-") : std::to_string(fields.milliseconds));
    if (!fields.outcome.empty()) line += " end=" + LogValue(fields.outcome);
    for (const auto& [name, value] : fields.note.detail) line += " " + name + "=" + LogValue(value);
    return line;
}

void RequestLog::Request(const LogFields& fields) {
    Write(FormatLogLine(fields, std::chrono::system_clock::now()));
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
