#include "Reply.h"

#include <limits>

#include "TextRules.h"
#include "platform/CodePage.h"

namespace tidewell::webfolder {

std::string_view StatusMessage(ReplyStatus status) {
    switch (status) {
        case ReplyStatus::Ok:
            return "";
        case ReplyStatus::LoginFailed:
            return "아이디 또는 비밀번호가 올바르지 않습니다.";
        case ReplyStatus::BadRequest:
            return "잘못된 요청입니다.";
        case ReplyStatus::UnknownCompany:
            return "웹폴더에 없는 사업장입니다.";
        case ReplyStatus::PeriodEnded:
            return "사용기한이 만료되어 파일을 올릴 수 없습니다. 서비스 연장신청을 해 주세요.";
        case ReplyStatus::QuotaExceeded:
            return "웹폴더 용량이 부족하여 파일을 올릴 수 없습니다.";
        case ReplyStatus::BadArchiveName:
            return "백업 파일의 이름이 올바르지 않습니다.";
        case ReplyStatus::NoArchive:
            return "내려받을 백업 파일이 없습니다.";
        case ReplyStatus::NotAllowed:
            return "이 웹폴더에서는 허용되지 않는 작업입니다.";
        case ReplyStatus::ServerError:
            return "서버에서 오류가 발생하였습니다. 잠시 후 다시 시도해 주세요.";
    }
    return "";
}

Reply::Reply(ReplyStatus status) : Reply(status, std::string(StatusMessage(status))) {}

Reply::Reply(ReplyStatus status, std::string message)
    : status_(status), message_(std::move(message)) {}

Reply& Reply::Add(std::string key, std::string value) {
    lines_.emplace_back(std::move(key), std::move(value));
    return *this;
}

Reply& Reply::AddNumber(std::string key, std::int64_t value) {
    return Add(std::move(key), std::to_string(ClampToInt32(value)));
}

std::string Reply::Encode() const {
    std::string text = "STATUS=" + std::to_string(static_cast<int>(status_)) + "\r\n";
    text += "MESSAGE=" + ReplaceControls(message_) + "\r\n";
    for (const auto& [key, value] : lines_) text += key + "=" + ReplaceControls(value) + "\r\n";
    return Utf8ToAnsi(text);
}

std::int64_t ClampToInt32(std::int64_t value) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
    return value > kMax ? kMax : value < kMin ? kMin : value;
}

}  // namespace tidewell::webfolder
