// File bytes in, the Jet check out: whatever the bytes, the check ends in a refusal or a pass
// within its limits, and nothing of libmdb's fate reaches this process. libmdb itself is not
// instrumented (a Debian library), so the coverage that guides the search is this program's; the
// seeds (script/fuzz-jet) are sound Jet 4 files whose mutations reach deep into libmdb anyway.
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "WorkFolderOfRun.h"
#include "platform/JetDatabase.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

fs::path DatabaseFile() {
    static const tidewell::fuzz::WorkFolderOfRun folder("tidewell-jet-fuzz");
    return folder.path() / "default.mdb";
}

// Tight, so that a spinning reader costs the run a second, not a minute.
const tidewell::JetReaderLimits kLimits{4000ms, 1, 256};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path file = DatabaseFile();
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out) std::abort();
    }
    const auto started = std::chrono::steady_clock::now();
    try {
        tidewell::CheckJetDatabase(file, {}, kLimits);
    } catch (const tidewell::JetDatabaseError& error) {
        // A refusal; a reader that can't be run is a broken setup, not a finding.
        if (error.problem() == tidewell::JetProblem::ReaderMissing) std::abort();
    }
    // The deadline holds whatever the reader does (one poll slice of slack).
    if (std::chrono::steady_clock::now() - started > kLimits.timeout + 500ms) std::abort();
    return 0;
}
