#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "TestSupport.h"
#include "WebFolderService.h"
#include "app/HeadlessView.h"
#include "app/Main.h"
#include "platform/SettingsHive.h"

namespace tidewell::test {

// Two database times a day apart, for companies that differ on the two sides.
inline const TDateTime kOlder = EncodeDateTime({2024, 3, 1, 9, 0, 0, 0});
inline const TDateTime kNewer = EncodeDateTime({2024, 3, 2, 9, 0, 0, 0});

// The main window's logic over a headless view, a private hive and work folder, and the real
// reference service on loopback with the account kim / pw1234.
class MainFixture {
public:
    MainFixture();
    ~MainFixture();

    void LogIn(const std::string& id = "kim", const std::string& password = "pw1234");
    // A company folder of the host product, its database stamped with the given time.
    std::filesystem::path MakeCompany(const std::string& folderName, const std::string& name,
                                      TDateTime time, std::int64_t rows = 50);
    // A company that exists in the web folder: made in a scratch folder, uploaded, and its
    // folder removed again. Returns its key.
    std::string MakeWebCompany(const std::string& name, TDateTime time);
    // Another computer uploads the company in `folder`: a copy of its database, changed by
    // `sql` when given, stamped with `time`.
    void UploadFromElsewhere(const std::filesystem::path& folder, TDateTime time,
                             const std::string& sql = "");
    // An archive in the web folder under the company's key whose default.mdb holds member's
    // bytes, whatever they are (another computer's data, a damaged or foreign file), named
    // after time; tag names its folder and, for a new company, the company.
    void PutInWebFolder(const std::string& key, const std::string& member, TDateTime time,
                        const std::string& tag);
    // The archives the service keeps, by name (oldest first).
    std::vector<std::filesystem::path> StoredArchives() const;
    // What the window's logic is made from here: the fixture's settings and places, the
    // loopback service.
    TSessionSetup Setup();
    // An account of this computer over the same, as a test makes one beside the window.
    TAccountSetup AccountSetup();
    // Registers a folder in a slot of the program key.
    void Register(int slot, const std::filesystem::path& folder, const std::string& name = "");
    // Rebuilds the window logic and its view, as a new run of the program would.
    void Restart();
    int RowOf(const std::string& name) const;
    RegistryKey ProgramKey();
    std::vector<std::string> Messages() const;

    CoreFixture core;
    ManualClock clock;  // the window's and the accounts' clock
    WebFolderService service;
    std::unique_ptr<HeadlessView> view;
    std::unique_ptr<TformMain> form;
};

// The bytes of an archive's default.mdb, unpacked into scratch (emptied first).
std::string ArchiveMember(const std::filesystem::path& archive,
                          const std::filesystem::path& scratch);

}  // namespace tidewell::test
