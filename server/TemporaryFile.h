#pragma once

#include <cstdint>
#include <filesystem>

#include "platform/Error.h"
#include "platform/FileHandle.h"

namespace tidewell::webfolder {

// A file operation that failed, with the system's error number.
class FileError : public Exception {
public:
    FileError(const std::string& what, int code) : Exception(what), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};

// True for the failures of a full disk (or an exhausted disk quota), from files or SQLite.
bool IsDiskFull(const std::exception& error);

// An upload on its way to disk: a private file in the uploads folder that disappears unless
// it is moved to its final place, so a broken upload never leaves half an archive behind.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::filesystem::path& folder);
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile();

    void Write(const char* data, std::size_t size);
    std::int64_t Size() const { return size_; }
    const std::filesystem::path& Path() const { return path_; }

    // Makes the bytes written so far durable.
    void Flush();
    // Flushes the bytes to the disk and renames the file to target (same file system).
    // Afterwards the file is no longer ours.
    void MoveTo(const std::filesystem::path& target);

private:
    std::filesystem::path path_;
    FileHandle file_;
    std::int64_t size_ = 0;
    bool flushed_ = false;
    bool moved_ = false;
};

// Makes the rename of an entry in folder survive a power cut.
void SyncFolder(const std::filesystem::path& folder);

}  // namespace tidewell::webfolder
