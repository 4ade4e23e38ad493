#pragma once

#include <optional>
#include <string>

namespace tidewell::cli {

// Whose password: the service's address and the user ID, the two attributes of the entry.
struct LoginKey {
    std::string ServiceURL;
    std::string UserID;
};

// The desktop's keyring (Secret Service on the session bus, through libsecret).
// Every call answers with what happened; error says why when the keyring could not be used
// (no session bus, no Secret Service on it, a locked keyring nobody unlocked).
struct KeyringAnswer {
    bool ok = false;
    std::string error;
};

KeyringAnswer StoreInKeyring(const LoginKey& key, const std::string& password);

// The stored password; nullopt when there is none or the keyring can't be used (see error).
std::optional<std::string> LookUpInKeyring(const LoginKey& key, std::string* error = nullptr);

// ok is true when the keyring answered, whether or not an entry was there; removed says which.
KeyringAnswer RemoveFromKeyring(const LoginKey& key, bool* removed = nullptr);

}  // namespace tidewell::cli
