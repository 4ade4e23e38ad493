#pragma once

#include <string>

#include "platform/DatabaseEngine.h"

namespace tidewell {

// Company databases that are Jet 4 files, made by the host product on its home platform: read
// through tidewell-jet-reader (JetDatabase.h) and never written here, so no statement, no key and
// no compaction. Their bytes are copied only while no other program writes them and replaced by
// rename only while no other program has them open (JetLockFile.h): what moves is the file
// itself, byte for byte.
class JetEngine : public DatabaseEngine {
public:
    std::string Name() const override { return "Jet 4"; }
    // Reads the company's statements of one column of one table ("select dbkey from [ver]"),
    // first row only; every other statement is refused.
    std::unique_ptr<EngineConnection> Open(const std::string& file, CompanyShareMode mode,
                                           std::chrono::milliseconds busyTimeout) const override;
    // A byte copy taken while no other program writes, checked to read before it is used.
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
    std::string PendingChangesFile(const std::string&) const override { return {}; }
    std::string WriteRefusal() const override;
};

// The one kind of statement a Jet 4 database answers here: "select COLUMN from TABLE", the
// names bracketed, quoted or bare, letters in any case. False for anything else.
bool ParseSingleColumnSelect(const std::string& sql, std::string& table, std::string& column);

}  // namespace tidewell
