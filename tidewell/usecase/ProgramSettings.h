#pragma once

#include <string>

#include "usecase/Configuration.h"

namespace tidewell {

class SettingsHive;

// The program's own settings beside the company slots, in the program key; what is missing or
// unreadable reads as its default.

// How many safety archives each company keeps (the newest always stays): 1 to 999, default
// kDefaultSafetyArchivesKept.
inline constexpr int kMostSafetyArchivesKept = 999;
int SafetyArchivesKept(SettingsHive& hive);
void SetSafetyArchivesKept(SettingsHive& hive, int kept);

// The service address chosen in the window's settings; empty when none is.
std::string ChosenServiceURL(SettingsHive& hive);
void SetChosenServiceURL(SettingsHive& hive, const std::string& url);

// Which service the window talks to, and what said so.
struct TServiceChoice {
    enum TSource {
        ssEnvironment,  // TIDEWELL_SERVICE_URL
        ssSettings,     // the address chosen in the window's settings
        ssKeptLogin,    // the one `tidewell-cli login` kept
        ssDefault,      // the built-in one
    };
    std::string URL;
    TSource Source = ssDefault;
};
// The variable first, then the window's own choice, then what tidewell-cli login kept, then the
// built-in default. keptLoginService is empty when nobody logged in with tidewell-cli.
TServiceChoice ChooseWindowService(const TConfiguration& configuration, SettingsHive& hive,
                                   const std::string& keptLoginService);

// An address the user typed, as the service needs it ("http://host[:port]" or "https://...");
// empty when it is none: without a scheme, with a path, a query or spaces.
std::string ServiceAddressOf(const std::string& typed);

}  // namespace tidewell
