// Archive bytes in, restore into a private folder: no crash, no leak, no write outside it, and
// the same outcome with one thread as with several.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include "WorkFolderOfRun.h"
#include "archive/backup.h"

namespace fs = std::filesystem;

namespace {

fs::path WorkFolder() {
    static const tidewell::fuzz::WorkFolderOfRun folder("tidewell-fuzz");
    return folder.path();
}

// What a restore shows and leaves: its result, its error, and every file with its bytes.
std::string Outcome(tidewell::TBackupFile& backup, const std::string& archiveName,
                    const fs::path& dest) {
    std::string outcome;
    try {
        outcome = backup.Restore(archiveName, dest.string()) ? "true" : "false";
    } catch (const tidewell::Exception& e) {
        // A damaged archive may end in an exception; anything else is a finding.
        outcome = std::string("exception ") + e.what();
    }
    outcome += " code " + std::to_string(backup.ErrorCode()) + " " + backup.ErrorDetail() + "\n";
    if (fs::exists(dest)) {
        for (const auto& entry : fs::recursive_directory_iterator(dest)) {
            outcome += entry.path().string() + "\n";
            if (entry.is_regular_file()) {
                std::ifstream in(entry.path(), std::ios::binary);
                outcome += std::string(std::istreambuf_iterator<char>(in), {}) + "\n";
            }
        }
    }
    fs::remove_all(dest);
    return outcome;
}

void CheckNothingOutside(const fs::path& root, const fs::path& archive, const fs::path& dest) {
    for (const auto& entry : fs::directory_iterator(root)) {
        if (entry.path() != archive && entry.path() != dest) {
            std::fprintf(stderr, "written outside the destination: %s\n", entry.path().c_str());
            std::abort();
        }
    }
}

void RequireSame(const std::string& oneThread, const std::string& threads) {
    if (oneThread == threads) return;
    std::fprintf(stderr, "one thread:\n%s\nseveral threads:\n%s\n", oneThread.c_str(),
                 threads.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path root = WorkFolder();
    const fs::path archive = root / "in.bck";
    const fs::path dest = root / "dest";
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::ofstream(archive, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(size));

    tidewell::TBackupFile backup;
    backup.OnError = [](tidewell::TBackupFile*, int, const std::string&) {};
    backup.OnNeedDisk = [](tidewell::TBackupFile*, std::uint16_t, bool& go) { go = false; };
    backup.RestoreFullPath = (size & 1) != 0;
    backup.RestoreMode = static_cast<tidewell::TRestoreMode>(size % 5);
    backup.WorkerThreads = 1;
    const std::string oneThread = Outcome(backup, archive.string(), dest);
    CheckNothingOutside(root, archive, dest);
    backup.WorkerThreads = 3;
    RequireSame(oneThread, Outcome(backup, archive.string(), dest));
    CheckNothingOutside(root, archive, dest);

    backup.RestoreFullPath = !backup.RestoreFullPath;
    std::istringstream in(bytes);
    backup.InStream = &in;
    backup.WorkerThreads = 1;
    const std::string fromStream = Outcome(backup, ":STREAM", dest);
    CheckNothingOutside(root, archive, dest);
    std::istringstream again(bytes);
    backup.InStream = &again;
    backup.WorkerThreads = 3;
    RequireSame(fromStream, Outcome(backup, ":STREAM", dest));
    CheckNothingOutside(root, archive, dest);
    return 0;
}
