#pragma once

#include <functional>
#include <string>
#include <vector>

#include "gateway/HttpClient.h"
#include "gateway/Streams.h"
#include "platform/FileHandle.h"

namespace tidewell {

// The archive name a download reply announces: the last header line holding both
// "Content-Disposition" and "filename=" decides; a quoted name ends at its closing quote
// ("" inside reads as one quote), an unquoted one runs to the end of the line. CP949 bytes.
std::string ContentDispositionFileName(const std::vector<std::string>& headerLines);

// The name as a plain file name in UTF-8: a drive and any folders are dropped, and a name
// that is then empty, "." or "..", or holds control characters, counts as no name.
std::string PlainFileName(const std::string& utf8Name);

// The sink of a download. An archive streams into a hidden temporary file in the work folder
// and takes its final name only in Finish, once the whole reply has arrived, so an interrupted
// download never leaves a truncated archive under that name. Any other reply is kept as text.
class DownloadReply : public ReplySink {
public:
    // The client's reply headers decide, once the body starts (or in Finish when it is empty).
    // A text reply longer than textLimit fails the request.
    // An archive is saved in folder; empty means the work folder, made only when an archive
    // arrives.
    DownloadReply(const HttpClient& client, std::size_t textLimit, std::string folder = {})
        : client_(client), folder_(std::move(folder)), text_(textLimit) {}
    ~DownloadReply() override;
    DownloadReply(const DownloadReply&) = delete;
    DownloadReply& operator=(const DownloadReply&) = delete;

    void Write(const char* data, std::size_t count) override;

    // Told the archive's name (empty for a text reply) as soon as the reply's headers decide it.
    std::function<void(const std::string& fileName)> OnDecided;

    // True when the reply carried an archive, now saved as Folder() + "/" + FileName().
    bool Finish();
    const std::string& FileName() const { return fileName_; }
    const std::string& Folder() const { return folder_; }
    // The body of a reply without an archive.
    const std::string& Text() const { return text_.Bytes(); }

private:
    void Decide();

    const HttpClient& client_;
    bool decided_ = false;
    std::string fileName_;
    std::string folder_;
    std::string tempPath_;  // set while an unfinished temporary file exists
    FileHandle file_;
    MemorySink text_;
};

}  // namespace tidewell
