#include "Keyring.h"

#include <libsecret/secret.h>

#include <memory>

#include "SessionBusErrors.h"

namespace tidewell::cli {
namespace {

// Our entries: a schema of their own, so nothing else's passwords ever match.
const SecretSchema* Schema() {
    static const SecretSchema schema = {"tidewell.WebFolderLogin",
                                        SECRET_SCHEMA_NONE,
                                        {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                        0,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr};
    return &schema;
}

// libsecret hands out passwords in memory it wipes again on free.
struct SecretPasswordFree {
    void operator()(gchar* password) const { secret_password_free(password); }
};
using SecretPassword = std::unique_ptr<gchar, SecretPasswordFree>;

std::string ErrorText(const GError* error) {
    return SessionBusErrorText(error);
}

}  // namespace

KeyringAnswer StoreInKeyring(const LoginKey& key, const std::string& password) {
    const std::string label =
        "Tidewell 웹폴더 비밀번호 (" + key.UserID + ", " + key.ServiceURL + ")";
    g_autoptr(GError) error = nullptr;
    const bool stored = secret_password_store_sync(
        Schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), password.c_str(), nullptr, &error,
        "service", key.ServiceURL.c_str(), "user", key.UserID.c_str(), nullptr);
    if (stored) return {true, {}};
    return {false, ErrorText(error)};
}

std::optional<std::string> LookUpInKeyring(const LoginKey& key, std::string* errorText) {
    g_autoptr(GError) error = nullptr;
    const SecretPassword password(secret_password_lookup_sync(Schema(), nullptr, &error, "service",
                                                              key.ServiceURL.c_str(), "user",
                                                              key.UserID.c_str(), nullptr));
    if (error && errorText) *errorText = ErrorText(error);
    if (!password) return std::nullopt;
    return std::string(password.get());
}

KeyringAnswer RemoveFromKeyring(const LoginKey& key, bool* removed) {
    g_autoptr(GError) error = nullptr;
    const bool cleared =
        secret_password_clear_sync(Schema(), nullptr, &error, "service", key.ServiceURL.c_str(),
                                   "user", key.UserID.c_str(), nullptr);
    if (removed) *removed = cleared;
    if (error) return {false, ErrorText(error)};
    return {true, {}};
}

}  // namespace tidewell::cli
