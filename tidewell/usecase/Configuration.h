#pragma once

#include <string>

#include "gateway/ServiceEndpoint.h"
#include "platform/TempFolder.h"

namespace tidewell {

// The environment variables a program's main reads, as it found them (empty when unset). Only
// the mains read the environment; everything below gets what it needs from the configuration.
struct TProgramEnvironment {
    std::string ServiceURL;  // TIDEWELL_SERVICE_URL
    std::string CAFile;      // TIDEWELL_CA_FILE
    std::string TempDir;     // TMPDIR
    std::string RuntimeDir;  // XDG_RUNTIME_DIR
    std::string Home;        // HOME
};

// What a run works with, decided once when the program starts and handed down from there.
struct TConfiguration {
    ServiceEndpoint Service;              // the variable's service, else the built-in default
    WorkPlacesInput Places;               // where this user's work folder and operation lock are
    bool ServiceFromEnvironment = false;  // the variable named the service
};

TConfiguration ResolveConfiguration(const TProgramEnvironment& environment);

}  // namespace tidewell
