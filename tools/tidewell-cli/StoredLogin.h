#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "Keyring.h"

namespace tidewell::cli {

// What `tidewell-cli login` left behind: the service and the user ID, so that a run with no
// environment at all (a scheduled one) knows whom to log in as, and where the password is.
struct StoredLogin {
    enum TPlace { plKeyring, plFile };
    LoginKey Key;
    TPlace Place = plKeyring;
    std::string Password;    // only with plFile
    std::string Distrusted;  // why the file's password is not used, when it isn't
};

// $XDG_CONFIG_HOME/QuenlowBarcode/tidewell-cli-login, mode 0600.
std::filesystem::path StoredLoginFile();

// Nullopt when nobody logged in. A password in a file that other users could read, or that
// belongs to someone else, is no secret any more: it is left out and Distrusted says why.
// Raises Exception only when the file is there but can't be read.
std::optional<StoredLogin> ReadStoredLogin();
void WriteStoredLogin(const StoredLogin& login);
// False when there was nothing to remove.
bool RemoveStoredLogin();

// The password stored for key: from the file when login put it there, else from the keyring.
// Nullopt when none is found; why then says what the keyring answered, if anything. Raises
// Exception when the file holds it but is distrusted.
std::optional<std::string> StoredPassword(const LoginKey& key,
                                          const std::optional<StoredLogin>& login,
                                          std::string* why);

}  // namespace tidewell::cli
