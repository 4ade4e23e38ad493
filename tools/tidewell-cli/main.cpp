#include <cstdlib>
#include <iostream>

#include "Cli.h"

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

int main(int argc, char** argv) {
    // The one place that reads what the environment configures; everything else is given it.
    tidewell::cli::CliEnvironment environment;
    environment.Program = {Environment("TIDEWELL_SERVICE_URL"), Environment("TIDEWELL_CA_FILE"),
                           Environment("TMPDIR"), Environment("XDG_RUNTIME_DIR"),
                           Environment("HOME")};
    environment.UserID = Environment("TIDEWELL_USERID");
    if (const char* password = std::getenv("TIDEWELL_PASSWORD")) environment.Password = password;
    environment.ConfigHome = Environment("XDG_CONFIG_HOME");
    return tidewell::cli::Run(std::vector<std::string>(argv + 1, argv + argc), environment,
                              std::cout, std::cerr);
}
