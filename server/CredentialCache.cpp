#include "CredentialCache.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include "platform/Error.h"

namespace tidewell::webfolder {

CredentialCache::CredentialCache(std::chrono::seconds lifetime, std::size_t maxEntries)
    : lifetime_(lifetime), maxEntries_(maxEntries) {
    if (RAND_bytes(key_.data(), static_cast<int>(key_.size())) != 1) {
        throw Exception("no random bytes for the credential cache");
    }
}

CredentialCache::Digest CredentialCache::DigestOf(std::string_view password) const {
    Digest digest{};
    unsigned int length = 0;
    if (!HMAC(EVP_sha256(), key_.data(), static_cast<int>(key_.size()),
              reinterpret_cast<const unsigned char*>(password.data()), password.size(),
              digest.data(), &length)) {
        throw Exception("HMAC-SHA256 is not available");
    }
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
    return CRYPTO_memcmp(found->second.digest.data(), digest.data(), digest.size()) == 0;
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
