#include "CredentialCache.h"

#include <nettle/hmac.h>
#include <nettle/memops.h>

#include "SystemRandom.h"

namespace tidewell::webfolder {

CredentialCache::CredentialCache(std::chrono::seconds lifetime, std::size_t maxEntries)
    : lifetime_(lifetime), maxEntries_(maxEntries) {
    FillRandom(key_.data(), key_.size());
}

CredentialCache::Digest CredentialCache::DigestOf(std::string_view password) const {
    Digest digest{};
    hmac_sha256_ctx context;
    hmac_sha256_set_key(&context, key_.size(), key_.data());
    hmac_sha256_update(&context, password.size(),
                       reinterpret_cast<const std::uint8_t*>(password.data()));
    hmac_sha256_digest(&context, digest.size(), digest.data());
    return digest;
}

bool CredentialCache::Matches(std::int64_t accountId, std::string_view record,
                              std::string_view password, Clock::time_point now) const {
    const Digest digest = DigestOf(password);
    std::lock_guard lock(mutex_);
    const auto found = entries_.find(accountId);
    if (found == entries_.end() || found->second.expires <= now || found->second.record != record) {
        return false;
    }
    return nettle_memeql_sec(found->second.digest.data(), digest.data(), digest.size()) != 0;
}

void CredentialCache::Remember(std::int64_t accountId, std::string_view record,
                               std::string_view password, Clock::time_point now) {
    const Digest digest = DigestOf(password);
    std::lock_guard lock(mutex_);
    if (entries_.size() >= maxEntries_ && entries_.count(accountId) == 0) {
        std::erase_if(entries_, [&](const auto& item) { return item.second.expires <= now; });
        if (entries_.size() >= maxEntries_) entries_.clear();  // rare; costs a check each
    }
    entries_[accountId] = Entry{std::string(record), digest, now + lifetime_};
}

}  // namespace tidewell::webfolder
