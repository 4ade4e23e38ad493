#include "platform/DatabaseEngine.h"

#include <array>
#include <cstring>
#include <fstream>

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
    std::ifstream in(file, std::ios::binary);
    if (!in) return DatabaseFormat::Absent;
    std::array<char, sizeof kSqliteHeader> header{};
    in.read(header.data(), header.size());
    if (in.gcount() == 0) return DatabaseFormat::Absent;
    if (in.gcount() == static_cast<std::streamsize>(header.size()) &&
        std::memcmp(header.data(), kSqliteHeader, sizeof kSqliteHeader) == 0) {
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
