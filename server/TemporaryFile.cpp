#include "TemporaryFile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "platform/Error.h"
#include "platform/Sqlite.h"

namespace tidewell::webfolder {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::filesystem::path& path) {
    const int code = errno;
    throw FileError(what + " " + path.string() + ": " + strerror(code), code);
}

}  // namespace

bool IsDiskFull(const std::exception& error) {
    if (const auto* file = dynamic_cast<const FileError*>(&error)) {
        return file->code() == ENOSPC || file->code() == EDQUOT;
    }
    if (const auto* sqlite = dynamic_cast<const SqliteError*>(&error)) {
        return (sqlite->code() & 0xFF) == SQLITE_FULL;
    }
    return false;
}

TemporaryFile::TemporaryFile(const std::filesystem::path& folder) {
    std::string pattern = (folder / "upload-XXXXXX").string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) Fail("cannot create a file in", folder);
    file_ = FileHandle(fd);
    path_ = pattern;
}

TemporaryFile::~TemporaryFile() {
    if (!moved_) ::unlink(path_.c_str());
}

void TemporaryFile::Write(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(file_.get(), data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            Fail("cannot write", path_);
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        size_ += written;
        flushed_ = false;
    }
}

void TemporaryFile::Flush() {
    if (::fsync(file_.get()) != 0) Fail("cannot flush", path_);
    flushed_ = true;
}

void TemporaryFile::MoveTo(const std::filesystem::path& target) {
    if (!flushed_) Flush();
    file_.Reset();
    if (::rename(path_.c_str(), target.c_str()) != 0) Fail("cannot store", target);
    moved_ = true;
    SyncFolder(target.parent_path());
}

void SyncFolder(const std::filesystem::path& folder) {
    const FileHandle dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) ::fsync(dir.get());
}

}  // namespace tidewell::webfolder
