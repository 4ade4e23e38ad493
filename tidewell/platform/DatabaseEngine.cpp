#include "platform/DatabaseEngine.h"

#include <span>

#include "platform/FileKit.h"
#include "platform/JetEngine.h"
#include "platform/SqliteEngine.h"

namespace tidewell {
namespace {

const SqliteEngine& Sqlite() {
    static const SqliteEngine engine;
    return engine;
}

const JetEngine& Jet() {
    static const JetEngine engine;
    return engine;
}

}  // namespace

DatabaseFormat DatabaseFileFormat(const std::string& file) {
    // Read through the engine's file layer: the host product may have the database open in
    // this very process (tests do), and a descriptor of our own would drop its locks.
    const std::string start = ReadFileStart(file, kDatabaseHeaderSize);
    return DetectDatabaseFormat(std::span<const unsigned char>(
        reinterpret_cast<const unsigned char*>(start.data()), start.size()));
}

const DatabaseEngine& EngineFor(const std::string& file) {
    switch (DatabaseFileFormat(file)) {
        case DatabaseFormat::Jet4:
            return Jet();
        case DatabaseFormat::Sqlite:
        case DatabaseFormat::Jet3:
        case DatabaseFormat::Ace:
        case DatabaseFormat::JetUnknown:
        case DatabaseFormat::Empty:
        case DatabaseFormat::Other:
            break;
    }
    return Sqlite();
}

const std::vector<const DatabaseEngine*>& DatabaseEngines() {
    static const std::vector<const DatabaseEngine*> engines = {&Sqlite(), &Jet()};
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
