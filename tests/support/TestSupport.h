#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/MessagePump.h"
#include "platform/SettingsHive.h"
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

// Points the program at a service (TIDEWELL_SERVICE_URL) for the lifetime of the object.
class ScopedServiceURL : public ScopedEnvironment {
public:
    explicit ScopedServiceURL(const std::string& url)
        : ScopedEnvironment("TIDEWELL_SERVICE_URL", url) {}
};

// Records every message box and answers with a queued result (the default button when empty).
class RecordingUserInterface : public UserInterfaceService {
public:
    MessageResult ShowMessageBox(const MessageBoxRequest& request) override;
    std::vector<MessageBoxRequest> boxes;
    std::vector<MessageResult> answers;
};

// Counts how often long operations hand control back to the window.
class CountingMessagePump : public MessagePump {
public:
    void ProcessMessages() override { ++count; }
    bool Terminated() const override { return terminated; }
    int count = 0;
    bool terminated = false;
};

// Everything a test of the core needs: a private temporary folder (TMPDIR points into it), a
// runtime folder of its own (XDG_RUNTIME_DIR, which holds the work folder and the operation
// lock, so tests that run side by side never wait for each other), a settings hive of its own
// and a recording user interface.
class CoreFixture {
public:
    CoreFixture();
    ~CoreFixture();
    TempDir dir;
    RecordingUserInterface ui;
    CountingMessagePump pump;
    SettingsHive& hive() { return scopedHive_.hive(); }
    // The work folder of the operations run under this fixture.
    std::filesystem::path WorkFolder() const { return dir.path() / "run" / "Tidewell"; }

private:
    ScopedCurrentUserHive scopedHive_;
    ScopedEnvironment tmpDir_;
    ScopedEnvironment runtimeDir_;
    ScopedUserInterface scopedUi_;
    ScopedMessagePump scopedPump_;
};

}  // namespace tidewell::test
