#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "ArchiveStore.h"
#include "Authenticator.h"
#include "MultipartReader.h"
#include "Reply.h"
#include "RequestLog.h"
#include "WorkerPool.h"

namespace tidewell::webfolder {

// Takes the upload page's multipart body part by part as it arrives. The text fields come
// first and are held in memory, each bounded; the file part goes to the archive store's writer,
// and only after the account, the period, the name and the quota have been checked. A refused
// upload keeps reading (and dropping) the rest of the body, so the client, which sends everything
// before it reads, still gets the reply.
//
// Parsing runs on a serving thread; the checks, the writes and the storing are work for the
// lanes: the receiver asks the reader to stop when such work is due (TakeWork gives it). The
// bytes are sealed (flushed, or sent on into the object store) on the objects lane, and named
// by the index on the storage lane after that.
class UploadReceiver : public MultipartSink {
public:
    static constexpr std::size_t kMaxFieldBytes = 4096;
    static constexpr int kMaxParts = 16;
    // The file's bytes go to the writer in pieces this large.
    static constexpr std::size_t kWriteBytes = 1024 * 1024;

    UploadReceiver(Authenticator& authenticator, const ArchiveStore& archives, std::int64_t now,
                   std::string address);

    bool PartBegins(std::string_view name, std::string_view filename) override;
    bool PartData(const char* data, std::size_t size) override;
    // The work due since the reader stopped; empty when there is none.
    Work TakeWork();
    // The body has ended (complete: it was a whole, well-formed multipart body): the work
    // that stores the archive, if any; Result is the reply afterwards.
    Work Finish(bool complete);
    Reply Result() const { return result_ ? *result_ : Reply(ReplyStatus::ServerError); }

    const RequestNote& Note() const { return note_; }

private:
    enum class Target { Field, File, Discard };

    void StartPart(std::string_view name, std::string_view filename);
    void StartFile(std::string_view filename);
    void FileChecked(LoginResult login, std::string filename);
    void WriteBuffered();
    void Seal();
    void Store();
    // Runs a step of work, turning its failure into the reply.
    void Guarded(const std::function<void()>& step);
    void Fail(const std::exception& error);
    void Refuse(Reply reply);
    std::optional<std::string> Field(std::string_view name) const;  // CP949 read, in UTF-8

    Authenticator& authenticator_;
    const ArchiveStore& archives_;
    std::int64_t now_;
    std::string address_;

    std::map<std::string, std::string> fields_;  // lower-case name -> raw bytes
    std::string* currentField_ = nullptr;
    Target target_ = Target::Discard;
    int parts_ = 0;
    bool fileSeen_ = false;

    std::optional<Account> account_;
    std::string companyKey_;
    std::string archiveName_;
    std::unique_ptr<ArchiveWriter> file_;
    std::string buffer_;  // file bytes not written yet
    std::int64_t maxBytes_ = 0;
    Work due_;

    std::optional<Reply> refusal_;
    std::optional<Reply> result_;
    RequestNote note_;
};

}  // namespace tidewell::webfolder
