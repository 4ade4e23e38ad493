#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/FileHandle.h"

namespace tidewell {

// The few file routines every layer needs, written once: complete writes, private new files
// and folders, and removal that never complains. What the system refused is raised as
// SystemError (an Exception with the errno), so a caller can tell a full disk from the rest.

// Writes every byte or raises Exception naming the file and the reason. EINTR is retried; a
// write that makes no progress counts as a full disk.
void WriteAll(int fd, const void* data, std::size_t count, const std::string& nameForErrors);

// Creates a new file for this user only (0600). An existing name, or a link planted under it,
// is refused: raises Exception.
FileHandle CreatePrivateFile(const std::filesystem::path& file);

// A new 0600 file named prefix + six random characters in folder.
struct TemporaryFile {
    FileHandle handle;
    std::filesystem::path path;
};
TemporaryFile CreateTemporaryFile(const std::filesystem::path& folder, std::string_view prefix);

// A new folder for this user only (0700), named prefix + six random characters in parent.
std::filesystem::path CreatePrivateFolder(const std::filesystem::path& parent,
                                          std::string_view prefix);

// Makes what was written to a file durable before it is relied on (a rename over data that
// matters): raises Exception when the system can't. SyncFolder does the same for the names in a
// folder, so that a rename survives a crash too.
void SyncFile(const std::filesystem::path& file);
void SyncFolder(const std::filesystem::path& folder);

// Which file or folder a path names now: a folder whose drive was unplugged, or a link that was
// turned elsewhere, names another (or none) afterwards. Links are followed.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path);

// How a file looks from outside: its exact modification time (nanoseconds since 1970) and its
// size. Size -1 stands for no file.
struct FileSignature {
    std::int64_t modifiedNs = 0;
    std::int64_t size = -1;
    bool operator==(const FileSignature&) const = default;
};
// The signature of a regular file, following links; size -1 when there is none.
FileSignature SignatureOf(const std::filesystem::path& file);

// Removes a file or a link, never a folder; says nothing about failure.
void RemoveFileQuietly(const std::filesystem::path& path);
// Removes a folder and everything in it without following links; says nothing about failure.
void RemoveTreeQuietly(const std::filesystem::path& path);

// Removes a file when the scope ends, however it ends, unless Keep() was called.
class ScopedFileRemoval {
public:
    explicit ScopedFileRemoval(std::filesystem::path path) : path_(std::move(path)) {}
    ScopedFileRemoval(const ScopedFileRemoval&) = delete;
    ScopedFileRemoval& operator=(const ScopedFileRemoval&) = delete;
    ~ScopedFileRemoval() {
        if (!path_.empty()) RemoveFileQuietly(path_);
    }
    void Keep() { path_.clear(); }

private:
    std::filesystem::path path_;
};

// Drops leading and trailing bytes up to the space: blanks and control characters.
std::string TrimBlanks(std::string_view text);
// ASCII letters in lower case, every other byte as it is.
std::string LowerAscii(std::string_view text);

// Fault injection for tests: while an object lives, WriteAll lets bytesAllowed more bytes
// through in the whole process and then fails with error, as a disk that fills up would.
// With kNoProgress the system is asked to write nothing instead, as a device that stops taking
// bytes without saying why.
class ScopedWriteFault {
public:
    static constexpr int kNoProgress = 0;
    explicit ScopedWriteFault(std::int64_t bytesAllowed, int error = 28 /* ENOSPC */);
    ScopedWriteFault(const ScopedWriteFault&) = delete;
    ScopedWriteFault& operator=(const ScopedWriteFault&) = delete;
    ~ScopedWriteFault();
};

// Fault injection for tests: while an object lives, SyncFile and SyncFolder fail with error in
// the whole process, as a disk that cannot flush would.
class ScopedSyncFault {
public:
    explicit ScopedSyncFault(int error = 5 /* EIO */);
    ScopedSyncFault(const ScopedSyncFault&) = delete;
    ScopedSyncFault& operator=(const ScopedSyncFault&) = delete;
    ~ScopedSyncFault();
};

}  // namespace tidewell
