#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tidewell {

// What `tidewell-cli login` keeps beside the settings: the service and the user ID it logged
// in with (the password is in the desktop's keyring, or, when asked for, in the same file).
struct TKeptLogin {
    std::string ServiceURL;
    std::string UserID;
};

// $XDG_CONFIG_HOME/QuenlowBarcode/tidewell-cli-login, mode 0600.
std::filesystem::path KeptLoginFile();

// Nullopt when nobody logged in, or the file can't be read.
std::optional<TKeptLogin> ReadKeptLogin();

}  // namespace tidewell
