#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tidewell::webfolder {

inline constexpr char kReplyContentType[] = "text/plain; charset=euc-kr";

// The STATUS values of the service's text replies; the client only tells "0" from the rest.
enum class ReplyStatus : int {
    Ok = 0,
    LoginFailed = 1,
    BadRequest = 2,
    UnknownCompany = 3,
    PeriodEnded = 4,
    QuotaExceeded = 5,
    BadArchiveName = 6,
    NoArchive = 7,
    NotAllowed = 8,
    ServerError = 9,
};

// The Korean explanation sent as MESSAGE with a status.
std::string_view StatusMessage(ReplyStatus status);

// A KEY=value text reply. Keys and values are UTF-8 here and CP949 on the wire; STATUS and
// MESSAGE always come first, since the client takes the first line of a key.
class Reply {
public:
    explicit Reply(ReplyStatus status);
    Reply(ReplyStatus status, std::string message);

    Reply& Add(std::string key, std::string value);
    Reply& AddNumber(std::string key, std::int64_t value);

    ReplyStatus Status() const { return status_; }
    const std::string& Message() const { return message_; }
    // Lines ended by CR LF, in CP949.
    std::string Encode() const;

private:
    ReplyStatus status_;
    std::string message_;
    std::vector<std::pair<std::string, std::string>> lines_;
};

// The client reads numbers as signed 32-bit integers and takes anything larger as 0.
std::int64_t ClampToInt32(std::int64_t value);

}  // namespace tidewell::webfolder
