#include "archive/FileStream.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Error.h"
#include "platform/FileKit.h"

namespace tidewell {
namespace {

int OpenFlags(TFileStream::Mode mode) {
    switch (mode) {
        case TFileStream::Mode::Read:
            return O_RDONLY;
        // Restored members and archives: a link planted where one is written is refused, never
        // followed, and so is anything but a plain file (a FIFO would hang the restore;
        // O_NONBLOCK changes nothing for plain files).
        case TFileStream::Mode::Create:
            return O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK;
        case TFileStream::Mode::Append:
            return O_WRONLY | O_NOFOLLOW | O_NONBLOCK;
    }
    return O_RDONLY;
}

}  // namespace

TFileStream::TFileStream(const std::filesystem::path& path, Mode mode) : path_(path) {
    handle_ = FileHandle(::open(path.c_str(), OpenFlags(mode) | O_CLOEXEC, 0666));
    if (!handle_) Fail("cannot open");
    if (mode != Mode::Read) {
        struct stat st {};
        if (::fstat(handle_.get(), &st) != 0) Fail("cannot open");
        if (!S_ISREG(st.st_mode)) {
            handle_ = FileHandle();
            throw Exception("cannot open " + path.string() + ": not a plain file");
        }
    }
    if (mode == Mode::Append && ::lseek(handle_.get(), 0, SEEK_END) < 0) Fail("cannot seek");
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(handle_.get(), out + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Fail("cannot read");
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void TFileStream::Write(const void* data, std::size_t count) {
    WriteAll(handle_.get(), data, count, path_.string());
}

std::int64_t TFileStream::Size() const {
    struct stat st {};
    if (::fstat(handle_.get(), &st) != 0) Fail("cannot get the size of");
    return st.st_size;
}

std::int64_t TFileStream::Position() const {
    const off_t position = ::lseek(handle_.get(), 0, SEEK_CUR);
    if (position < 0) Fail("cannot seek");
    return position;
}

void TFileStream::Seek(std::int64_t position) {
    if (::lseek(handle_.get(), position, SEEK_SET) < 0) Fail("cannot seek");
}

std::optional<DosDateTime> TFileStream::ModifiedTime() const {
    struct stat st {};
    if (::fstat(handle_.get(), &st) != 0) return std::nullopt;
    const auto local = LocalTimeToDateTime(st.st_mtim.tv_sec);
    if (!local) return std::nullopt;
    return PackDosDateTime(*local);
}

bool TFileStream::SetModifiedTime(DosDateTime value) {
    const auto local = UnpackDosDateTime(value);
    if (!local) return false;
    const auto posix = DateTimeToLocalTime(*local);
    if (!posix) return false;
    const timespec times[2] = {{0, UTIME_OMIT}, {*posix, 0}};
    return ::futimens(handle_.get(), times) == 0;
}

void TFileStream::Close() {
    if (handle_ && ::close(handle_.Release()) != 0 && errno != EINTR) Fail("cannot close");
}

void TFileStream::Fail(const char* what) const {
    throw Exception(std::string(what) + " " + path_.string() + ": " + strerror(errno));
}

}  // namespace tidewell
