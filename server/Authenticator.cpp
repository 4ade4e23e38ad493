#include "Authenticator.h"

#include "PasswordHash.h"
#include "TextRules.h"

namespace tidewell::webfolder {

Reply LoginResult::Refusal() const {
    if (wait.count() == 0) return Reply(ReplyStatus::LoginFailed);
    return Reply(ReplyStatus::LoginFailed, "로그인에 여러 번 실패하여 잠시 막혀 있습니다. " +
                                               std::to_string(wait.count()) +
                                               "초 후에 다시 시도해 주세요.");
}

Authenticator::Authenticator(const AccountStore& accounts, int iterations, ThrottleRules perAccount,
                             ThrottleRules perAddress)
    : accounts_(accounts), iterations_(iterations), guard_(perAccount, perAddress) {}

LoginResult Authenticator::Login(std::string_view userId, std::string_view password,
                                 std::string_view address, RequestNote& note) {
    note.account = std::string(userId);
    // As the client strips blanks, so does the service; the bytes must then be CP949 as a
    // whole, or nothing matches.
    const auto id = StrictAnsiToUtf8(StripBlanks(userId));
    const auto secret = StrictAnsiToUtf8(StripBlanks(password));
    if (!id || !secret || id->empty() || secret->empty()) {
        note.Add("login", "failed");
        return {};
    }

    const auto now = LoginGuard::Clock::now();
    if (const auto wait = guard_.Wait(*id, address, now); wait.count() > 0) {
        note.Add("login", "refused");
        note.Add("wait", std::to_string(wait.count()));
        return {std::nullopt, wait};
    }

    auto account = accounts_.Find(*id);
    if (account && cache_.Matches(account->id, account->passwordRecord, *secret, now)) {
        return {std::move(account)};
    }
    const bool verified = account ? VerifyPassword(*secret, account->passwordRecord)
                                  : (SpendPasswordCheck(*secret, iterations_), false);
    if (!verified) {
        const auto wait = guard_.Failed(*id, address, now);
        note.Add("login", "failed");
        if (wait.count() > 0) note.Add("wait", std::to_string(wait.count()));
        return {std::nullopt, wait};
    }

    guard_.Succeeded(*id);
    if (PasswordNeedsUpgrade(account->passwordRecord, iterations_)) {
        // A failed upgrade (a full disk) costs nothing but the next login's time.
        try {
            const std::string upgraded = HashPassword(*secret, iterations_);
            if (accounts_.ReplacePasswordRecord(account->id, account->passwordRecord, upgraded)) {
                account->passwordRecord = upgraded;
                note.Add("rehashed", std::to_string(iterations_));
            }
        } catch (const std::exception& error) {
            note.Add("rehash-error", error.what());
        }
    }
    cache_.Remember(account->id, account->passwordRecord, *secret, now);
    return {std::move(account)};
}

}  // namespace tidewell::webfolder
