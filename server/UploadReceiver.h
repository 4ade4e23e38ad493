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
#include "Reply.h"
#include "RequestLog.h"
#include "TemporaryFile.h"

namespace tidewell::webfolder {

// Takes the upload page's multipart body part by part as it arrives. The text fields come
// first and are held in memory, each bounded; the file part goes straight to a temporary
// file, and only after the account, the period, the name and the quota have been checked.
// A refused upload keeps reading (and dropping) the rest of the body, so the client, which
// sends everything before it reads, still gets the reply.
class UploadReceiver {
public:
    static constexpr std::size_t kMaxFieldBytes = 4096;
    static constexpr int kMaxParts = 16;

    UploadReceiver(Authenticator& authenticator, const ArchiveStore& archives,
                   const DataFolder& folder, std::int64_t now, std::string address);

    void BeginPart(std::string_view name, std::string_view filename);
    void PartData(const char* data, std::size_t size);
    // complete: the body was a whole, well-formed multipart body.
    Reply Finish(bool complete);

    const RequestNote& Note() const { return note_; }

private:
    enum class Target { Field, File, Discard };

    void StartPart(std::string_view name, std::string_view filename);
    void StartFile(std::string_view filename);
    void TakeData(const char* data, std::size_t size);
    void Fail(const std::exception& error);
    void Refuse(Reply reply);
    std::optional<std::string> Field(std::string_view name) const;  // CP949 read, in UTF-8

    Authenticator& authenticator_;
    const ArchiveStore& archives_;
    const DataFolder& folder_;
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
    std::unique_ptr<TemporaryFile> file_;
    std::int64_t maxBytes_ = 0;

    std::optional<Reply> refusal_;
    RequestNote note_;
};

}  // namespace tidewell::webfolder
