#pragma once

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
    std::vector<std::string> CompanionSuffixes() const override;
    std::string PendingChangesSuffix() const override { return "-wal"; }
};

}  // namespace tidewell
