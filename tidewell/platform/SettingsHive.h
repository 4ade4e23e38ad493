#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tidewell {

class RegistryKey;
class SettingsHive;
class SqliteDatabase;

// Writes that land together or not at all; rolled back unless committed. Batches nest: an inner
// one commits into the outer one, which alone reaches the file.
class SettingsBatch {
public:
    SettingsBatch(SettingsBatch&& other) noexcept;
    SettingsBatch& operator=(SettingsBatch&&) = delete;
    SettingsBatch(const SettingsBatch&) = delete;
    SettingsBatch& operator=(const SettingsBatch&) = delete;
    ~SettingsBatch();
    void Commit();

private:
    friend class SettingsHive;
    explicit SettingsBatch(SettingsHive& hive);

    SettingsHive* hive_;
    int depth_;  // 0 for the outermost
    bool open_ = true;
};

// The current user's settings: keys named by backslash paths ("Software\QuenlowBarcode\Tidewell")
// holding text and 32-bit integer values. Key and value names compare without regard to ASCII
// letter case. Every write is one SQLite transaction, so a process killed halfway leaves the
// previous state; Batch() groups several writes into one.
class SettingsHive {
public:
    explicit SettingsHive(const std::filesystem::path& file);
    ~SettingsHive();
    SettingsHive(const SettingsHive&) = delete;
    SettingsHive& operator=(const SettingsHive&) = delete;

    // $XDG_CONFIG_HOME/QuenlowBarcode/registry.db, or ~/.config/... when the variable is unset.
    static std::filesystem::path DefaultPath();

    // Nullopt when the key does not exist and canCreate is false.
    std::optional<RegistryKey> OpenKey(std::string_view keyPath, bool canCreate);
    bool KeyExists(std::string_view keyPath);

    // Writes made while the returned object lives land together or not at all.
    SettingsBatch Batch() { return SettingsBatch(*this); }

    const std::filesystem::path& file() const { return file_; }

private:
    friend class RegistryKey;
    friend class SettingsBatch;
    std::optional<std::int64_t> FindKey(const std::string& normalizedPath);

    std::filesystem::path file_;
    std::unique_ptr<SqliteDatabase> db_;
    int batches_ = 0;  // batches open now
};

// One open key. Cheap to copy; the hive must outlive it.
class RegistryKey {
public:
    bool ValueExists(std::string_view name) const;
    // Empty text when the value is absent; raises when it holds an integer.
    std::string ReadString(std::string_view name) const;
    // Nullopt when the value is absent; raises when it holds text.
    std::optional<std::int32_t> ReadInteger(std::string_view name) const;
    void WriteString(std::string_view name, std::string_view value);
    void WriteInteger(std::string_view name, std::int32_t value);
    // False when there was no such value.
    bool DeleteValue(std::string_view name);
    std::vector<std::string> ValueNames() const;

private:
    friend class SettingsHive;
    RegistryKey(SettingsHive& hive, std::int64_t id) : hive_(&hive), id_(id) {}

    SettingsHive* hive_;
    std::int64_t id_;
};

// The hive every part of the program uses: the one installed at start-up, or the default file.
SettingsHive& CurrentUserHive();
// Installs a hive (tests, or a front end with its own path); returns the one it replaces.
std::shared_ptr<SettingsHive> InstallCurrentUserHive(std::shared_ptr<SettingsHive> hive);

// Installs a hive for the lifetime of the object and puts the previous one back afterwards.
class ScopedCurrentUserHive {
public:
    explicit ScopedCurrentUserHive(const std::filesystem::path& file);
    ScopedCurrentUserHive(const ScopedCurrentUserHive&) = delete;
    ScopedCurrentUserHive& operator=(const ScopedCurrentUserHive&) = delete;
    ~ScopedCurrentUserHive();
    SettingsHive& hive() { return *hive_; }

private:
    std::shared_ptr<SettingsHive> hive_;
    std::shared_ptr<SettingsHive> previous_;
};

}  // namespace tidewell
