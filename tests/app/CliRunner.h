#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "MainTestSupport.h"

namespace tidewell::test {

struct CliOutcome {
    int status = -1;
    std::string out;
    std::string err;
};

// tidewell-cli as a user's desktop would run it, in a home of the test's own: its settings,
// data and runtime folders there, the loopback service, no session bus (DBUS_SESSION_BUS_ADDRESS
// names a socket that is not there) and a PATH with nothing on it but what a test puts in
// bin/ (so no real systemctl is ever reached). Nothing of the test's own environment goes in.
class CliRunner {
public:
    // homeName: a home of its own under the fixture's folder, for a second computer.
    explicit CliRunner(MainFixture& fixture, const std::string& homeName = "home");

    // input goes to standard input: passwords never appear on a command line.
    CliOutcome Run(const std::vector<std::string>& arguments, const std::string& input = "") const;
    // The tab-separated fields of `list`'s line for key; empty when there is none.
    std::vector<std::string> ListRow(const std::string& key) const;
    // Registers a company folder in the settings that the runs use.
    void Register(int slot, const std::filesystem::path& folder, const std::string& name);

    std::filesystem::path home;
    std::filesystem::path config;  // XDG_CONFIG_HOME
    std::filesystem::path bin;     // PATH
    std::map<std::string, std::string> environment;
};

}  // namespace tidewell::test
