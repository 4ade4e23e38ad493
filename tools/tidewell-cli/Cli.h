#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "usecase/Configuration.h"

namespace tidewell::cli {

enum ExitCode { kDone = 0, kFailed = 1, kUsage = 2, kLoginRefused = 3 };

// What the program's main read of its environment.
struct CliEnvironment {
    TProgramEnvironment Program;          // the service, its CA file, the folders of the work
    std::string UserID;                   // TIDEWELL_USERID
    std::optional<std::string> Password;  // TIDEWELL_PASSWORD, when set (even empty)
    std::string ConfigHome;               // XDG_CONFIG_HOME, handed on to the schedule
};

// Runs one command line of tidewell-cli (arguments without the program name) and returns the
// exit status. Output goes to out, messages, progress and errors to err.
int Run(const std::vector<std::string>& arguments, const CliEnvironment& environment,
        std::ostream& out, std::ostream& err);

}  // namespace tidewell::cli
