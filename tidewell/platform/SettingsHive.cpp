#include "platform/SettingsHive.h"

#include <sys/stat.h>

#include <cstdlib>
#include <utility>

#include "platform/Sqlite.h"

namespace tidewell {
namespace {

constexpr int kText = 1;
constexpr int kInteger = 2;

// "\Software\\QuenlowBarcode/" -> "Software\QuenlowBarcode"
std::string NormalizeKeyPath(std::string_view path) {
    std::string out;
    std::string part;
    auto flush = [&] {
        if (part.empty()) return;
        if (!out.empty()) out += '\\';
        out += part;
        part.clear();
    };
    for (char c : path) {
        if (c == '\\' || c == '/') {
            flush();
        } else {
            part += c;
        }
    }
    flush();
    return out;
}

std::filesystem::path HomeConfigFolder() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') return xdg;
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : "/tmp") / ".config";
}

std::shared_ptr<SettingsHive>& InstalledHive() {
    static std::shared_ptr<SettingsHive> hive;
    return hive;
}

}  // namespace

SettingsBatch::SettingsBatch(SettingsHive& hive) : hive_(&hive), depth_(hive.batches_) {
    // The outermost takes the write lock at once, so that two programs writing the settings
    // wait for each other instead of failing halfway.
    hive_->db_->Execute(depth_ == 0 ? std::string("BEGIN IMMEDIATE")
                                    : "SAVEPOINT batch" + std::to_string(depth_));
    ++hive_->batches_;
}

SettingsBatch::SettingsBatch(SettingsBatch&& other) noexcept
    : hive_(other.hive_), depth_(other.depth_), open_(std::exchange(other.open_, false)) {}

SettingsBatch::~SettingsBatch() {
    if (!open_) return;
    --hive_->batches_;
    try {
        if (depth_ == 0) {
            hive_->db_->Execute("ROLLBACK");
        } else {
            const std::string name = "batch" + std::to_string(depth_);
            hive_->db_->Execute("ROLLBACK TO " + name + "; RELEASE " + name);
        }
    } catch (...) {
        // Nothing to do: the engine rolls back on its own when the transaction was lost.
    }
}

void SettingsBatch::Commit() {
    if (!open_) return;
    hive_->db_->Execute(depth_ == 0 ? std::string("COMMIT")
                                    : "RELEASE batch" + std::to_string(depth_));
    open_ = false;
    --hive_->batches_;
}

SettingsHive::SettingsHive(const std::filesystem::path& file)
    : file_(file), db_([&] {
          if (file.has_parent_path()) {
              std::error_code ignored;
              std::filesystem::create_directories(file.parent_path(), ignored);
          }
          return std::make_unique<SqliteDatabase>(
              file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX);
      }()) {
    ::chmod(file.c_str(), 0600);
    sqlite3_busy_timeout(db_->get(), 5000);
    db_->Execute(
        "PRAGMA foreign_keys = ON;"
        "PRAGMA synchronous = FULL;"
        "CREATE TABLE IF NOT EXISTS keys ("
        "  id INTEGER PRIMARY KEY,"
        "  path TEXT NOT NULL UNIQUE COLLATE NOCASE);"
        "CREATE TABLE IF NOT EXISTS vals ("
        "  key_id INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,"
        "  name TEXT NOT NULL COLLATE NOCASE,"
        "  kind INTEGER NOT NULL,"
        "  text_value TEXT,"
        "  int_value INTEGER,"
        "  PRIMARY KEY (key_id, name));");
}

SettingsHive::~SettingsHive() = default;

std::filesystem::path SettingsHive::DefaultPath() {
    return HomeConfigFolder() / "QuenlowBarcode" / "registry.db";
}

std::optional<std::int64_t> SettingsHive::FindKey(const std::string& normalizedPath) {
    auto query = db_->Prepare("SELECT id FROM keys WHERE path = ?");
    query.Bind(1, normalizedPath);
    if (!query.Step()) return std::nullopt;
    return query.ColumnInt(0);
}

bool SettingsHive::KeyExists(std::string_view keyPath) {
    return FindKey(NormalizeKeyPath(keyPath)).has_value();
}

std::optional<RegistryKey> SettingsHive::OpenKey(std::string_view keyPath, bool canCreate) {
    const std::string path = NormalizeKeyPath(keyPath);
    if (auto id = FindKey(path)) return RegistryKey(*this, *id);
    if (!canCreate) return std::nullopt;
    // A key's parents exist whenever the key does, as in any registry.
    SettingsBatch batch = Batch();
    auto insert = db_->Prepare("INSERT OR IGNORE INTO keys(path) VALUES (?)");
    for (std::size_t pos = path.find('\\'); pos != std::string::npos;
         pos = path.find('\\', pos + 1)) {
        insert.Bind(1, path.substr(0, pos)).Run();
        insert.Reset();
    }
    insert.Bind(1, path).Run();
    batch.Commit();
    return RegistryKey(*this, *FindKey(path));
}

bool RegistryKey::ValueExists(std::string_view name) const {
    auto query = hive_->db_->Prepare("SELECT 1 FROM vals WHERE key_id = ? AND name = ?");
    query.Bind(1, id_).Bind(2, name);
    return query.Step();
}

std::string RegistryKey::ReadString(std::string_view name) const {
    auto query =
        hive_->db_->Prepare("SELECT kind, text_value FROM vals WHERE key_id = ? AND name = ?");
    query.Bind(1, id_).Bind(2, name);
    if (!query.Step()) return {};
    if (query.ColumnInt(0) != kText) {
        throw Exception("Invalid data type for '" + std::string(name) + "'");
    }
    return query.ColumnText(1);
}

std::optional<std::int32_t> RegistryKey::ReadInteger(std::string_view name) const {
    auto query =
        hive_->db_->Prepare("SELECT kind, int_value FROM vals WHERE key_id = ? AND name = ?");
    query.Bind(1, id_).Bind(2, name);
    if (!query.Step()) return std::nullopt;
    if (query.ColumnInt(0) != kInteger) {
        throw Exception("Invalid data type for '" + std::string(name) + "'");
    }
    return static_cast<std::int32_t>(query.ColumnInt(1));
}

void RegistryKey::WriteString(std::string_view name, std::string_view value) {
    // The stored name keeps the letter case of the first write, as the registry does.
    auto statement = hive_->db_->Prepare(
        "INSERT INTO vals(key_id, name, kind, text_value, int_value) VALUES (?, ?, 1, ?, NULL) "
        "ON CONFLICT(key_id, name) DO UPDATE SET kind = 1, text_value = excluded.text_value, "
        "int_value = NULL");
    statement.Bind(1, id_).Bind(2, name).Bind(3, value).Run();
}

void RegistryKey::WriteInteger(std::string_view name, std::int32_t value) {
    auto statement = hive_->db_->Prepare(
        "INSERT INTO vals(key_id, name, kind, text_value, int_value) VALUES (?, ?, 2, NULL, ?) "
        "ON CONFLICT(key_id, name) DO UPDATE SET kind = 2, text_value = NULL, "
        "int_value = excluded.int_value");
    statement.Bind(1, id_).Bind(2, name).Bind(3, static_cast<std::int64_t>(value)).Run();
}

bool RegistryKey::DeleteValue(std::string_view name) {
    auto statement = hive_->db_->Prepare("DELETE FROM vals WHERE key_id = ? AND name = ?");
    statement.Bind(1, id_).Bind(2, name).Run();
    return sqlite3_changes(hive_->db_->get()) > 0;
}

std::vector<std::string> RegistryKey::ValueNames() const {
    auto query = hive_->db_->Prepare("SELECT name FROM vals WHERE key_id = ? ORDER BY rowid");
    query.Bind(1, id_);
    std::vector<std::string> names;
    while (query.Step()) names.push_back(query.ColumnText(0));
    return names;
}

SettingsHive& CurrentUserHive() {
    auto& hive = InstalledHive();
    if (!hive) hive = std::make_shared<SettingsHive>(SettingsHive::DefaultPath());
    return *hive;
}

std::shared_ptr<SettingsHive> InstallCurrentUserHive(std::shared_ptr<SettingsHive> hive) {
    return std::exchange(InstalledHive(), std::move(hive));
}

ScopedCurrentUserHive::ScopedCurrentUserHive(const std::filesystem::path& file)
    : hive_(std::make_shared<SettingsHive>(file)), previous_(InstallCurrentUserHive(hive_)) {}

ScopedCurrentUserHive::~ScopedCurrentUserHive() {
    InstallCurrentUserHive(previous_);
}

}  // namespace tidewell
