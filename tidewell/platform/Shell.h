#pragma once

#include <string>

namespace tidewell {

// What the core asks of the desktop shell; the window implements it.
class Shell {
public:
    virtual ~Shell() = default;
    // Opens a URL with the user's default handler; false when nothing could open it (no
    // browser), so that the user can be told.
    virtual bool OpenUrl(const std::string& url) = 0;
    // Starts a program with one parameter text (passed as one argument) in a working folder,
    // without waiting; false when it could not be started.
    virtual bool StartProgram(const std::string& program, const std::string& parameters,
                              const std::string& workingFolder) = 0;
};

}  // namespace tidewell
