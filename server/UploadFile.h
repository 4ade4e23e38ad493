#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>

#include "platform/FileKit.h"

namespace tidewell::webfolder {

// True for the failures of a full disk (or an exhausted disk quota), from files or SQLite.
bool IsDiskFull(const std::exception& error);

// An upload on its way to disk: a private file in the uploads folder that disappears unless
// it is moved to its final place, so a broken upload never leaves half an archive behind.
// What the system refuses is raised as SystemError, with its errno.
class UploadFile {
public:
    explicit UploadFile(const std::filesystem::path& folder);
    UploadFile(const UploadFile&) = delete;
    UploadFile& operator=(const UploadFile&) = delete;
    ~UploadFile();

    void Write(const char* data, std::size_t size);
    std::int64_t Size() const { return size_; }

    // Makes the bytes written so far durable.
    void Flush();
    // Flushes the bytes to the disk, renames the file to target (same file system) and makes
    // the new name durable. Afterwards the file is no longer ours. When the name cannot be
    // made durable the file is removed from target again and the failure raised: an archive
    // the disk may forget is not one the index may name.
    void MoveTo(const std::filesystem::path& target);

private:
    TemporaryFile file_;
    std::int64_t size_ = 0;
    bool flushed_ = false;
    bool moved_ = false;
};

}  // namespace tidewell::webfolder
