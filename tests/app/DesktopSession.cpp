#include "DesktopSession.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>

namespace fs = std::filesystem;

namespace tidewell::test {
namespace {

// The program as the test's own PATH finds it; resolved before fork, so that the child only
// calls what is safe between fork and exec in a process with threads.
std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    g_autofree gchar* found = g_find_program_in_path(name.c_str());
    return found ? found : "";
}

int OpenForWriting(const fs::path& file) {
    return open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& command,
                           const std::vector<std::string>& environment, const std::string& input,
                           const fs::path& output, const fs::path& errors) {
    const std::string program = FindProgram(command.at(0));
    if (program.empty()) return;
    std::vector<char*> argv, envp;
    for (const auto& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
    const int out = OpenForWriting(output), err = OpenForWriting(errors);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(pipeFds[0], STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(pipeFds[0]);
    close(out);
    close(err);
    if (pid_ > 0 && !input.empty()) {
        // Small texts only: they fit the pipe, so this never waits for the child.
        [[maybe_unused]] const ssize_t written = write(pipeFds[1], input.data(), input.size());
    }
    close(pipeFds[1]);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && status_ < 0) {
        kill(pid_, SIGTERM);
        Wait(10);
    }
}

int ChildProcess::Wait(int timeLimitSeconds) {
    if (pid_ <= 0 || status_ >= 0) return status_;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(timeLimitSeconds);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            status_ = -1;
            pid_ = -1;
            return -1;
        }
        usleep(5000);
    }
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
}

bool ChildProcess::Running() {
    if (pid_ <= 0 || status_ >= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == 0) return true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
}

PrivateSessionBus::PrivateSessionBus(const fs::path& folder) {
    fs::create_directories(folder);
    const fs::path socket = folder / "bus";
    const fs::path config = folder / "bus.conf";
    std::ofstream(config)
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>session</type>\n"
           "  <listen>unix:path="
        << socket.string()
        << "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "    <allow own=\"*\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
    daemon_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"dbus-daemon", "--config-file=" + config.string(), "--nofork"},
        std::vector<std::string>{"PATH=/usr/bin:/bin"}, "", folder / "bus.out", folder / "bus.err");
    if (!daemon_->Started()) return;
    const std::string address = "unix:path=" + socket.string();
    for (int i = 0; i < 500 && daemon_->Running(); ++i) {
        g_autoptr(GDBusConnection) probe = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        if (probe) {
            address_ = address;
            return;
        }
        usleep(10000);
    }
}

PrivateSessionBus::~PrivateSessionBus() = default;

bool PrivateSessionBus::AwaitName(const std::string& name, int timeLimitMs) const {
    if (address_.empty()) return false;
    g_autoptr(GDBusConnection) bus = g_dbus_connection_new_for_address_sync(
        address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!bus) return false;
    for (int waited = 0; waited <= timeLimitMs; waited += 20) {
        g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "NameHasOwner", g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(b)"),
            G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
        gboolean owned = FALSE;
        if (reply) g_variant_get(reply, "(b)", &owned);
        if (owned) return true;
        usleep(20000);
    }
    return false;
}

TestKeyring::TestKeyring(const PrivateSessionBus& bus, const fs::path& home) {
    if (bus.Address().empty()) return;
    fs::create_directories(home / "data");
    fs::create_directories(home / "run");
    fs::permissions(home / "run", fs::perms::owner_all);
    // --unlock reads the password of the login keyring from standard input and makes the
    // keyring when it is not there yet.
    daemon_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"gnome-keyring-daemon", "--foreground", "--unlock",
                                 "--components=secrets"},
        std::vector<std::string>{"PATH=/usr/bin:/bin", "HOME=" + home.string(),
                                 "XDG_DATA_HOME=" + (home / "data").string(),
                                 "XDG_RUNTIME_DIR=" + (home / "run").string(),
                                 "DBUS_SESSION_BUS_ADDRESS=" + bus.Address()},
        "test keyring password", home / "keyring.out", home / "keyring.err");
    ready_ = daemon_->Started() && bus.AwaitName("org.freedesktop.secrets", 10000);
}

struct FakeNotificationService::State {
    GMainContext* context = g_main_context_new();
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    mutable std::mutex mutex;
    std::vector<Notice> notices;
    ~State() {
        g_main_loop_unref(loop);
        g_main_context_unref(context);
    }
};

namespace {

constexpr const char* kNotificationsXml =
    "<node><interface name='org.freedesktop.Notifications'>"
    "<method name='GetCapabilities'><arg type='as' direction='out'/></method>"
    "<method name='Notify'>"
    "<arg type='s' direction='in'/><arg type='u' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='as' direction='in'/>"
    "<arg type='a{sv}' direction='in'/><arg type='i' direction='in'/>"
    "<arg type='u' direction='out'/></method>"
    "</interface></node>";

void OnNotificationCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                        const gchar* method, GVariant* parameters,
                        GDBusMethodInvocation* invocation, gpointer data) {
    auto* state = static_cast<FakeNotificationService::State*>(data);
    if (g_strcmp0(method, "GetCapabilities") == 0) {
        const gchar* const capabilities[] = {"body", nullptr};
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(^as)", capabilities));
        return;
    }
    const gchar *application = nullptr, *summary = nullptr, *body = nullptr;
    g_autoptr(GVariant) hints = g_variant_get_child_value(parameters, 6);
    g_variant_get_child(parameters, 0, "&s", &application);
    g_variant_get_child(parameters, 3, "&s", &summary);
    g_variant_get_child(parameters, 4, "&s", &body);
    FakeNotificationService::Notice notice{application, summary, body};
    g_variant_lookup(hints, "urgency", "y", &notice.urgency);
    std::size_t id = 0;
    {
        const std::lock_guard lock(state->mutex);
        state->notices.push_back(notice);
        id = state->notices.size();
    }
    g_dbus_method_invocation_return_value(invocation,
                                          g_variant_new("(u)", static_cast<guint32>(id)));
}

}  // namespace

FakeNotificationService::FakeNotificationService(const std::string& busAddress)
    : state_(std::make_unique<State>()) {
    if (busAddress.empty()) return;
    std::promise<bool> started;
    std::future<bool> ready = started.get_future();
    thread_ = std::thread([this, busAddress, &started] {
        g_main_context_push_thread_default(state_->context);
        g_autoptr(GDBusConnection) bus = g_dbus_connection_new_for_address_sync(
            busAddress.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        g_autoptr(GDBusNodeInfo) node = g_dbus_node_info_new_for_xml(kNotificationsXml, nullptr);
        static const GDBusInterfaceVTable vtable = {OnNotificationCall, nullptr, nullptr, {}};
        guint registration = 0;
        g_autoptr(GVariant) owned = nullptr;
        if (bus && node) {
            registration = g_dbus_connection_register_object(bus, "/org/freedesktop/Notifications",
                                                             node->interfaces[0], &vtable,
                                                             state_.get(), nullptr, nullptr);
            owned = g_dbus_connection_call_sync(
                bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "RequestName", g_variant_new("(su)", "org.freedesktop.Notifications", 4u),
                G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        }
        started.set_value(registration != 0 && owned != nullptr);
        if (registration != 0 && owned) g_main_loop_run(state_->loop);
        if (registration != 0) g_dbus_connection_unregister_object(bus, registration);
        if (bus) g_dbus_connection_close_sync(bus, nullptr, nullptr);
        g_main_context_pop_thread_default(state_->context);
    });
    ready_ = ready.get();
}

FakeNotificationService::~FakeNotificationService() {
    if (!thread_.joinable()) return;
    // Quit from inside the loop: a quit before the loop runs would be lost.
    GSource* quit = g_idle_source_new();
    g_source_set_callback(
        quit,
        [](gpointer loop) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        },
        state_->loop, nullptr);
    g_source_attach(quit, state_->context);
    g_source_unref(quit);
    thread_.join();
}

std::vector<FakeNotificationService::Notice> FakeNotificationService::Received() const {
    const std::lock_guard lock(state_->mutex);
    return state_->notices;
}

}  // namespace tidewell::test
