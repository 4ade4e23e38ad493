#include <sys/stat.h>

#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"

using namespace tidewell::webfolder;

int main(int argc, char** argv) {
    // Everything the program creates is its user's alone: the database holds password hashes.
    ::umask(077);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        const Command command = ParseCommandLine(arguments);
        if (const auto* serve = std::get_if<ServeOptions>(&command))
            return RunServe(*serve, std::cout);
        if (const auto* adduser = std::get_if<AddUserOptions>(&command)) {
            return RunAddUser(*adduser, std::cin, std::cout);
        }
        if (const auto* prune = std::get_if<PruneOptions>(&command))
            return RunPrune(*prune, std::cout);
        if (const auto* fsck = std::get_if<FsckOptions>(&command)) return RunFsck(*fsck, std::cout);
        if (const auto* restore = std::get_if<RestoreBackupOptions>(&command)) {
            return RunRestoreBackup(*restore, std::cout);
        }
        if (const auto* migrate = std::get_if<MigrateOptions>(&command)) {
            return RunMigrate(*migrate, std::cout);
        }
        if (const auto* backup = std::get_if<BackupOptions>(&command)) {
            return RunBackup(*backup, std::cout);
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
