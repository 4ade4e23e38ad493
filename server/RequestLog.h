#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

namespace tidewell::webfolder {

// What a handler tells the log about its request. Never the password.
struct RequestNote {
    std::string account;
    std::string detail;  // the command, the archive, the reply's STATUS
};

// What the log line of one request holds.
struct LogFields {
    std::string remote;
    std::string method;
    std::string path;
    RequestNote note;
    int status = 0;
    std::uint64_t bytes = 0;
    std::int64_t milliseconds = -1;  // -1: the request never reached routing
};

// One line: time, client, method, path, account, HTTP status, body bytes, milliseconds.
std::string FormatLogLine(const LogFields& fields, std::chrono::system_clock::time_point when);

// Collects what the handlers note about a request while it runs, keyed by the request's
// address, and writes its line when the reply has gone out.
class RequestLog {
public:
    using Sink = std::function<void(const std::string& line)>;
    explicit RequestLog(Sink sink);

    void Begin(const void* request);
    void Note(const void* request, RequestNote note);
    // Fills the note and the time taken, forgets the request and writes the line.
    void End(const void* request, LogFields fields);
    // A line of its own (start, stop, repairs).
    void Write(const std::string& line);

private:
    struct Pending {
        std::chrono::steady_clock::time_point start;
        RequestNote note;
    };
    Sink sink_;
    std::mutex mutex_;
    std::unordered_map<const void*, Pending> pending_;
};

// Writes whole lines to standard error, one write per line so threads never interleave.
RequestLog::Sink StandardErrorSink();

}  // namespace tidewell::webfolder
