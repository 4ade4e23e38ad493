#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "archive/FileStream.h"

namespace tidewell::archive {

// Writes the records of one disk file, or of the caller's stream. Disk files are buffered (a
// block costs one system call, not two); the caller's stream is written as it goes. Failures
// raise ArchiveError.
class ArchiveWriter {
public:
    explicit ArchiveWriter(const std::string& fileName);  // created, replacing any file
    explicit ArchiveWriter(std::ostream& stream);
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;
    ~ArchiveWriter();

    void WriteInt32(std::int32_t value);
    void WriteBytes(const void* data, std::size_t count);
    void WriteText(std::string_view bytes);  // length, then the bytes
    // Bytes written to this disk file so far.
    std::int64_t Position() const { return position_; }
    // Everything reaches the file (or the stream) or ArchiveError says why not.
    void Close();

private:
    void Flush();
    [[noreturn]] void Fail(const std::string& why) const;

    std::string name_;
    std::optional<TFileStream> file_;
    std::ostream* stream_ = nullptr;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    std::int64_t position_ = 0;
};

struct ArchiveHeader {
    std::int32_t totalSize = 0;
    std::int32_t fileCount = 0;
};

// Reads the records of one disk file, or of the caller's stream. A disk file is read through a
// fixed buffer; the caller's stream is read no further than the records taken from it. Short
// reads and damage raise ArchiveError naming the file and the byte offset.
class ArchiveReader {
public:
    explicit ArchiveReader(const std::string& fileName);
    explicit ArchiveReader(std::istream& stream);
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    // The header; its title is passed over. Raises ArchiveError "Cannot read archive".
    ArchiveHeader ReadHeader();
    // A name record's text, or nullopt for the end marker. Lengths outside 1..32768 are damage.
    std::optional<std::string> ReadName();
    // The signature that opens a block list; raises ArchiveError "Invalid archive type".
    void ReadSignature();
    // A block's length field: 0 ends the list, |n| is at most one block.
    std::int32_t ReadBlockLength();
    // The disk a next-disk record names. Only the writer's own sequence (the disk after
    // currentDisk, at most 999) is accepted, so a hostile archive can't send a reader in circles.
    unsigned NextDisk(const std::string& record, unsigned currentDisk) const;

    std::int32_t ReadInt32();
    void ReadBytes(void* out, std::size_t count);
    std::string ReadText(std::size_t count);
    // True when no byte is left.
    bool AtEnd();
    // Passes over count bytes without reading them where the file allows.
    void Skip(std::int64_t count);
    // Bytes handed out so far.
    std::int64_t Position() const { return position_; }
    // "x.bck at byte 1234", for messages: where the reader stands, or stood.
    std::string Where() const { return Where(position_); }
    std::string Where(std::int64_t position) const;
    [[noreturn]] void Damaged(const std::string& why) const;

private:
    bool Refill();

    std::string name_;
    std::optional<TFileStream> file_;
    std::istream* stream_ = nullptr;
    std::unique_ptr<char[]> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::int64_t position_ = 0;  // of the next byte handed out
};

}  // namespace tidewell::archive
