#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tidewell::test {

// A program of the tests as a child process with an environment of its own (nothing of the
// test's inherited), ended with SIGTERM and waited for when the object goes.
class ChildProcess {
public:
    // input is written to the child's standard input, which is then closed; output and errors
    // go to files. The program is looked up on PATH of environment.
    ChildProcess(const std::vector<std::string>& command,
                 const std::vector<std::string>& environment, const std::string& input,
                 const std::filesystem::path& output, const std::filesystem::path& errors);
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();
    bool Started() const { return pid_ > 0; }
    // The exit status (128 + signal when a signal ended it); the child is killed after the time
    // limit and -1 returned.
    int Wait(int timeLimitSeconds = 120);
    bool Running();

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// A D-Bus session bus of the test's own (dbus-daemon --session with a configuration that
// starts no service by itself), so nothing reaches the user's real desktop.
class PrivateSessionBus {
public:
    explicit PrivateSessionBus(const std::filesystem::path& folder);
    ~PrivateSessionBus();
    // Empty when dbus-daemon could not be started.
    const std::string& Address() const { return address_; }
    // Whether a name has an owner on this bus, waiting up to timeLimitMs for one to appear.
    bool AwaitName(const std::string& name, int timeLimitMs) const;

private:
    std::unique_ptr<ChildProcess> daemon_;
    std::string address_;
};

// The Secret Service of gnome-keyring on a private bus, its login keyring made and unlocked
// for the test in home (HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR point there).
class TestKeyring {
public:
    TestKeyring(const PrivateSessionBus& bus, const std::filesystem::path& home);
    bool Ready() const { return ready_; }

private:
    std::unique_ptr<ChildProcess> daemon_;
    bool ready_ = false;
};

// org.freedesktop.Notifications on a private bus, served from a thread of its own; it keeps
// every notification it is sent. Reports plain-text bodies only (no "body-markup").
class FakeNotificationService {
public:
    struct Notice {
        std::string application;
        std::string summary;
        std::string body;
        unsigned char urgency = 0;
    };
    explicit FakeNotificationService(const std::string& busAddress);
    ~FakeNotificationService();
    bool Ready() const { return ready_; }
    std::vector<Notice> Received() const;

    struct State;

private:
    std::unique_ptr<State> state_;
    std::thread thread_;
    bool ready_ = false;
};

}  // namespace tidewell::test
