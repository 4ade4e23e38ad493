#include "company/SafetyArchives.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <utility>

#include "archive/ArchiveIo.h"
#include "company/Common.h"
#include "platform/DosTime.h"
#include "platform/Error.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

constexpr const char* kPrefix = "tidewell";

// The date stored with the archive's first member (the company's database).
TDateTime StoredDataTime(const std::string& archive) {
    try {
        archive::ArchiveReader reader(archive);
        reader.ReadHeader();
        if (!reader.ReadName()) return 0;
        return UnpackDosDateTime(reader.ReadInt32()).value_or(0);
    } catch (const Exception&) {
        return 0;  // damaged: listed all the same, the restore says what is wrong
    }
}

// The counter a taken name got ("tidewell202612091140-2.bck" is 2); 1 without one.
int Counter(const std::string& name) {
    const std::string stem = fs::path(name).stem().string();
    const std::size_t dash = stem.rfind('-');
    if (dash == std::string::npos) return 1;
    try {
        return std::stoi(stem.substr(dash + 1));
    } catch (const std::exception&) {
        return 1;
    }
}

}  // namespace

std::string SafetyArchiveFolder(const std::string& companyFolder) {
    const std::string folder = companyFolder + "/Backup";
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return folder;  // made with the first archive
    if (S_ISDIR(st.st_mode)) return folder;
    const auto refuse = [&](const std::string& why) {
        return Exception("안전 사본을 둘 백업 폴더를 쓸 수 없어 아무것도 바꾸지 않았습니다 (" +
                         why + "): " + folder);
    };
    if (!S_ISLNK(st.st_mode)) throw refuse("폴더가 아님");
    struct stat target {};
    if (::stat(folder.c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) {
        throw refuse("폴더가 아닌 곳을 가리키는 링크");
    }
    if (target.st_uid != ::geteuid()) throw refuse("다른 사용자의 폴더를 가리키는 링크");
    std::error_code ec;
    const fs::path real = fs::canonical(folder, ec);
    if (ec) throw refuse(ec.message());
    return real.string();
}

std::string SafetyArchiveName(const std::string& safetyFolder, TDateTime now) {
    return safetyFolder + "/" + kPrefix + FormatDateTime("yyyymmddhhnn", now) + ".bck";
}

std::vector<TSafetyArchive> ListSafetyArchives(const std::string& companyFolder) {
    // Each with the exact time it was written: two made within one second (a download, then a
    // way back) still come in the order they were made, which pruning relies on.
    std::vector<std::pair<fs::file_time_type, TSafetyArchive>> found;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(companyFolder) / "Backup", ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code status;
        if (!name.starts_with(kPrefix) || it->path().extension() != ".bck" ||
            !it->is_regular_file(status)) {
            continue;
        }
        TSafetyArchive archive;
        archive.Path = it->path().string();
        archive.Name = name;
        archive.DataTime = StoredDataTime(archive.Path);
        archive.Size = GetPathSize(archive.Path);
        GetFileModifiedTime(archive.Path, archive.MadeTime);
        std::error_code timeError;
        const fs::file_time_type written = fs::last_write_time(it->path(), timeError);
        found.emplace_back(written, std::move(archive));
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first > b.first;
        return Counter(a.second.Name) > Counter(b.second.Name);
    });
    std::vector<TSafetyArchive> archives;
    for (auto& entry : found) archives.push_back(std::move(entry.second));
    return archives;
}

std::vector<TSafetyArchive> PruneSafetyArchives(const std::string& companyFolder, int kept) {
    std::vector<TSafetyArchive> archives = ListSafetyArchives(companyFolder);
    std::vector<TSafetyArchive> removed;
    const std::size_t keep = static_cast<std::size_t>(std::max(kept, 1));
    for (std::size_t i = keep; i < archives.size(); ++i) {
        std::error_code ec;
        if (fs::remove(archives[i].Path, ec)) removed.push_back(archives[i]);
    }
    return removed;
}

void RemoveSafetyArchive(const std::string& companyFolder, const std::string& archivePath) {
    for (const TSafetyArchive& archive : ListSafetyArchives(companyFolder)) {
        if (archive.Path != archivePath) continue;
        std::error_code ec;
        if (!fs::remove(archive.Path, ec) && ec) {
            throw Exception("백업 파일을 지우지 못했습니다 (" + ec.message() +
                            "): " + archive.Path);
        }
        return;
    }
    throw Exception("이 사업장의 백업 파일이 아닙니다: " + archivePath);
}

}  // namespace tidewell
