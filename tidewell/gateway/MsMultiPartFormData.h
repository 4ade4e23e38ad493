#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "gateway/Streams.h"
#include "platform/Clock.h"

namespace tidewell {

// The body of a multipart/form-data request. Text goes on the wire as CP949 bytes. A file part
// is not copied: the body keeps the file open and reads it while the request is sent, so an
// archive of any size costs no memory, and the Content-Length is known before the send.
class TMsMultiPartFormDataStream : public RequestBody {
public:
    explicit TMsMultiPartFormDataStream(const Clock& clock = SystemClock());
    ~TMsMultiPartFormDataStream() override;
    TMsMultiPartFormDataStream(const TMsMultiPartFormDataStream&) = delete;
    TMsMultiPartFormDataStream& operator=(const TMsMultiPartFormDataStream&) = delete;

    // 27 hyphens and the construction time as "mmddyyhhnnsszzz".
    const std::string Boundary;
    // "multipart/form-data; boundary=" and the boundary: the request's Content-Type.
    const std::string ContentType;
    // True until a part is written, and again after CloseBody.
    bool FirstPart() const { return firstPart_; }

    void AddField(const std::string& fieldName, const std::string& value);
    // Raises Exception when the file can't be opened or is not a plain file. Sending fails
    // with a clear error if the file has changed since. The part header names the file as
    // headerName when one is given, else as fileName.
    void AddFilePart(const std::string& fieldName, const std::string& fileName,
                     const std::string& contentType, const std::string& headerName = {});
    // Copies the whole stream, read from its start; fileName only goes into the part header.
    void AddStreamPart(const std::string& fieldName, const std::string& fileName,
                       const std::string& contentType, std::istream& stream);
    // Appends the closing delimiter and rewinds the body for sending.
    void CloseBody();

    std::uint64_t Size() const override { return size_; }
    std::uint64_t Position() const override { return position_; }
    void Seek(std::uint64_t position) override;
    std::size_t Read(char* buffer, std::size_t count) override;

private:
    struct OpenFile;
    struct Segment {
        std::uint64_t start = 0;
        std::uint64_t length = 0;
        std::string bytes;               // when file is empty
        std::shared_ptr<OpenFile> file;  // the whole file, read at send time
    };

    void AppendText(const std::string& ansi);
    void AppendFile(std::shared_ptr<OpenFile> file, std::uint64_t length);
    void AppendFileHeader(const std::string& fieldName, const std::string& fileName,
                          const std::string& contentType);
    std::size_t ReadFile(const Segment& segment, std::uint64_t offset, char* buffer,
                         std::size_t count);

    std::vector<Segment> segments_;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
    std::size_t current_ = 0;  // the segment that holds position_
    bool firstPart_ = true;
};

}  // namespace tidewell
