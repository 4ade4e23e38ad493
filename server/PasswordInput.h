#pragma once

#include <istream>
#include <string>

namespace tidewell::webfolder {

// The environment variable `adduser` takes the password from.
inline constexpr char kPasswordVariable[] = "TIDEWELL_WEBFOLDER_PASSWORD";

// The password for `adduser`, never from the command line, where every user of the machine
// sees it in the process list: the environment variable when it is set, else the first line
// of the input (asked for without echo when the input is a terminal). The line's end is
// dropped; raises Exception when there is no password.
std::string ReadPassword(std::istream& input, int inputDescriptor);

}  // namespace tidewell::webfolder
