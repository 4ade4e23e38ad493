#pragma once

#include <stdexcept>
#include <string>

namespace tidewell {

// The one error type of the program: every failure that leaves a routine carries its text here.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// A failed invariant check. The text names the unit and line the check belongs to,
// as "message (unit, line N)", which is what users and logs have always seen.
class AssertionFailed : public Exception {
public:
    AssertionFailed(const std::string& message, const std::string& unit, int line);
};

// Raises AssertionFailed when condition is false.
void Assert(bool condition, const std::string& message, const std::string& unit, int line);

}  // namespace tidewell
