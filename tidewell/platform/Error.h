#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace tidewell {

// The one error type of the program: every failure that leaves a routine carries its text here.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// A failure the system reported, with its error number (errno), for callers whose answer depends
// on it: a full disk is told apart from a broken one.
class SystemError : public Exception {
public:
    SystemError(const std::string& message, int code) : Exception(message), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};

// A failed invariant check. The text names the unit and line the check belongs to,
// as "message (unit, line N)", which is what users and logs have always seen.
class AssertionFailed : public Exception {
public:
    AssertionFailed(const std::string& message, const std::string& unit, int line);
};

// The user stopped the operation under way (the cancel button, an interrupt signal). Not a
// failure: whoever raises it has left company data as it was.
class OperationStopped : public Exception {
public:
    OperationStopped() : Exception("작업을 취소했습니다.") {}
};

// Whether the user wants the operation under way to stop; an empty query never does.
using StopQuery = std::function<bool()>;
inline bool StopWanted(const StopQuery& query) {
    return query && query();
}

// Raises AssertionFailed when condition is false.
void Assert(bool condition, const std::string& message, const std::string& unit, int line);

}  // namespace tidewell
