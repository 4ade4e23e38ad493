#include "UploadFile.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "platform/Error.h"
#include "platform/Sqlite.h"

namespace tidewell::webfolder {

bool IsDiskFull(const std::exception& error) {
    if (const auto* system = dynamic_cast<const SystemError*>(&error)) {
        return system->code() == ENOSPC || system->code() == EDQUOT;
    }
    if (const auto* sqlite = dynamic_cast<const SqliteError*>(&error)) {
        return (sqlite->code() & 0xFF) == SQLITE_FULL;
    }
    return false;
}

UploadFile::UploadFile(const std::filesystem::path& folder)
    : file_(CreateTemporaryFile(folder, "upload-")) {}

UploadFile::~UploadFile() {
    if (!moved_) RemoveFileQuietly(file_.path);
}

void UploadFile::Write(const char* data, std::size_t size) {
    flushed_ = false;
    WriteAll(file_.handle.get(), data, size, file_.path.string());
    size_ += static_cast<std::int64_t>(size);
}

void UploadFile::Flush() {
    SyncFile(file_.path);
    flushed_ = true;
}

void UploadFile::MoveTo(const std::filesystem::path& target) {
    if (!flushed_) Flush();
    file_.handle.Reset();
    if (::rename(file_.path.c_str(), target.c_str()) != 0) {
        const int code = errno;
        throw SystemError("cannot store " + target.string() + ": " + strerror(code), code);
    }
    moved_ = true;
    try {
        SyncFolder(target.parent_path());
    } catch (...) {
        RemoveFileQuietly(target);
        throw;
    }
}

}  // namespace tidewell::webfolder
