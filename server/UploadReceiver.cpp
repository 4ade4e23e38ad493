#include "UploadReceiver.h"

#include <errno.h>

#include <algorithm>

#include "ArchiveName.h"
#include "TextRules.h"
#include "UploadFile.h"
#include "platform/CodePage.h"
#include "platform/Error.h"

namespace tidewell::webfolder {
namespace {

Reply FailureReply(const std::exception& error) {
    if (const auto* file = dynamic_cast<const SystemError*>(&error);
        file && file->code() == EFBIG) {
        return Reply(ReplyStatus::ServerError,
                     "파일이 서버가 한 파일에 쓸 수 있는 크기를 넘어 올릴 수 없습니다. 관리자에게 "
                     "알려 주세요.");
    }
    if (!IsDiskFull(error)) return Reply(ReplyStatus::ServerError);
    return Reply(ReplyStatus::ServerError,
                 "서버의 저장 공간이 부족하여 파일을 올릴 수 없습니다. 관리자에게 알려 주세요.");
}

Reply VerdictReply(UploadVerdict verdict) {
    switch (verdict) {
        case UploadVerdict::Accepted:
            return Reply(ReplyStatus::Ok);
        case UploadVerdict::QuotaExceeded:
            return Reply(ReplyStatus::QuotaExceeded);
        case UploadVerdict::PeriodEnded:
            return Reply(ReplyStatus::PeriodEnded);
        case UploadVerdict::AccountMissing:
            return Reply(ReplyStatus::LoginFailed);
        case UploadVerdict::CompanyLimit:
            return Reply(ReplyStatus::QuotaExceeded,
                         "웹폴더에 둘 수 있는 사업장 수를 넘어 새 사업장을 올릴 수 없습니다.");
        case UploadVerdict::NameTaken:
            return Reply(ReplyStatus::NotAllowed,
                         "이 웹폴더는 보관 전용이라 같은 이름의 백업 파일을 바꿀 수 없습니다.");
    }
    return Reply(ReplyStatus::ServerError);
}

}  // namespace

UploadReceiver::UploadReceiver(Authenticator& authenticator, const ArchiveStore& archives,
                               std::int64_t now, std::string address)
    : authenticator_(authenticator), archives_(archives), now_(now), address_(std::move(address)) {}

bool UploadReceiver::PartBegins(std::string_view name, std::string_view filename) {
    Guarded([&] { StartPart(name, filename); });
    return static_cast<bool>(due_);
}

bool UploadReceiver::PartData(const char* data, std::size_t size) {
    switch (target_) {
        case Target::Discard:
            return false;
        case Target::Field:
            if (currentField_->size() + size > kMaxFieldBytes) {
                Refuse(Reply(ReplyStatus::BadRequest, "입력값이 너무 깁니다."));
                return false;
            }
            currentField_->append(data, size);
            return false;
        case Target::File:
            if (file_->Size() + static_cast<std::int64_t>(buffer_.size() + size) > maxBytes_) {
                Refuse(Reply(ReplyStatus::QuotaExceeded));
                return false;
            }
            buffer_.append(data, size);
            if (buffer_.size() < kWriteBytes) return false;
            due_ = LastStep(Lane::Storage, [this] { Guarded([this] { WriteBuffered(); }); });
            return true;
    }
    return false;
}

Work UploadReceiver::TakeWork() {
    return std::exchange(due_, Work());
}

void UploadReceiver::StartPart(std::string_view name, std::string_view filename) {
    currentField_ = nullptr;
    target_ = Target::Discard;
    if (refusal_) return;
    if (++parts_ > kMaxParts) {
        return Refuse(Reply(ReplyStatus::BadRequest, "항목이 너무 많습니다."));
    }
    const std::string key = LowerAscii(name);
    if (key == "file") return StartFile(filename);
    if (fields_.count(key) != 0) return;  // the first of a name counts
    currentField_ = &fields_[key];
    target_ = Target::Field;
}

void UploadReceiver::StartFile(std::string_view filename) {
    if (fileSeen_) return Refuse(Reply(ReplyStatus::BadRequest, "파일은 하나만 올릴 수 있습니다."));
    fileSeen_ = true;
    const auto userId = fields_.find("userid");
    const auto password = fields_.find("password");
    if (userId == fields_.end() || password == fields_.end() || !Field("companykey")) {
        return Refuse(
            Reply(ReplyStatus::BadRequest, "계정과 사업장 정보가 파일보다 먼저 와야 합니다."));
    }
    due_ = authenticator_.Login(
        {userId->second, password->second, address_}, note_,
        [this, filename = std::string(filename)](LoginResult login) {
            return LastStep(Lane::Storage, [this, login = std::move(login), filename]() mutable {
                Guarded([&] { FileChecked(std::move(login), filename); });
            });
        });
}

void UploadReceiver::FileChecked(LoginResult login, std::string filename) {
    if (!login.account) return Refuse(login.Refusal());
    account_ = std::move(login.account);
    if (PeriodEnded(account_->expireAt, now_)) return Refuse(Reply(ReplyStatus::PeriodEnded));
    companyKey_ = *Field("companykey");
    if (!IsCompanyKey(companyKey_)) {
        return Refuse(Reply(ReplyStatus::BadRequest, "사업장키가 올바르지 않습니다."));
    }
    archiveName_ = std::string(LastPathComponent(filename));
    note_.Add("file", filename);
    if (!IsArchiveName(archiveName_)) return Refuse(Reply(ReplyStatus::BadArchiveName));
    if (IsFromTheFuture(archiveName_, now_)) {
        return Refuse(
            Reply(ReplyStatus::BadArchiveName,
                  "백업 파일 이름의 시각이 서버 시계보다 하루 넘게 앞서 있습니다. 컴퓨터의 "
                  "날짜와 시각을 확인해 주세요."));
    }

    const UploadRoom room = archives_.RoomFor(*account_, companyKey_, archiveName_);
    if (room.verdict != UploadVerdict::Accepted) return Refuse(VerdictReply(room.verdict));
    // A name too long for the index starts no company; a company stored with one by an
    // earlier version keeps taking archives under the name it has.
    const auto companyName = fields_.find("companyname");
    if (companyName != fields_.end() && companyName->second.size() > kMaxCompanyNameBytes) {
        if (room.newCompany) {
            return Refuse(Reply(ReplyStatus::BadRequest, "사업장명이 너무 깁니다. " +
                                                             std::to_string(kMaxCompanyNameBytes) +
                                                             "바이트까지 쓸 수 있습니다."));
        }
        fields_.erase(companyName);
    }
    file_ = archives_.NewWriter(account_->id, archiveName_);
    buffer_.reserve(kWriteBytes + 64 * 1024);
    maxBytes_ = room.maxBytes;
    target_ = Target::File;
}

void UploadReceiver::WriteBuffered() {
    if (!file_ || buffer_.empty()) return;
    file_->Write(buffer_.data(), buffer_.size());
    buffer_.clear();
}

Work UploadReceiver::Finish(bool complete) {
    if (!complete) {
        file_.reset();
        result_ = Reply(ReplyStatus::BadRequest, "요청 본문이 올바르지 않습니다.");
        return {};
    }
    if (refusal_) {
        result_ = *refusal_;
        return {};
    }
    if (!fileSeen_) {
        result_ = Reply(ReplyStatus::BadRequest, "올린 파일이 없습니다.");
        return {};
    }
    if (file_->Size() + static_cast<std::int64_t>(buffer_.size()) == 0) {
        file_.reset();
        result_ = Reply(ReplyStatus::BadRequest, "빈 파일은 올릴 수 없습니다.");
        return {};
    }
    return Work(Lane::Objects, [this] {
        Guarded([this] { Seal(); });
        return LastStep(Lane::Storage, [this] {
            if (!refusal_) Guarded([this] { Store(); });
            if (refusal_) result_ = *refusal_;
            file_.reset();
        });
    });
}

void UploadReceiver::Seal() {
    WriteBuffered();
    file_->Seal();
}

void UploadReceiver::Store() {
    const NewArchive archive{companyKey_, ReplaceControls(Field("companyname").value_or("")),
                             archiveName_};
    const std::int64_t size = file_->Size();
    Reply reply = VerdictReply(archives_.Store(account_->id, archive, *file_, now_));
    if (reply.Status() == ReplyStatus::Ok) {
        reply.Add("FileName", archiveName_).AddNumber("FileSize", size);
    }
    result_ = std::move(reply);
}

void UploadReceiver::Guarded(const std::function<void()>& step) {
    try {
        step();
    } catch (const std::exception& error) {
        Fail(error);
    }
}

void UploadReceiver::Refuse(Reply reply) {
    if (!refusal_) refusal_ = std::move(reply);
    file_.reset();
    buffer_.clear();
    buffer_.shrink_to_fit();
    currentField_ = nullptr;
    target_ = Target::Discard;
}

void UploadReceiver::Fail(const std::exception& error) {
    note_.Add("error", error.what());
    Refuse(FailureReply(error));
}

std::optional<std::string> UploadReceiver::Field(std::string_view name) const {
    const auto found = fields_.find(std::string(name));
    if (found == fields_.end()) return std::nullopt;
    // The company name is sent as it stands; only the ID, password and key are stripped.
    const std::string text = AnsiToUtf8(found->second);
    if (name == "companyname") return text;
    return std::string(StripBlanks(text));
}

}  // namespace tidewell::webfolder
