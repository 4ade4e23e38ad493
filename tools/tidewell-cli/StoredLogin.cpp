#include "StoredLogin.h"

#include <unistd.h>

#include "platform/Error.h"
#include "usecase/KeptLogin.h"
#include "usecase/KeyValueFile.h"

namespace fs = std::filesystem;

namespace tidewell::cli {

fs::path StoredLoginFile() {
    return KeptLoginFile();
}

std::optional<StoredLogin> ReadStoredLogin() {
    const fs::path file = StoredLoginFile();
    const auto content = ReadKeyValueFile(file);
    if (!content) return std::nullopt;
    StoredLogin login;
    login.Key.ServiceURL = ValueOf(content->values, "ServiceURL");
    login.Key.UserID = ValueOf(content->values, "UserID");
    if (login.Key.UserID.empty()) return std::nullopt;
    if (ValueOf(content->values, "PasswordIn") == "file") {
        // As ssh does with its keys: a password others can read is no longer a secret.
        login.Place = StoredLogin::plFile;
        if ((content->mode & 077) != 0 || content->owner != getuid()) {
            login.Distrusted = file.string() +
                               " 파일을 다른 사용자도 읽을 수 있어 그 안의 비밀번호를 쓰지 "
                               "않습니다. tidewell-cli login --file로 다시 저장하세요";
        } else {
            login.Password = ValueOf(content->values, "Password");
        }
    }
    return login;
}

void WriteStoredLogin(const StoredLogin& login) {
    KeyValues values = {{"ServiceURL", login.Key.ServiceURL}, {"UserID", login.Key.UserID}};
    if (login.Place == StoredLogin::plFile) {
        values.emplace_back("PasswordIn", "file");
        values.emplace_back("Password", login.Password);
    } else {
        values.emplace_back("PasswordIn", "keyring");
    }
    ReplaceFile(StoredLoginFile(),
                "# tidewell-cli login wrote this file; tidewell-cli logout removes it\n" +
                    KeyValueText(values),
                0600);
}

bool RemoveStoredLogin() {
    std::error_code ignored;
    return fs::remove(StoredLoginFile(), ignored);
}

std::optional<std::string> StoredPassword(const LoginKey& key,
                                          const std::optional<StoredLogin>& login,
                                          std::string* why) {
    if (login && login->Place == StoredLogin::plFile && login->Key.ServiceURL == key.ServiceURL &&
        login->Key.UserID == key.UserID) {
        if (!login->Distrusted.empty()) throw Exception(login->Distrusted);
        return login->Password;
    }
    return LookUpInKeyring(key, why);
}

}  // namespace tidewell::cli
