// What a program's main reads of its environment becomes the configuration handed down.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "gateway/TidewellGateway.h"
#include "platform/SettingsHive.h"
#include "usecase/Configuration.h"
#include "usecase/ProgramSettings.h"

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

// The window's service: the variable first, then the address chosen in its settings, then the one
// tidewell-cli login kept, then the built-in one; an address that is none is passed over.
TEST(WindowService, TheVariableThenTheSettingsThenTheKeptLogin) {
    test::TempDir dir;
    SettingsHive hive(dir / "registry.db");
    TProgramEnvironment environment;
    const TConfiguration plain = ResolveConfiguration(environment);
    environment.ServiceURL = "http://variable:1";
    const TConfiguration fromVariable = ResolveConfiguration(environment);
    const auto choose = [&](const TConfiguration& configuration, const std::string& kept) {
        const TServiceChoice choice = ChooseWindowService(configuration, hive, kept);
        return std::make_pair(choice.URL, choice.Source);
    };

    EXPECT_EQ(choose(plain, ""),
              std::make_pair(std::string(kDefaultServiceURL), TServiceChoice::ssDefault));
    EXPECT_EQ(choose(plain, "https://kept:8443/"),
              std::make_pair(std::string("https://kept:8443"), TServiceChoice::ssKeptLogin));
    EXPECT_EQ(choose(plain, "kept:8443"),  // no scheme: not an address
              std::make_pair(std::string(kDefaultServiceURL), TServiceChoice::ssDefault));
    SetChosenServiceURL(hive, "http://chosen:2");
    EXPECT_EQ(choose(plain, "https://kept:8443"),
              std::make_pair(std::string("http://chosen:2"), TServiceChoice::ssSettings));
    EXPECT_EQ(choose(fromVariable, "https://kept:8443"),
              std::make_pair(std::string("http://variable:1"), TServiceChoice::ssEnvironment));
    SetChosenServiceURL(hive, "");
    EXPECT_EQ(choose(plain, "https://kept:8443").second, TServiceChoice::ssKeptLogin);
}

TEST(WindowService, ATypedAddressIsTakenOnlyAsAServicesAddress) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {" https://backup.example/ ", "https://backup.example"},
        {"HTTP://127.0.0.1:8080", "http://127.0.0.1:8080"},
        {"backup.example", ""},
        {"ftp://backup.example", ""},
        {"http://backup.example/tidewellweb", ""},
        {"http://user@backup.example", ""},
        {"http://", ""},
        {"http://backup example", ""},
    };
    for (const auto& [typed, address] : cases) EXPECT_EQ(ServiceAddressOf(typed), address) << typed;
}

}  // namespace
}  // namespace tidewell
