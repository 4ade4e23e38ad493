#include "platform/FileKit.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <system_error>

#include "platform/Error.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

// Bytes WriteAll may still write while a fault is injected; negative when none is.
std::atomic<std::int64_t> writeBudget{-1};
std::atomic<int> injectedError{ENOSPC};
// The error SyncFile and SyncFolder fail with while a fault is injected; 0 when none is.
std::atomic<int> injectedSyncError{0};

[[noreturn]] void WriteFailed(const std::string& name, int error) {
    throw SystemError("파일을 쓸 수 없습니다 (" + std::string(strerror(error)) + "): " + name,
                      error);
}

// How much of count may be written now; 0 means the injected fault strikes.
std::size_t Allowed(std::size_t count) {
    std::int64_t budget = writeBudget.load();
    while (budget >= 0) {
        const auto take = static_cast<std::int64_t>(
            std::min<std::size_t>(count, static_cast<std::size_t>(budget)));
        if (writeBudget.compare_exchange_weak(budget, budget - take)) {
            return static_cast<std::size_t>(take);
        }
    }
    return count;
}

}  // namespace

void WriteAll(int fd, const void* data, std::size_t count, const std::string& nameForErrors) {
    const auto* bytes = static_cast<const char*>(data);
    while (count > 0) {
        const std::size_t allowed = Allowed(count);
        const int injected = injectedError.load();
        if (allowed == 0 && injected != ScopedWriteFault::kNoProgress) {
            WriteFailed(nameForErrors, injected);
        }
        const ssize_t n = ::write(fd, bytes, allowed);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) WriteFailed(nameForErrors, errno);
        if (n == 0) WriteFailed(nameForErrors, ENOSPC);
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
}

FileHandle CreatePrivateFile(const fs::path& file) {
    FileHandle fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) {
        const int error = errno;
        throw SystemError(
            "파일을 만들 수 없습니다 (" + std::string(strerror(error)) + "): " + file.string(),
            error);
    }
    return fd;
}

TemporaryFile CreateTemporaryFile(const fs::path& folder, std::string_view prefix) {
    std::string pattern = (folder / (std::string(prefix) + "XXXXXX")).string();
    FileHandle fd(::mkostemp(pattern.data(), O_CLOEXEC));  // mkostemp makes 0600 files
    if (!fd) {
        const int error = errno;
        throw SystemError("임시 파일을 만들 수 없습니다 (" + std::string(strerror(error)) +
                              "): " + folder.string(),
                          error);
    }
    return {std::move(fd), fs::path(pattern)};
}

fs::path CreatePrivateFolder(const fs::path& parent, std::string_view prefix) {
    std::string pattern = (parent / (std::string(prefix) + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {  // mkdtemp makes 0700 folders
        const int error = errno;
        throw SystemError("작업 폴더를 만들 수 없습니다 (" + std::string(strerror(error)) +
                              "): " + parent.string(),
                          error);
    }
    return pattern;
}

namespace {

void Sync(const fs::path& path, int flags) {
    FileHandle fd(::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW));
    int error = fd ? injectedSyncError.load() : errno;
    if (error == 0 && ::fsync(fd.get()) != 0) error = errno;
    if (error != 0) {
        throw SystemError(
            "디스크에 기록할 수 없습니다 (" + std::string(strerror(error)) + "): " + path.string(),
            error);
    }
}

}  // namespace

void SyncFile(const fs::path& file) {
    Sync(file, O_RDONLY);
}

void SyncFolder(const fs::path& folder) {
    Sync(folder, O_RDONLY | O_DIRECTORY);
}

std::optional<FileIdentity> IdentityOf(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                        static_cast<std::uint64_t>(st.st_ino)};
}

FileSignature SignatureOf(const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    return {static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            static_cast<std::int64_t>(st.st_size)};
}

void RemoveFileQuietly(const fs::path& path) {
    std::error_code ignored;
    if (!fs::is_directory(fs::symlink_status(path, ignored))) fs::remove(path, ignored);
}

void RemoveTreeQuietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);  // links are removed, never followed
}

std::string TrimBlanks(std::string_view text) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return std::string(text);
}

std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

ScopedWriteFault::ScopedWriteFault(std::int64_t bytesAllowed, int error) {
    injectedError = error;
    writeBudget = std::max<std::int64_t>(0, bytesAllowed);
}

ScopedWriteFault::~ScopedWriteFault() {
    writeBudget = -1;
}

ScopedSyncFault::ScopedSyncFault(int error) {
    injectedSyncError = error;
}

ScopedSyncFault::~ScopedSyncFault() {
    injectedSyncError = 0;
}

}  // namespace tidewell
