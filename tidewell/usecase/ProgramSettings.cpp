#include "usecase/ProgramSettings.h"

#include <algorithm>

#include "company/CompanyRegistry.h"
#include "company/SafetyArchives.h"
#include "platform/Error.h"
#include "platform/FileKit.h"
#include "platform/SettingsHive.h"

namespace tidewell {
namespace {

constexpr const char* kSafetyArchivesKept = "SafetyArchivesKept";
constexpr const char* kServiceURL = "ServiceURL";

}  // namespace

int SafetyArchivesKept(SettingsHive& hive) {
    try {
        const auto key = hive.OpenKey(kProgramKey, false);
        const auto kept = key ? key->ReadInteger(kSafetyArchivesKept) : std::nullopt;
        if (kept) return std::clamp(*kept, 1, kMostSafetyArchivesKept);
    } catch (const Exception&) {
        // a value of the wrong type counts as none
    }
    return kDefaultSafetyArchivesKept;
}

void SetSafetyArchivesKept(SettingsHive& hive, int kept) {
    hive.OpenKey(kProgramKey, true)
        ->WriteInteger(kSafetyArchivesKept, std::clamp(kept, 1, kMostSafetyArchivesKept));
}

std::string ChosenServiceURL(SettingsHive& hive) {
    try {
        const auto key = hive.OpenKey(kProgramKey, false);
        if (key && key->ValueExists(kServiceURL)) return key->ReadString(kServiceURL);
    } catch (const Exception&) {
        // as none
    }
    return {};
}

void SetChosenServiceURL(SettingsHive& hive, const std::string& url) {
    auto key = hive.OpenKey(kProgramKey, true);
    if (url.empty()) {
        key->DeleteValue(kServiceURL);
    } else {
        key->WriteString(kServiceURL, url);
    }
}

TServiceChoice ChooseWindowService(const TConfiguration& configuration, SettingsHive& hive,
                                   const std::string& keptLoginService) {
    if (configuration.ServiceFromEnvironment) {
        return {configuration.Service.URL, TServiceChoice::ssEnvironment};
    }
    if (std::string chosen = ServiceAddressOf(ChosenServiceURL(hive)); !chosen.empty()) {
        return {chosen, TServiceChoice::ssSettings};
    }
    if (std::string kept = ServiceAddressOf(keptLoginService); !kept.empty()) {
        return {kept, TServiceChoice::ssKeptLogin};
    }
    return {configuration.Service.URL, TServiceChoice::ssDefault};
}

std::string ServiceAddressOf(const std::string& typed) {
    std::string url = TrimBlanks(typed);
    while (!url.empty() && url.back() == '/') url.pop_back();
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos) return {};
    const std::string name = LowerAscii(url.substr(0, scheme));
    if (name != "http" && name != "https") return {};
    const std::string host = url.substr(scheme + 3);
    if (host.empty() || host.find_first_of("/?#@ \t") != std::string::npos) return {};
    return name + "://" + host;
}

}  // namespace tidewell
