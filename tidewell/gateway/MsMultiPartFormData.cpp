#include "gateway/MsMultiPartFormData.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/CodePage.h"
#include "platform/DateTime.h"
#include "platform/Error.h"
#include "platform/FileHandle.h"

namespace tidewell {
namespace {

constexpr const char* kCrLf = "\r\n";

std::string MakeBoundary(const Clock& clock) {
    return std::string(27, '-') + FormatDateTime("mmddyyhhnnsszzz", clock.Now());
}

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

// A file kept open from AddFilePart to the send, with what it looked like when it was added.
struct TMsMultiPartFormDataStream::OpenFile {
    std::string path;
    FileHandle handle;
    struct stat added {};

    [[noreturn]] void Changed() const {
        throw Exception("보낼 파일이 추가된 뒤에 바뀌었습니다: " + path);
    }
    void CheckUnchanged() const {
        struct stat now {};
        if (::fstat(handle.get(), &now) != 0) {
            throw Exception("보낼 파일을 읽을 수 없습니다: " + path + " (" + strerror(errno) + ")");
        }
        if (now.st_size != added.st_size || !SameTime(now.st_mtim, added.st_mtim)) Changed();
    }
};

TMsMultiPartFormDataStream::TMsMultiPartFormDataStream(const Clock& clock)
    : Boundary(MakeBoundary(clock)), ContentType("multipart/form-data; boundary=" + Boundary) {}

TMsMultiPartFormDataStream::~TMsMultiPartFormDataStream() = default;

void TMsMultiPartFormDataStream::AppendText(const std::string& ansi) {
    if (ansi.empty()) return;
    if (segments_.empty() || segments_.back().file) {
        segments_.push_back(Segment{size_, 0, {}, nullptr});
    }
    Segment& last = segments_.back();
    last.bytes += ansi;
    last.length += ansi.size();
    size_ += ansi.size();
}

void TMsMultiPartFormDataStream::AppendFile(std::shared_ptr<OpenFile> file, std::uint64_t length) {
    if (length == 0) return;
    segments_.push_back(Segment{size_, length, {}, std::move(file)});
    size_ += length;
}

void TMsMultiPartFormDataStream::AddField(const std::string& fieldName, const std::string& value) {
    std::string part;
    if (firstPart_) {
        part = "--" + Boundary + kCrLf;
        firstPart_ = false;
    } else {
        part = kCrLf + std::string("--") + Boundary + kCrLf;
    }
    part += "Content-Disposition: form-data; name=\"" + Utf8ToAnsi(fieldName) + "\"" + kCrLf +
            kCrLf + Utf8ToAnsi(value);
    AppendText(part);
}

void TMsMultiPartFormDataStream::AppendFileHeader(const std::string& fieldName,
                                                  const std::string& fileName,
                                                  const std::string& contentType) {
    // A file part always starts with a line break, even as the first part; a field after it
    // needs one too, or its delimiter would run on from the file's last byte.
    firstPart_ = false;
    AppendText(kCrLf + std::string("--") + Boundary + kCrLf +
               "Content-Disposition: form-data; name=\"" + Utf8ToAnsi(fieldName) +
               "\"; filename=\"" + Utf8ToAnsi(fileName) + "\"" + kCrLf +
               "Content-Type: " + Utf8ToAnsi(contentType) + kCrLf + kCrLf);
}

void TMsMultiPartFormDataStream::AddFilePart(const std::string& fieldName,
                                             const std::string& fileName,
                                             const std::string& contentType,
                                             const std::string& headerName) {
    auto file = std::make_shared<OpenFile>();
    file->path = fileName;
    // Non-blocking so that a named pipe can't stall the open; plain files ignore the flag.
    file->handle =
        FileHandle(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!file->handle) {
        throw Exception("파일을 열 수 없습니다: " + fileName + " (" + strerror(errno) + ")");
    }
    if (::fstat(file->handle.get(), &file->added) != 0) {
        throw Exception("파일을 열 수 없습니다: " + fileName + " (" + strerror(errno) + ")");
    }
    if (!S_ISREG(file->added.st_mode)) throw Exception("보통 파일이 아닙니다: " + fileName);
    const auto length = static_cast<std::uint64_t>(file->added.st_size);
    AppendFileHeader(fieldName, headerName.empty() ? fileName : headerName, contentType);
    AppendFile(std::move(file), length);
}

void TMsMultiPartFormDataStream::AddStreamPart(const std::string& fieldName,
                                               const std::string& fileName,
                                               const std::string& contentType,
                                               std::istream& stream) {
    stream.clear();
    stream.seekg(0);
    std::string content(std::istreambuf_iterator<char>(stream), {});
    if (stream.bad()) throw Exception("스트림을 읽을 수 없습니다: " + fileName);
    AppendFileHeader(fieldName, fileName, contentType);
    AppendText(content);
}

void TMsMultiPartFormDataStream::CloseBody() {
    AppendText(kCrLf + std::string("--") + Boundary + "--" + kCrLf);
    Seek(0);
    firstPart_ = true;
}

void TMsMultiPartFormDataStream::Seek(std::uint64_t position) {
    position_ = std::min(position, size_);
    const auto after = std::upper_bound(
        segments_.begin(), segments_.end(), position_,
        [](std::uint64_t value, const Segment& segment) { return value < segment.start; });
    current_ =
        after == segments_.begin() ? 0 : static_cast<std::size_t>(after - segments_.begin() - 1);
}

std::size_t TMsMultiPartFormDataStream::ReadFile(const Segment& segment, std::uint64_t offset,
                                                 char* buffer, std::size_t count) {
    const OpenFile& file = *segment.file;
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(file.handle.get(), buffer + done, count - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            throw Exception("보낼 파일을 읽을 수 없습니다: " + file.path + " (" + strerror(errno) +
                            ")");
        }
        if (n == 0) file.Changed();  // shorter than when it was added
        done += static_cast<std::size_t>(n);
    }
    file.CheckUnchanged();
    return done;
}

std::size_t TMsMultiPartFormDataStream::Read(char* buffer, std::size_t count) {
    std::size_t done = 0;
    while (done < count && position_ < size_) {
        while (position_ >= segments_[current_].start + segments_[current_].length) ++current_;
        const Segment& segment = segments_[current_];
        const std::uint64_t offset = position_ - segment.start;
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>(count - done, segment.length - offset));
        if (segment.file) {
            ReadFile(segment, offset, buffer + done, n);
        } else {
            std::memcpy(buffer + done, segment.bytes.data() + offset, n);
        }
        done += n;
        position_ += n;
    }
    return done;
}

}  // namespace tidewell
