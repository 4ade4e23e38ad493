#include "Account.h"

#include <limits>

#include "TextRules.h"
#include "platform/Error.h"

namespace tidewell::webfolder {
namespace {

constexpr std::int64_t kDaySeconds = 86400;
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

bool HasControls(std::string_view text) {
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < ' ' || byte == 0x7F) return true;
    }
    return false;
}

void CheckText(std::string_view what, std::string_view text, std::size_t maxBytes) {
    if (text.empty()) throw Exception(std::string(what) + " must not be empty");
    if (StripBlanks(text) != text) {
        throw Exception(std::string(what) +
                        " must not begin or end with spaces: the client never sends them");
    }
    if (HasControls(text)) throw Exception(std::string(what) + " must not hold control characters");
    if (text.size() > maxBytes) {
        throw Exception(std::string(what) + " is longer than " + std::to_string(maxBytes) +
                        " bytes");
    }
    if (!FitsCodePage(text)) {
        throw Exception(std::string(what) +
                        " holds characters that CP949, the client's code page, can't carry");
    }
}

}  // namespace

int RemainingDays(std::int64_t expireAt, std::int64_t now) {
    if (expireAt == 0) return kOpenEndedRemainingDays;
    if (now >= expireAt) return 0;
    const std::int64_t days = (expireAt - now + kDaySeconds - 1) / kDaySeconds;
    return static_cast<int>(days > kInt32Max ? kInt32Max : days);
}

bool PeriodEnded(std::int64_t expireAt, std::int64_t now) {
    return RemainingDays(expireAt, now) == 0;
}

void CheckAccountSettings(const AccountSettings& settings, std::int64_t now) {
    CheckText("the ID", settings.userId, kMaxUserIdBytes);
    CheckText("the password", settings.password, 256);
    CheckText("the name", settings.name, 200);
    if (settings.days) {
        if (*settings.days < 0) throw Exception("--days must be 0 or more");
        const std::int64_t maxDays = (kInt32Max - now) / kDaySeconds;
        if (*settings.days > maxDays) {
            throw Exception("--days may be at most " + std::to_string(maxDays) +
                            ": the client reads the end of the period as a 32-bit time");
        }
    }
    if (settings.quota < 0 || settings.quota > kInt32Max) {
        throw Exception("--quota must be between 0 and " + std::to_string(kInt32Max) +
                        " bytes: the client reads it as a 32-bit integer");
    }
}

std::int64_t ExpireAtFor(const AccountSettings& settings, std::int64_t now) {
    if (!settings.days) return 0;
    return now + *settings.days * kDaySeconds;
}

}  // namespace tidewell::webfolder
