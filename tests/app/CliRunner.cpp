#include "CliRunner.h"

#include <sstream>

#include "DesktopSession.h"
#include "company/Common.h"
#include "company/LocalCompanyList.h"

namespace fs = std::filesystem;

namespace tidewell::test {

CliRunner::CliRunner(MainFixture& fixture, const std::string& homeName)
    : home(fixture.core.dir / homeName), config(home / "config"), bin(home / "bin") {
    for (const fs::path& folder : {config, bin, home / "data", home / "run"}) {
        fs::create_directories(folder);
    }
    fs::permissions(home / "run", fs::perms::owner_all);
    environment = {
        {"HOME", home.string()},
        {"XDG_CONFIG_HOME", config.string()},
        {"XDG_DATA_HOME", (home / "data").string()},
        {"XDG_RUNTIME_DIR", (home / "run").string()},
        {"TMPDIR", (fixture.core.dir / "tmp").string()},
        {"PATH", bin.string()},
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (home / "run" / "no-bus").string()},
        {"TIDEWELL_SERVICE_URL", fixture.service.BaseUrl()},
    };
}

CliOutcome CliRunner::Run(const std::vector<std::string>& arguments,
                          const std::string& input) const {
    std::vector<std::string> command = {TIDEWELL_CLI_PROGRAM};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<std::string> variables;
    for (const auto& [name, value] : environment) variables.push_back(name + "=" + value);
    ChildProcess run(command, variables, input, home / "cli.out", home / "cli.err");
    CliOutcome outcome;
    outcome.status = run.Wait();
    outcome.out = ReadFile(home / "cli.out");
    outcome.err = ReadFile(home / "cli.err");
    return outcome;
}

std::vector<std::string> CliRunner::ListRow(const std::string& key) const {
    std::istringstream lines(Run({"list"}).out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with(key + "\t")) continue;
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');) fields.push_back(field);
        return fields;
    }
    return {};
}

void CliRunner::Register(int slot, const fs::path& folder, const std::string& name) {
    SettingsHive hive(config / "QuenlowBarcode" / "registry.db");
    auto key = *hive.OpenKey(kProgramKey, true);
    key.WriteString(CompanySlotValue(slot, "Key"), ReadCompanyKey(folder.string()));
    key.WriteString(CompanySlotValue(slot, "Name"), name);
    key.WriteString(CompanySlotValue(slot, "Path"), folder.string());
}

}  // namespace tidewell::test
