#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tidewell {

// The small files beside the settings hive (what tidewell-cli login keeps, the record of a
// scheduled run) hold one KEY=value a line.
using KeyValues = std::vector<std::pair<std::string, std::string>>;

struct KeyValueFile {
    KeyValues values;
    mode_t mode = 0;  // permission bits
    uid_t owner = 0;
};

// $XDG_CONFIG_HOME/QuenlowBarcode (default ~/.config/...), where the settings hive lives.
std::filesystem::path ProgramConfigFolder();

// Nullopt when the file does not exist; raises Exception when it can't be read.
std::optional<KeyValueFile> ReadKeyValueFile(const std::filesystem::path& file);

// The first value under key, empty when there is none.
std::string ValueOf(const KeyValues& values, std::string_view key);

// The file's text; line breaks inside a value become spaces.
std::string KeyValueText(const KeyValues& values);

// Puts text in place of the file as a whole: a new file with the given mode, renamed over the
// old one, so a reader sees the old content or the new and never a mix. Makes missing folders.
void ReplaceFile(const std::filesystem::path& file, std::string_view text, mode_t mode);

}  // namespace tidewell
