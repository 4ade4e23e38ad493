// What a program's main reads of its environment becomes the configuration handed down.
#include <gtest/gtest.h>

#include "gateway/TidewellGateway.h"
#include "usecase/Configuration.h"

namespace tidewell {
namespace {

TEST(ServiceURL, ComesFromTheEnvironmentOrTheDefault) {
    TProgramEnvironment environment;
    environment.ServiceURL = "http://backup.example:9000/";
    const TTidewellGateway configured(ResolveConfiguration(environment).Service);
    environment.ServiceURL.clear();
    const TTidewellGateway fallback(ResolveConfiguration(environment).Service);

    EXPECT_EQ(configured.GatewayURL, "http://backup.example:9000/tidewellweb/gateway.asp");
    EXPECT_EQ(configured.UploadURL, "http://backup.example:9000/tidewellweb/gwupload.asp");
    EXPECT_EQ(configured.DownloadURL, "http://backup.example:9000/tidewellweb/gwdownload.asp");
    EXPECT_EQ(fallback.GatewayURL, std::string(kDefaultServiceURL) + "/tidewellweb/gateway.asp");
}

TEST(Configuration, TheCertificateAuthorityAndTheFoldersComeFromTheMainsValues) {
    TProgramEnvironment environment;
    environment.CAFile = "/etc/shop/ca.pem";
    environment.TempDir = "relative";  // not a folder one can rely on
    environment.RuntimeDir = "/run/user/4242";
    environment.Home = "/home/shop";
    const TConfiguration configuration = ResolveConfiguration(environment);
    EXPECT_EQ(configuration.Service.CAFile, "/etc/shop/ca.pem");
    EXPECT_EQ(TTidewellGateway(configuration.Service).HttpClient->CAFile, "/etc/shop/ca.pem");
    EXPECT_EQ(configuration.Places.tempFolder, "/tmp");
    EXPECT_EQ(configuration.Places.runtimeFolder, "/run/user/4242");
    EXPECT_EQ(configuration.Places.home, "/home/shop");
}

}  // namespace
}  // namespace tidewell
