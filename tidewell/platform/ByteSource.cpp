#include "platform/ByteSource.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Error.h"

namespace tidewell {

FileByteSource::FileByteSource(const std::string& file)
    : file_(file), handle_(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW)) {
    struct stat st {};
    if (!handle_ || ::fstat(handle_.get(), &st) != 0) {
        throw SystemError("파일을 읽을 수 없습니다 (" + std::string(strerror(errno)) + "): " + file,
                          errno);
    }
    size_ = st.st_size;
}

std::size_t FileByteSource::Read(void* buffer, std::size_t count) {
    std::size_t given = 0;
    while (given < count) {
        const ssize_t n = ::read(handle_.get(), static_cast<char*>(buffer) + given, count - given);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            throw SystemError(
                "파일을 읽을 수 없습니다 (" + std::string(strerror(errno)) + "): " + file_, errno);
        }
        given += static_cast<std::size_t>(n);
    }
    return given;
}

}  // namespace tidewell
