#include "archive/ArchiveIo.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <istream>
#include <ostream>

#include "archive/ArchiveFormat.h"

namespace tidewell::archive {
namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

void PutInt32(char* out, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
}

std::int32_t GetInt32(const unsigned char* in) {
    const std::uint32_t bits = in[0] | (in[1] << 8) | (in[2] << 16) | (std::uint32_t{in[3]} << 24);
    return static_cast<std::int32_t>(bits);
}

TFileStream OpenDiskFile(const std::string& fileName, TFileStream::Mode mode) {
    try {
        return TFileStream(fileName, mode);
    } catch (const Exception& e) {
        throw ArchiveError(e.what());
    }
}

}  // namespace

ArchiveWriter::ArchiveWriter(const std::string& fileName)
    : name_(fileName),
      file_(OpenDiskFile(fileName, TFileStream::Mode::Create)),
      buffer_(std::make_unique<char[]>(kBufferSize)) {}

ArchiveWriter::ArchiveWriter(std::ostream& stream) : name_("the output stream"), stream_(&stream) {}

ArchiveWriter::~ArchiveWriter() {
    try {
        Flush();
    } catch (const std::exception&) {
        // Close() is where failures are reported; here the archive is given up anyway.
    }
}

void ArchiveWriter::WriteInt32(std::int32_t value) {
    char bytes[4];
    PutInt32(bytes, value);
    WriteBytes(bytes, sizeof bytes);
}

void ArchiveWriter::WriteBytes(const void* data, std::size_t count) {
    position_ += static_cast<std::int64_t>(count);
    if (stream_) {
        stream_->write(static_cast<const char*>(data), static_cast<std::streamsize>(count));
        if (!*stream_) Fail("the stream refused the data");
        return;
    }
    if (!file_) Fail("the file is closed");
    if (used_ + count > kBufferSize) Flush();
    if (count >= kBufferSize) {
        try {
            file_->Write(data, count);
        } catch (const Exception& e) {
            Fail(e.what());
        }
        return;
    }
    std::memcpy(buffer_.get() + used_, data, count);
    used_ += count;
}

void ArchiveWriter::WriteText(std::string_view bytes) {
    WriteInt32(static_cast<std::int32_t>(bytes.size()));
    WriteBytes(bytes.data(), bytes.size());
}

void ArchiveWriter::Close() {
    Flush();
    if (stream_) {
        stream_->flush();
        if (!*stream_) Fail("the stream refused the data");
    } else if (file_) {
        try {
            file_->Close();
        } catch (const Exception& e) {
            Fail(e.what());
        }
        file_.reset();
    }
}

void ArchiveWriter::Flush() {
    if (!file_ || used_ == 0) return;
    const std::size_t count = std::exchange(used_, 0);
    try {
        file_->Write(buffer_.get(), count);
    } catch (const Exception& e) {
        Fail(e.what());
    }
}

void ArchiveWriter::Fail(const std::string& why) const {
    throw ArchiveError("Cannot write to archive " + name_ + ": " + why);
}

ArchiveReader::ArchiveReader(const std::string& fileName)
    : name_(fileName),
      file_(OpenDiskFile(fileName, TFileStream::Mode::Read)),
      buffer_(std::make_unique<char[]>(kBufferSize)) {}

ArchiveReader::ArchiveReader(std::istream& stream) : name_("the input stream"), stream_(&stream) {}

ArchiveHeader ArchiveReader::ReadHeader() {
    try {
        const std::int32_t titleLength = ReadInt32();
        if (titleLength < 0) Damaged("the title has a negative length");
        Skip(titleLength);
        ArchiveHeader header;
        header.totalSize = ReadInt32();
        header.fileCount = ReadInt32();
        return header;
    } catch (const ArchiveError& e) {
        throw ArchiveError("Cannot read archive", e.Detail());
    }
}

std::optional<std::string> ArchiveReader::ReadName() {
    const std::int32_t length = ReadInt32();
    if (length == 0) return std::nullopt;
    if (length < 1 || length > kMaxNameLength) Damaged("a name length of " + std::to_string(length));
    return ReadText(static_cast<std::size_t>(length));
}

void ArchiveReader::ReadSignature() {
    char signature[4];
    ReadBytes(signature, sizeof signature);
    if (std::string_view(signature, sizeof signature) != kSignature) {
        throw ArchiveError("Invalid archive type", "Invalid archive type: no block-list signature in " + Where());
    }
}

std::int32_t ArchiveReader::ReadBlockLength() {
    const std::int32_t length = ReadInt32();
    constexpr auto kLimit = static_cast<std::int32_t>(kBlockSize);
    if (length < -kLimit || length > kLimit) Damaged("a block length of " + std::to_string(length));
    return length;
}

unsigned ArchiveReader::NextDisk(const std::string& record, unsigned currentDisk) const {
    const std::string digits = record.substr(std::min(record.size(), kNextDiskPrefix.size()));
    if (record.size() != kNextDiskRecordLength ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        Damaged("a malformed next-disk record");
    }
    const auto disk = static_cast<unsigned>(std::stoi(digits));
    if (disk != currentDisk + 1 || disk > kLastDisk) {
        Damaged("disk " + std::to_string(currentDisk) + " is followed by disk " + digits);
    }
    return disk;
}

std::int32_t ArchiveReader::ReadInt32() {
    unsigned char bytes[4];
    ReadBytes(bytes, sizeof bytes);
    return GetInt32(bytes);
}

void ArchiveReader::ReadBytes(void* out, std::size_t count) {
    auto* dest = static_cast<char*>(out);
    if (stream_) {
        stream_->read(dest, static_cast<std::streamsize>(count));
        position_ += stream_->gcount();
        if (static_cast<std::size_t>(stream_->gcount()) != count) Damaged("it ends too early");
        return;
    }
    while (count > 0) {
        if (begin_ == end_ && !Refill()) Damaged("it ends too early");
        const std::size_t n = std::min(count, end_ - begin_);
        std::memcpy(dest, buffer_.get() + begin_, n);
        begin_ += n;
        position_ += static_cast<std::int64_t>(n);
        dest += n;
        count -= n;
    }
}

bool ArchiveReader::AtEnd() {
    if (stream_) return stream_->peek() == std::char_traits<char>::eof();
    return begin_ == end_ && !Refill();
}

std::string ArchiveReader::ReadText(std::size_t count) {
    std::string text(count, '\0');
    ReadBytes(text.data(), count);
    return text;
}

void ArchiveReader::Skip(std::int64_t count) {
    if (count <= 0) return;
    if (stream_) {
        stream_->ignore(static_cast<std::streamsize>(count));
        position_ += stream_->gcount();
        if (stream_->gcount() != count) Damaged("it ends too early");
        return;
    }
    const auto buffered = static_cast<std::int64_t>(end_ - begin_);
    position_ += count;
    if (count <= buffered) {
        begin_ += static_cast<std::size_t>(count);
        return;
    }
    begin_ = end_ = 0;
    // Past the end is fine here: the next read finds nothing and reports the truncation.
    if (::lseek(file_->Handle(), count - buffered, SEEK_CUR) < 0) Damaged("it can't be skipped");
}

bool ArchiveReader::Refill() {
    try {
        end_ = file_->Read(buffer_.get(), kBufferSize);
    } catch (const Exception& e) {
        throw ArchiveError(e.what());
    }
    begin_ = 0;
    return end_ > 0;
}

std::string ArchiveReader::Where(std::int64_t position) const {
    return name_ + " at byte " + std::to_string(position);
}

void ArchiveReader::Damaged(const std::string& why) const {
    throw ArchiveError("Damaged archive " + Where() + ": " + why);
}

}  // namespace tidewell::archive
