#include "usecase/Configuration.h"

namespace tidewell {

TConfiguration ResolveConfiguration(const TProgramEnvironment& environment) {
    TConfiguration configuration;
    if (!environment.ServiceURL.empty()) {
        configuration.Service.URL = environment.ServiceURL;
        configuration.ServiceFromEnvironment = true;
    }
    configuration.Service.CAFile = environment.CAFile;
    configuration.Places =
        WorkPlacesInputOf(environment.RuntimeDir, environment.TempDir, environment.Home);
    return configuration;
}

}  // namespace tidewell
