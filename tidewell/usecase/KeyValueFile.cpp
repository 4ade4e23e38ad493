#include "usecase/KeyValueFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/Error.h"
#include "platform/FileKit.h"
#include "platform/SettingsHive.h"

namespace fs = std::filesystem;

namespace tidewell {

fs::path ProgramConfigFolder() {
    return SettingsHive::DefaultPath().parent_path();
}

std::optional<KeyValueFile> ReadKeyValueFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) return std::nullopt;
        throw Exception(file.string() + " 파일을 읽을 수 없습니다: " + std::strerror(errno));
    }
    struct stat info {};
    KeyValueFile result;
    if (stat(file.c_str(), &info) == 0) {
        result.mode = info.st_mode & 07777;
        result.owner = info.st_uid;
    }
    for (std::string line; std::getline(in, line);) {
        const auto equals = line.find('=');
        if (line.starts_with('#') || equals == std::string::npos) continue;
        result.values.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    return result;
}

std::string ValueOf(const KeyValues& values, std::string_view key) {
    for (const auto& [name, value] : values) {
        if (name == key) return value;
    }
    return {};
}

std::string KeyValueText(const KeyValues& values) {
    std::string text;
    for (const auto& [name, value] : values) {
        std::string flat = value;
        for (char& c : flat) {
            if (c == '\n' || c == '\r') c = ' ';
        }
        text += name + "=" + flat + "\n";
    }
    return text;
}

void ReplaceFile(const fs::path& file, std::string_view text, mode_t mode) {
    fs::create_directories(file.parent_path());
    TemporaryFile temporary =
        CreateTemporaryFile(file.parent_path(), "." + file.filename().string() + "-");
    ScopedFileRemoval removal(temporary.path);
    WriteAll(temporary.handle.get(), text.data(), text.size(), temporary.path.string());
    if (fchmod(temporary.handle.get(), mode) != 0 || fsync(temporary.handle.get()) != 0) {
        throw Exception(file.string() + " 파일을 쓸 수 없습니다: " + std::strerror(errno));
    }
    temporary.handle.Reset();
    if (rename(temporary.path.c_str(), file.c_str()) != 0) {
        throw Exception(file.string() + " 파일을 쓸 수 없습니다: " + std::strerror(errno));
    }
    removal.Keep();
}

}  // namespace tidewell
