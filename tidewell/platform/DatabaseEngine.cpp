#include "platform/DatabaseEngine.h"

#include <cstring>

#include "platform/FileKit.h"
#include "platform/SqliteEngine.h"

namespace tidewell {
namespace {

constexpr char kSqliteHeader[] = "SQLite format 3";  // followed by a NUL, 16 bytes in all

const SqliteEngine& Sqlite() {
    static const SqliteEngine engine;
    return engine;
}

}  // namespace

DatabaseFormat DetectDatabaseFormat(const std::string& file) {
    // Read through the engine's file layer: the host product may have the database open in
    // this very process (tests do), and a descriptor of our own would drop its locks.
    const std::string start = ReadFileStart(file, sizeof kSqliteHeader);
    if (start.empty()) return DatabaseFormat::Absent;
    if (start.size() == sizeof kSqliteHeader &&
        std::memcmp(start.data(), kSqliteHeader, sizeof kSqliteHeader) == 0) {
        return DatabaseFormat::Sqlite;
    }
    return DatabaseFormat::Unknown;
}

const DatabaseEngine& EngineFor(const std::string& file) {
    switch (DetectDatabaseFormat(file)) {
        case DatabaseFormat::Absent:
        case DatabaseFormat::Sqlite:
        case DatabaseFormat::Unknown:
            break;
    }
    return Sqlite();
}

const std::vector<const DatabaseEngine*>& DatabaseEngines() {
    static const std::vector<const DatabaseEngine*> engines = {&Sqlite()};
    return engines;
}

std::string UnquoteTableName(const std::string& name) {
    std::string text = TrimBlanks(name);
    if (text.size() >= 2) {
        const char open = text.front();
        const char close = text.back();
        if ((open == '[' && close == ']') || (open == '"' && close == '"') ||
            (open == '`' && close == '`')) {
            text = text.substr(1, text.size() - 2);
        }
    }
    return text;
}

}  // namespace tidewell
