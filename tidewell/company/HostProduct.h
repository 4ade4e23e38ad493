#pragma once

#include <string>

namespace tidewell {

class SettingsHive;

// What is fixed about the host product, the inventory program whose companies this program
// backs up: its settings, how it is started, and its company databases.

// The host product's own key; its value InstallPath is the folder it is installed in.
inline constexpr const char* kHostKey = "Software\\QuenlowBarcode";
// The host product's list of company names (CompanyNNName, NN = 00..99).
inline constexpr const char* kHostCompanyKey = "Software\\QuenlowBarcode\\Company";
// How many company names the host product keeps.
inline constexpr int kHostCompanyNameCount = 100;

// A company folder holds its data in this one file.
inline constexpr const char* kCompanyDatabaseName = "default.mdb";
inline constexpr const char* kCompanyProvider = "Microsoft.Jet.OLEDB.4.0";
inline constexpr const char* kCompanyDatabasePassword = "v-qarmolt";
inline constexpr const char* kShareDenyNone = "Share Deny None";
inline constexpr const char* kShareExclusive = "Share Exclusive";
// The statements that read a company's name and its key.
inline constexpr const char* kCompanyNameQuery = "select legalname from userinfo";
inline constexpr const char* kCompanyKeyQuery = "select dbkey from [ver]";

// The host product's install folder from its key; empty when the key or the value is missing
// or unreadable.
std::string ReadInstallPath(SettingsHive& hive);

// Starting the host product on a company: the program, its one parameter text and the folder
// it runs in.
struct THostLaunch {
    std::string Program;
    std::string Parameters;
    std::string WorkingFolder;
};
// InstallPath + "/QuenlowBarcode.exe" with the parameter database="<folder>" (the whole path
// as one quoted parameter), in InstallPath.
THostLaunch HostLaunchLine(const std::string& installPath, const std::string& companyFolder);

// name, or name followed by "(1)", "(2)" ... when the host product already has a company of
// that name; name unchanged when the host product's key is missing.
std::string MakeUniqueCompanyName(SettingsHive& hive, const std::string& name);

}  // namespace tidewell
