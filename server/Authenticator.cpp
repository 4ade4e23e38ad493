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

Authenticator::Authenticator(const AccountStore& accounts, int iterations,
                             std::unique_ptr<LoginThrottle> throttle)
    : accounts_(accounts), iterations_(iterations), throttle_(std::move(throttle)) {}

Work Authenticator::Login(Credentials credentials, RequestNote& note, Then then) {
    return Work(Lane::Storage,
                [this, credentials = std::move(credentials), &note,
                 then = std::move(then)]() mutable -> Work {
                    auto prepared = Prepare(credentials, note);
                    if (auto* done = std::get_if<LoginResult>(&prepared))
                        return then(std::move(*done));
                    auto check = std::get<Check>(std::move(prepared));
                    return Work(Lane::Password, [this, check = std::move(check), &note,
                                                 then = std::move(then)]() mutable {
                        auto verified = std::make_shared<Verified>(Verify(std::move(check)));
                        return Work(Lane::Storage, [this, verified, &note, then = std::move(then)] {
                            return then(Finish(std::move(*verified), note));
                        });
                    });
                });
}

LoginResult Authenticator::LoginNow(const Credentials& credentials, RequestNote& note) {
    auto prepared = Prepare(credentials, note);
    if (auto* done = std::get_if<LoginResult>(&prepared)) return std::move(*done);
    return Finish(Verify(std::get<Check>(std::move(prepared))), note);
}

std::variant<LoginResult, Authenticator::Check> Authenticator::Prepare(
    const Credentials& credentials, RequestNote& note) {
    const std::string_view rawId = StripBlanks(credentials.userId);
    // No account has such an ID: refused before anything is looked up or kept.
    if (rawId.size() > kMaxUserIdBytes) {
        note.account = std::string(rawId.substr(0, kMaxUserIdBytes)) + "...";
        note.Add("login", "failed");
        return LoginResult{};
    }
    note.account = credentials.userId;
    // As the client strips blanks, so does the service; the bytes must then be CP949 as a
    // whole, or nothing matches.
    const auto id = StrictAnsiToUtf8(rawId);
    const auto secret = StrictAnsiToUtf8(StripBlanks(credentials.password));
    if (!id || !secret || id->empty() || secret->empty()) {
        note.Add("login", "failed");
        return LoginResult{};
    }

    const auto now = LoginThrottle::Clock::now();
    if (const auto wait = throttle_->Wait(*id, credentials.address, now); wait.count() > 0) {
        note.Add("login", "refused");
        note.Add("wait", std::to_string(wait.count()));
        return LoginResult{std::nullopt, wait};
    }
    auto account = accounts_.Find(*id);
    if (account && cache_.Matches(account->id, account->passwordRecord, *secret, now)) {
        return LoginResult{std::move(account)};
    }
    return Check{*id, *secret, credentials.address, std::move(account), now};
}

Authenticator::Verified Authenticator::Verify(Check check) {
    const std::optional<Account>& account = check.account;
    // Every wrong password costs what a current record's check costs.
    const int spent = account ? RecordIterations(account->passwordRecord) : 0;
    Verified verified;
    verified.right = account && spent > 0 && VerifyPassword(check.secret, account->passwordRecord);
    if (!verified.right && spent < iterations_) {
        SpendPasswordCheck(check.secret, iterations_ - spent);
    }
    if (verified.right && PasswordNeedsUpgrade(account->passwordRecord, iterations_)) {
        verified.upgrade = HashPassword(check.secret, iterations_);
    }
    verified.check = std::move(check);
    return verified;
}

LoginResult Authenticator::Finish(Verified verified, RequestNote& note) {
    Check& check = verified.check;
    if (!verified.right) {
        const auto wait = throttle_->Failed(check.id, check.address, check.now);
        note.Add("login", "failed");
        if (wait.count() > 0) note.Add("wait", std::to_string(wait.count()));
        return LoginResult{std::nullopt, wait};
    }
    throttle_->Succeeded(check.id, check.address);
    Account& account = *check.account;
    if (verified.upgrade) {
        // A failed upgrade (a full disk) costs nothing but the next login's time.
        try {
            if (accounts_.ReplacePasswordRecord(account.id, account.passwordRecord,
                                                *verified.upgrade)) {
                account.passwordRecord = *verified.upgrade;
                note.Add("rehashed", std::to_string(iterations_));
            }
        } catch (const std::exception& error) {
            note.Add("rehash-error", error.what());
        }
    }
    // Only a digest of the password stays, for the record it matched: a new password set
    // through any instance of the service reads as another record here, and misses.
    cache_.Remember(account.id, account.passwordRecord, check.secret, LoginThrottle::Clock::now());
    return LoginResult{std::move(check.account)};
}

}  // namespace tidewell::webfolder
