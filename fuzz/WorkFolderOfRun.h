#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace tidewell::fuzz {

// A fuzz run's private folder, memory-backed when the machine has it (the disk would set the
// pace otherwise). Removed when the run ends.
class WorkFolderOfRun {
public:
    explicit WorkFolderOfRun(const std::string& prefix) {
        std::string pattern = (std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp") +
                              ("/" + prefix + "-XXXXXX");
        if (!::mkdtemp(pattern.data())) std::abort();
        path_ = pattern;
    }
    WorkFolderOfRun(const WorkFolderOfRun&) = delete;
    WorkFolderOfRun& operator=(const WorkFolderOfRun&) = delete;
    ~WorkFolderOfRun() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace tidewell::fuzz
