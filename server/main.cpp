#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"

using namespace tidewell::webfolder;

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        const Command command = ParseCommandLine(arguments);
        if (const auto* serve = std::get_if<ServeOptions>(&command))
            return RunServe(*serve, std::cout);
        if (const auto* adduser = std::get_if<AddUserOptions>(&command)) {
            return RunAddUser(*adduser, std::cout);
        }
        std::cout << UsageText();
        return 0;
    } catch (const UsageError& error) {
        std::cerr << "tidewell-webfolder: " << error.what() << "\n" << UsageText();
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "tidewell-webfolder: " << error.what() << std::endl;
        return 1;
    }
}
