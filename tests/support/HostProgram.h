#pragma once

#include <sys/types.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace tidewell::test {

// The host product writing its company database, as a process of its own (tidewell-test-host):
// its locks are a real other program's, and so is its handle on the database.
class HostProgram {
public:
    // A till committing one sale every intervalMs into database, in journal mode "wal" or
    // "delete"; each commit's token goes to log once it has returned. Returns once it committed.
    static HostProgram Till(const std::filesystem::path& database, const std::string& mode,
                            int intervalMs, const std::filesystem::path& log);
    // A long write under the engine's exclusive lock: source's bytes over database, in two
    // halves pauseMs apart. Returns once the lock is held.
    static HostProgram Write(const std::filesystem::path& database,
                             const std::filesystem::path& source, int pauseMs);

    // A Jet writer with database open (ldb, mdb or open: see HostWriter.cpp). Returns once it
    // holds what it takes.
    static HostProgram JetUser(const std::filesystem::path& database, const std::string& how);

    HostProgram(HostProgram&& other) noexcept;
    HostProgram& operator=(HostProgram&&) = delete;
    HostProgram(const HostProgram&) = delete;
    HostProgram& operator=(const HostProgram&) = delete;
    ~HostProgram();  // kills it when it still runs

    // Asks it to stop (SIGTERM) and waits; Wait only waits. The exit status, or 128 + the
    // signal that ended it.
    int Stop();
    int Wait();

private:
    explicit HostProgram(const std::vector<std::string>& arguments, bool awaitLine);
    pid_t pid_ = -1;
};

// The tokens a till wrote to its log.
std::vector<std::string> TillTokens(const std::filesystem::path& log);
// The tokens the sale table of a database holds; none when it has no such table.
std::set<std::string> SaleTokens(const std::filesystem::path& database);

}  // namespace tidewell::test
