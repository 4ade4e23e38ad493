#pragma once

#include <ostream>

#include "CommandLine.h"

namespace tidewell::webfolder {

// Serves until SIGTERM or SIGINT, then finishes the requests under way and returns 0.
// The port goes to `out` on a line of its own before the first request is taken.
int RunServe(const ServeOptions& options, std::ostream& out);

// Creates or updates the account and says which it did.
int RunAddUser(const AddUserOptions& options, std::ostream& out);

}  // namespace tidewell::webfolder
