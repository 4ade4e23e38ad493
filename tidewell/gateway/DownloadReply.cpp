#include "gateway/DownloadReply.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "company/Common.h"
#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/FileKit.h"
#include "platform/TempFolder.h"

namespace tidewell {
namespace {

constexpr const char* kDisposition = "Content-Disposition";
constexpr const char* kFileNameParameter = "filename=";

std::string QuotedName(const std::string& text) {
    std::string name;
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] != '"') {
            name += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '"') {
            name += '"';
            ++i;
        } else {
            break;
        }
    }
    return name;
}

[[noreturn]] void SaveFailed(const std::string& path) {
    throw Exception("다운로드한 파일을 저장할 수 없습니다: " + path + " (" + strerror(errno) + ")");
}

}  // namespace

std::string ContentDispositionFileName(const std::vector<std::string>& headerLines) {
    std::string name;
    for (const std::string& line : headerLines) {
        // Header and parameter names are case-insensitive in HTTP.
        const std::string lower = LowerAscii(line);
        if (lower.find(LowerAscii(kDisposition)) == std::string::npos) continue;
        const std::size_t at = lower.find(kFileNameParameter);
        if (at == std::string::npos) continue;
        const std::string rest =
            line.substr(at + std::char_traits<char>::length(kFileNameParameter));
        name = !rest.empty() && rest.front() == '"' ? QuotedName(rest) : rest;
    }
    return name;
}

std::string PlainFileName(const std::string& utf8Name) {
    std::string name = utf8Name;
    if (name.size() >= 2 && name[1] == ':' &&
        ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'))) {
        name.erase(0, 2);
    }
    while (!name.empty() && (name.back() == '/' || name.back() == '\\')) name.pop_back();
    const std::size_t separator = name.find_last_of("/\\");
    if (separator != std::string::npos) name.erase(0, separator + 1);
    if (name == "." || name == "..") return {};
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return {};
    }
    return name;
}

DownloadReply::~DownloadReply() {
    if (!tempPath_.empty()) {
        file_.Reset();
        RemoveFileQuietly(tempPath_);
    }
}

void DownloadReply::Decide() {
    decided_ = true;
    fileName_ = PlainFileName(AnsiToUtf8(ContentDispositionFileName(client_.ReplyHeaders())));
    if (OnDecided) OnDecided(fileName_);
    if (fileName_.empty()) return;
    if (folder_.empty()) throw Exception("내려받은 자료를 둘 폴더가 정해지지 않았습니다.");
    // The folder is made with the first archive, for this user only.
    std::error_code absent;
    if (!std::filesystem::exists(std::filesystem::symlink_status(folder_, absent))) {
        EnsurePrivateFolder(folder_);
    }
    TemporaryFile file = CreateTemporaryFile(folder_, ".download-");
    file_ = std::move(file.handle);
    tempPath_ = file.path.string();
}

void DownloadReply::Write(const char* data, std::size_t count) {
    if (!decided_) Decide();
    if (fileName_.empty()) {
        text_.Write(data, count);
        return;
    }
    WriteAll(file_.get(), data, count, tempPath_);
}

bool DownloadReply::Finish() {
    if (!decided_) Decide();
    if (fileName_.empty()) return false;
    if (::close(file_.Release()) != 0) SaveFailed(tempPath_);
    const std::string path = folder_ + "/" + fileName_;
    if (::rename(tempPath_.c_str(), path.c_str()) != 0) SaveFailed(path);
    tempPath_.clear();
    return true;
}

}  // namespace tidewell
