#pragma once
// What every benchmark prints beside its own figures: the machine's load, this process's CPU
// time and its peak memory.
#include <sys/resource.h>

#include <fstream>
#include <string>

namespace tidewell::bench {

// The load averages of the last 1, 5 and 15 minutes, as the system writes them.
inline std::string LoadAverage() {
    std::ifstream load("/proc/loadavg");
    std::string one, five, fifteen;
    load >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// User and system time of every thread of this process.
inline double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// This process's peak resident memory so far.
inline double PeakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

}  // namespace tidewell::bench
