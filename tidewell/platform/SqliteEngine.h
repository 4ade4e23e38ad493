#pragma once

#include <cstddef>
#include <string>

#include "platform/DatabaseEngine.h"

namespace tidewell {

// Company databases that are SQLite files: this build's own engine, the one new databases are
// made with. The host product may hold the file open and write to it in either journal mode.
class SqliteEngine : public DatabaseEngine {
public:
    std::string Name() const override { return "SQLite"; }
    std::unique_ptr<EngineConnection> Open(const std::string& file, CompanyShareMode mode,
                                           std::chrono::milliseconds busyTimeout) const override;
    void Snapshot(const std::string& source, const std::string& dest,
                  const StopQuery& stop) const override;
    std::optional<std::string> ReadFileText(const std::string& file,
                                            const std::string& sql) const override;
    void Check(const std::string& file, const StopQuery& stop) const override;
    void Replace(const std::string& staged, const std::string& target, const ReplaceSteps& steps,
                 const StopQuery& stop) const override;
    void CopyFile(const std::string& source, const std::string& dest) const override;
    bool InUse(const std::string& file) const override;
    std::vector<std::string> CompanionFiles(const std::string& file) const override;
    std::string PendingChangesFile(const std::string& file) const override { return file + "-wal"; }
};

// The first count bytes of a file (fewer when it is shorter; empty when it can't be read),
// read through the engine's own file layer: unlike a descriptor of our own, closing it never
// drops a lock that a connection of this process holds on the file.
std::string ReadFileStart(const std::string& file, std::size_t count);

}  // namespace tidewell
