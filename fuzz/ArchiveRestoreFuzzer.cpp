// Archive bytes in, restore into a private folder: no crash, no leak, no write outside it.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "archive/backup.h"

namespace fs = std::filesystem;

namespace {

// Memory-backed when the machine has it: the disk would set the pace otherwise.
fs::path WorkFolder() {
    static const fs::path folder = [] {
        std::string pattern = (fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp") + std::string("/tidewell-fuzz-XXXXXX");
        if (!::mkdtemp(pattern.data())) std::abort();
        return fs::path(pattern);
    }();
    return folder;
}

void Restore(tidewell::TBackupFile& backup, const std::string& archiveName, const fs::path& dest) {
    try {
        backup.Restore(archiveName, dest.string());
    } catch (const tidewell::Exception&) {
        // A damaged archive may end in an exception; anything else is a finding.
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path root = WorkFolder();
    const fs::path archive = root / "in.bck";
    const fs::path dest = root / "dest";
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::ofstream(archive, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(size));

    tidewell::TBackupFile backup;
    backup.OnError = [](tidewell::TBackupFile*, int, const std::string&) {};
    backup.OnNeedDisk = [](tidewell::TBackupFile*, std::uint16_t, bool& go) { go = false; };
    backup.RestoreFullPath = (size & 1) != 0;
    backup.RestoreMode = static_cast<tidewell::TRestoreMode>(size % 5);
    Restore(backup, archive.string(), dest);

    std::istringstream in(bytes);
    backup.InStream = &in;
    backup.RestoreFullPath = !backup.RestoreFullPath;
    Restore(backup, ":STREAM", dest);

    for (const auto& entry : fs::directory_iterator(root)) {
        if (entry.path() != archive && entry.path() != dest) {
            std::fprintf(stderr, "written outside the destination: %s\n", entry.path().c_str());
            std::abort();
        }
    }
    fs::remove_all(dest);
    return 0;
}
