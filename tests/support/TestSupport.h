#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/MessagePump.h"
#include "platform/SettingsHive.h"
#include "platform/TempFolder.h"
#include "platform/UserInterface.h"

namespace tidewell::test {

// A fresh folder under the system temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    std::string str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& file, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& file);
std::string RandomBytes(std::size_t count, std::uint32_t seed);

// Sets an environment variable for the lifetime of the object and puts the old state back.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value);
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment();

private:
    std::string name_;
    std::string previous_;
    bool had_;
};

// Records every message box and answers with a queued result (the default button when empty).
class RecordingUserInterface : public UserInterfaceService {
public:
    MessageResult ShowMessageBox(const MessageBoxRequest& request) override;
    std::vector<MessageBoxRequest> boxes;
    std::vector<MessageResult> answers;
};

// A clock a test can stop at a time of its choosing; until then it is the computer's.
class ManualClock : public Clock {
public:
    TDateTime Now() const override { return pinned ? *pinned : SystemClock().Now(); }
    std::optional<TDateTime> pinned;
};

// Counts how often long operations hand control back to the window.
class CountingMessagePump : public MessagePump {
public:
    void ProcessMessages() override { ++count; }
    bool Terminated() const override { return terminated; }
    int count = 0;
    bool terminated = false;
};

// Everything a test of the core needs: a private folder with a temporary folder (dir/tmp) and
// a runtime folder of its own (dir/run, which holds the work folder and the operation lock, so
// tests that run side by side never wait for each other) for the places the configuration
// hands down, a settings hive of its own and a recording user interface. Nothing of the test
// process's environment is changed: the core reads none of it.
class CoreFixture {
public:
    CoreFixture();
    ~CoreFixture();
    TempDir dir;
    RecordingUserInterface ui;
    CountingMessagePump pump;
    SettingsHive& hive() { return *hive_; }
    // Where this fixture's runs keep their work folder and lock.
    WorkPlacesInput Places() const;
    // The work folder of the operations run under this fixture.
    std::filesystem::path WorkFolder() const { return dir.path() / "run" / "Tidewell"; }

private:
    std::unique_ptr<SettingsHive> hive_;
    ScopedUserInterface scopedUi_;
    ScopedMessagePump scopedPump_;
};

}  // namespace tidewell::test
