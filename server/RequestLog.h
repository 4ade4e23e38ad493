#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tidewell::webfolder {

// What a handler tells the log about its request. Never the password.
struct RequestNote {
    std::string account;  // the user ID as the client sent it
    // name=value pairs after the fixed fields: the command, the archive, the reply's STATUS
    std::vector<std::pair<std::string, std::string>> detail;

    void Add(std::string name, std::string value) {
        detail.emplace_back(std::move(name), std::move(value));
    }
};

// What the log line of one request holds.
struct LogFields {
    std::string remote;
    std::string method;
    std::string path;  // as the client sent it, query and all
    RequestNote note;
    int status = 0;
    std::uint64_t bytes = 0;  // reply body bytes handed to the connection
    std::int64_t milliseconds = -1;
    std::string outcome;  // empty when the reply went out whole; else why not
};

// A value as one token of a log line: bare when it holds only characters that can't end a
// field, otherwise in double quotes with ", \ and every byte outside printable ASCII escaped
// (\xHH), so a client's text can neither start a field nor a line and shows exactly the
// bytes it sent.
std::string LogValue(std::string_view bytes);

// One line: time, client, method, path, account, HTTP status, body bytes, milliseconds, then
// the note's fields.
std::string FormatLogLine(const LogFields& fields, std::chrono::system_clock::time_point when);

// Writes the service's log lines.
class RequestLog {
public:
    using Sink = std::function<void(const std::string& line)>;
    explicit RequestLog(Sink sink) : sink_(std::move(sink)) {}

    void Request(const LogFields& fields);
    // A line of its own (start, stop, repairs).
    void Write(const std::string& line) { sink_(line); }

private:
    Sink sink_;
};

// Writes whole lines to standard error, one write per line so threads never interleave.
RequestLog::Sink StandardErrorSink();

}  // namespace tidewell::webfolder
