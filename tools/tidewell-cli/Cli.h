#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tidewell::cli {

enum ExitCode { kDone = 0, kFailed = 1, kUsage = 2, kLoginRefused = 3 };

// Runs one command line of tidewell-cli (arguments without the program name) and returns the
// exit status. Output goes to out, messages, progress and errors to err.
int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace tidewell::cli
