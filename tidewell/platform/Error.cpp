#include "platform/Error.h"

namespace tidewell {

AssertionFailed::AssertionFailed(const std::string& message, const std::string& unit, int line)
    : Exception(message + " (" + unit + ", line " + std::to_string(line) + ")") {}

void Assert(bool condition, const std::string& message, const std::string& unit, int line) {
    if (!condition) throw AssertionFailed(message, unit, line);
}

}  // namespace tidewell
