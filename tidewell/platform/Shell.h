#pragma once

#include <string>

namespace tidewell {

// What the core asks of the desktop shell; the window implements it.
class Shell {
public:
    virtual ~Shell() = default;
    // Opens a URL with the user's default handler; the outcome is not reported.
    virtual void OpenUrl(const std::string& url) = 0;
    // Starts a program with one parameter text (passed as one argument) in a working folder,
    // without waiting; the outcome is not reported.
    virtual void StartProgram(const std::string& program, const std::string& parameters,
                              const std::string& workingFolder) = 0;
};

}  // namespace tidewell
