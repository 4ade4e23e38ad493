#include "company/HostProduct.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/Error.h"
#include "platform/SettingsHive.h"

namespace tidewell {

std::string ReadInstallPath(SettingsHive& hive) {
    try {
        if (const auto key = hive.OpenKey(kHostKey, false)) return key->ReadString("InstallPath");
    } catch (const Exception&) {
        // a value of the wrong type counts as none
    }
    return {};
}

THostLaunch HostLaunchLine(const std::string& installPath, const std::string& companyFolder) {
    return {installPath + "/QuenlowBarcode.exe", "database=\"" + companyFolder + "\"", installPath};
}

std::string MakeUniqueCompanyName(SettingsHive& hive, const std::string& name) {
    const auto key = hive.OpenKey(kHostCompanyKey, false);
    if (!key) return name;
    std::vector<std::string> taken;
    for (int index = 0; index < kHostCompanyNameCount; ++index) {
        char value[32];
        std::snprintf(value, sizeof value, "Company%02dName", index);
        if (key->ValueExists(value)) taken.push_back(key->ReadString(value));
    }
    std::string candidate = name;
    for (int counter = 1; std::find(taken.begin(), taken.end(), candidate) != taken.end();
         ++counter) {
        candidate = name + "(" + std::to_string(counter) + ")";
    }
    return candidate;
}

}  // namespace tidewell
