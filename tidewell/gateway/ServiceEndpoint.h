#pragma once

#include <string>

namespace tidewell {

// Where the service answers when the configuration does not say otherwise.
inline constexpr const char* kDefaultServiceURL = "http://127.0.0.1:8080";

// The web-folder service a run talks to: its scheme, host and optional port, and the
// certificate authority that signs it when that is not one the system trusts.
struct ServiceEndpoint {
    std::string URL = kDefaultServiceURL;
    std::string CAFile;  // empty: the system's authorities
};

}  // namespace tidewell
