// tidewell-jet-reader: reads a Jet 4 file for Tidewell in a process of its own, so that a damaged
// or hostile file can cost this process at most its limits, never the program that asked.
//
//   tidewell-jet-reader CPU_SECONDS MEMORY_MB check FILE TABLE
//     exit 0 when the file opens, its catalogue reads and every row of TABLE decodes
//   tidewell-jet-reader CPU_SECONDS MEMORY_MB value FILE TABLE COLUMN
//     writes COLUMN of TABLE's first row to standard output (UTF-8) and exits 0
//   tidewell-jet-reader CPU_SECONDS MEMORY_MB columns FILE TABLE
//     writes the names of TABLE's columns to standard output, each followed by a line feed
//
// Any other exit code is a JetReadStatus; a signal means a limit was reached.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/jet/JetFileReader.h"

#if defined(__SANITIZE_ADDRESS__)
#define TIDEWELL_JET_READER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TIDEWELL_JET_READER_ASAN 1
#endif
#endif

#ifdef TIDEWELL_JET_READER_ASAN
// libmdb leaks on damaged files, which is harmless in a process that ends right after; the
// sanitizer's own memory cap stands in for the address-space limit it can't live under.
extern "C" const char* __asan_default_options();
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0:hard_rss_limit_mb=1024:allocator_may_return_null=1";
}
#endif

namespace {

using tidewell::jet::JetReadStatus;

constexpr int kUsage = 2;

void Limit(int resource, rlim_t soft, rlim_t hard) {
    const rlimit limit{soft, hard};
    ::setrlimit(resource, &limit);
}

// CPU time first (the kernel sends SIGXCPU at the soft limit, SIGKILL a second later), then the
// address space; a reader that breaks one leaves no core behind.
void LimitThisProcess(long cpuSeconds, long memoryMb) {
    Limit(RLIMIT_CPU, static_cast<rlim_t>(cpuSeconds), static_cast<rlim_t>(cpuSeconds) + 1);
#ifndef TIDEWELL_JET_READER_ASAN
    const rlim_t bytes = static_cast<rlim_t>(memoryMb) * 1024 * 1024;
    Limit(RLIMIT_AS, bytes, bytes);
#else
    (void)memoryMb;
#endif
    Limit(RLIMIT_CORE, 0, 0);
}

bool ParsePositive(const char* text, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value > 0;
}

}  // namespace

int main(int argc, char** argv) {
    long cpuSeconds = 0, memoryMb = 0;
    if (argc < 6 || !ParsePositive(argv[1], cpuSeconds) || !ParsePositive(argv[2], memoryMb)) {
        std::fprintf(stderr,
                     "usage: tidewell-jet-reader CPU_SECONDS MEMORY_MB check|value|columns ...\n");
        return kUsage;
    }
    // Nothing the caller left open is ours to keep.
    ::close_range(STDERR_FILENO + 1, ~0U, 0);
    LimitThisProcess(cpuSeconds, memoryMb);
    const std::string command = argv[3];
    if (command == "check" && argc == 6) {
        return static_cast<int>(tidewell::jet::CheckJetFile(argv[4], argv[5]));
    }
    if (command == "value" && argc == 7) {
        std::string value;
        const JetReadStatus status =
            tidewell::jet::ReadJetFirstValue(argv[4], argv[5], argv[6], value);
        if (status == JetReadStatus::Ok &&
            std::fwrite(value.data(), 1, value.size(), stdout) != value.size()) {
            return kUsage;
        }
        if (std::fflush(stdout) != 0) return kUsage;
        return static_cast<int>(status);
    }
    if (command == "columns" && argc == 6) {
        std::vector<std::string> names;
        const JetReadStatus status = tidewell::jet::ReadJetColumnNames(argv[4], argv[5], names);
        if (status == JetReadStatus::Ok) {
            for (const std::string& name : names) std::printf("%s\n", name.c_str());
        }
        if (std::fflush(stdout) != 0) return kUsage;
        return static_cast<int>(status);
    }
    std::fprintf(stderr, "tidewell-jet-reader: unknown command\n");
    return kUsage;
}
