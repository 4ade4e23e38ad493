#include "usecase/KeptLogin.h"

#include "usecase/KeyValueFile.h"

namespace tidewell {

std::filesystem::path KeptLoginFile() {
    return ProgramConfigFolder() / "tidewell-cli-login";
}

std::optional<TKeptLogin> ReadKeptLogin() {
    try {
        const auto content = ReadKeyValueFile(KeptLoginFile());
        if (!content) return std::nullopt;
        TKeptLogin login{ValueOf(content->values, "ServiceURL"),
                         ValueOf(content->values, "UserID")};
        if (login.UserID.empty()) return std::nullopt;
        return login;
    } catch (const std::exception&) {
        return std::nullopt;  // a file nobody can read keeps nobody logged in
    }
}

}  // namespace tidewell
