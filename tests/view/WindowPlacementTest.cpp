// The desktop program under a real X server and window manager: the window is started and
// closed as a person would, and its stored size must be the size it comes back with, looking
// as it did the first time.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "company/LocalCompanyList.h"
#include "platform/SettingsHive.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace tidewell {
namespace {

std::optional<std::string> FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const fs::path candidate = fs::path(folders.substr(start, end - start)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
        start = end + 1;
    }
    return std::nullopt;
}

// The test's environment with some variables replaced.
std::vector<std::string> Environment(const std::map<std::string, std::string>& changes) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        const std::string line = *entry;
        if (!changes.count(line.substr(0, line.find('=')))) result.push_back(line);
    }
    for (const auto& [name, value] : changes) result.push_back(name + "=" + value);
    return result;
}

// A child process, its output thrown away; ended with SIGTERM when the object goes.
class Child {
public:
    // outputFd: a descriptor the child gets as its descriptor 3 (-1: none).
    Child(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
          int outputFd = -1) {
        std::vector<char*> argv;
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (outputFd >= 0) posix_spawn_file_actions_adddup2(&actions, outputFd, 3);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pid_ <= 0 || exited_) return;
        ::kill(pid_, SIGTERM);
        Wait(5s);
        if (!exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool Started() const { return pid_ > 0; }
    // The exit code, or nothing when it still runs after the time given.
    std::optional<int> Wait(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!exited_) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() > end) return std::nullopt;
            std::this_thread::sleep_for(20ms);
        }
        return code_;
    }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
    int code_ = -1;
};

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

int RunTool(const std::vector<std::string>& arguments,
            const std::vector<std::string>& environment) {
    Child child(arguments, environment);
    return child.Started() ? child.Wait(10s).value_or(-1) : -1;
}

// Reads what a child writes on the pipe until a line ends or the time is up.
std::string ReadLine(int fd, std::chrono::milliseconds limit) {
    std::string line;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[64];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) break;
        line.append(buffer, static_cast<std::size_t>(got));
    }
    return line.substr(0, line.find('\n'));
}

// A window's picture as xwd writes it: its size and its pixels, row by row.
struct Picture {
    int Width = 0;
    int Height = 0;
    int BytesPerPixel = 0;
    std::vector<std::string> Rows;
};

// The header is 25 big-endian 32-bit fields and the window's name; a colour map and the rows
// of the image follow.
Picture ReadXwd(const std::string& bytes) {
    const auto field = [&](std::size_t index) -> std::uint32_t {
        if (bytes.size() < 4 * (index + 1)) return 0;
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4; ++i)
            value = value << 8 | static_cast<unsigned char>(bytes[4 * index + i]);
        return value;
    };
    Picture picture;
    picture.Width = static_cast<int>(field(4));
    picture.Height = static_cast<int>(field(5));
    picture.BytesPerPixel = static_cast<int>(field(11) / 8);
    const std::size_t rowBytes = field(12);
    std::size_t at = field(0) + std::size_t{field(19)} * 12;
    const std::size_t used = static_cast<std::size_t>(picture.Width) * picture.BytesPerPixel;
    for (int y = 0; y < picture.Height && at + rowBytes <= bytes.size(); ++y, at += rowBytes)
        picture.Rows.push_back(bytes.substr(at, used));
    return picture;
}

// How many pixels two pictures of the same size differ in; every pixel when the sizes differ.
int DifferentPixels(const Picture& a, const Picture& b) {
    if (a.Width != b.Width || a.Height != b.Height || a.Rows.size() != b.Rows.size() ||
        a.BytesPerPixel != b.BytesPerPixel || a.BytesPerPixel == 0)
        return std::max(a.Width * a.Height, b.Width * b.Height);
    int count = 0;
    for (std::size_t y = 0; y < a.Rows.size(); ++y)
        for (std::size_t x = 0; x < a.Rows[y].size(); x += a.BytesPerPixel)
            count += a.Rows[y].compare(x, a.BytesPerPixel, b.Rows[y], x, a.BytesPerPixel) != 0;
    return count;
}

// The ID field's text cursor blinks: a picture may show it where another does not.
constexpr int kCursorPixels = 40;

struct Placement {
    int Left = 0, Top = 0, Width = 0, Height = 0;
    friend bool operator==(const Placement&, const Placement&) = default;
};

std::ostream& operator<<(std::ostream& out, const Placement& p) {
    return out << p.Width << "x" << p.Height << " at " << p.Left << "," << p.Top;
}

class WindowPlacementTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"Xvfb", "openbox", "wmctrl", "xwd"}) {
            const auto found = FindProgram(tool);
            if (!found) GTEST_SKIP() << tool << " is not installed";
            tools_[tool] = *found;
        }
        // The server picks a free display and names it once it takes connections.
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        server_ = std::make_unique<Child>(
            std::vector<std::string>{tools_["Xvfb"], "-displayfd", "3", "-screen", "0",
                                     "1024x768x24", "-nolisten", "tcp"},
            Environment({}), ready[1]);
        ::close(ready[1]);
        const std::string number = ReadLine(ready[0], 20s);
        ::close(ready[0]);
        ASSERT_FALSE(number.empty()) << "Xvfb did not start";
        display_ = ":" + number;
        StartWindowManager();
        for (const char* folder : {"config", "tmp", "runtime"})
            fs::create_directories(dir / folder);
        fs::permissions(dir / "runtime", fs::perms::owner_all);
    }

    // openbox runs its start-up command once it manages the screen; that command says so on a
    // named pipe. However long a loaded machine takes, the wait ends then, or when openbox
    // ends without getting there.
    void StartWindowManager() {
        const fs::path ready = dir / "openbox-ready";
        ASSERT_EQ(::mkfifo(ready.c_str(), 0600), 0);
        const int fd = ::open(ready.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        windowManager_ = std::make_unique<Child>(
            std::vector<std::string>{tools_["openbox"], "--startup",
                                     "/bin/sh -c 'echo ready >" + ready.string() + "'"},
            Environment({{"DISPLAY", display_}}));
        std::string said;
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 200) > 0 && (p.revents & POLLIN)) {
                char buffer[16];
                const ssize_t got = ::read(fd, buffer, sizeof buffer);
                if (got > 0) said.append(buffer, static_cast<std::size_t>(got));
                if (said.find('\n') != std::string::npos) break;
            }
            if (windowManager_->Wait(0ms).has_value()) break;
        }
        ::close(fd);
        ASSERT_EQ(said, "ready\n") << "openbox ended before it managed the screen";
    }

    void TearDown() override {
        windowManager_.reset();
        server_.reset();
    }

    std::vector<std::string> ProgramEnvironment() {
        return Environment({{"DISPLAY", display_},
                            {"QT_QPA_PLATFORM", "xcb"},
                            {"XDG_CONFIG_HOME", (dir / "config").string()},
                            {"XDG_RUNTIME_DIR", (dir / "runtime").string()},
                            {"TMPDIR", (dir / "tmp").string()},
                            {"TIDEWELL_SERVICE_URL", "http://127.0.0.1:9"}});
    }

    // What a session does while the window is open, before its picture is taken.
    enum class During { Nothing, Maximize, Restore };

    // Starts the program, waits for its window, does what was asked, takes the picture of the
    // window's client area, closes the window through the window manager as the close box
    // does, and waits for the program to end.
    Picture Session(During during = During::Nothing) {
        Picture shown;
        Child program({TIDEWELL_PROGRAM}, ProgramEnvironment());
        EXPECT_TRUE(program.Started());
        const auto env = Environment({{"DISPLAY", display_}});
        const bool appeared = WaitFor(
            [&] {
                return RunTool({"/bin/sh", "-c", tools_["wmctrl"] + " -l | grep -q Quenlow"},
                               env) == 0;
            },
            20s);
        EXPECT_TRUE(appeared) << "the window did not appear";
        if (!appeared) return shown;
        WaitUntilStill(env);
        if (during != During::Nothing) {
            const std::string before = WindowList(env);
            const char* change = during == During::Maximize ? "add" : "remove";
            EXPECT_EQ(RunTool({tools_["wmctrl"], "-r", "Quenlow", "-b",
                               std::string(change) + ",maximized_vert,maximized_horz"},
                              env),
                      0);
            EXPECT_TRUE(WaitFor([&] { return WindowList(env) != before; }, 10s))
                << "the window manager did not change the window";
            WaitUntilStill(env);
        }
        shown = TakePicture(env);
        EXPECT_EQ(RunTool({tools_["wmctrl"], "-c", "Quenlow"}, env), 0);
        const auto code = program.Wait(20s);
        EXPECT_TRUE(code.has_value()) << "the window did not close";
        EXPECT_EQ(code.value_or(-1), 0);
        return shown;
    }

    // The frame comes from the window manager a moment after the window maps, and the window
    // takes its stored size then: wait until its size holds still.
    void WaitUntilStill(const std::vector<std::string>& env) {
        std::string last;
        int same = 0;
        WaitFor(
            [&] {
                const std::string now = WindowList(env);
                same = now == last ? same + 1 : 0;
                last = now;
                return same >= 4;
            },
            10s);
    }

    Picture TakePicture(const std::vector<std::string>& env) {
        const fs::path file = dir / "window.xwd";
        fs::remove(file);
        RunTool({"/bin/sh", "-c",
                 tools_["xwd"] + " -silent -id $(" + tools_["wmctrl"] +
                     " -l | awk '/Quenlow/ { print $1 }') -out " + file.string()},
                env);
        return ReadXwd(test::ReadFile(file));
    }

    // wmctrl's list of windows with their places and sizes.
    std::string WindowList(const std::vector<std::string>& env) {
        int out[2];
        if (::pipe(out) != 0) return {};
        Child list({"/bin/sh", "-c", tools_["wmctrl"] + " -lG >&3"}, env, out[1]);
        ::close(out[1]);
        std::string text;
        char buffer[512];
        for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<std::size_t>(got));
        }
        ::close(out[0]);
        list.Wait(10s);
        return text;
    }

    fs::path HiveFile() const { return dir / "config" / "QuenlowBarcode" / "registry.db"; }

    Placement Stored() {
        SettingsHive hive(HiveFile());
        const auto key = hive.OpenKey(kProgramKey, false);
        if (!key) return {};
        return {key->ReadInteger("MainFormLeft").value_or(-1),
                key->ReadInteger("MainFormTop").value_or(-1),
                key->ReadInteger("MainFormWidth").value_or(-1),
                key->ReadInteger("MainFormHeight").value_or(-1)};
    }

    int MaximizedFlag() {
        SettingsHive hive(HiveFile());
        const auto key = hive.OpenKey(kProgramKey, false);
        return key ? key->ReadInteger("MainFormMaximized").value_or(-1) : -1;
    }

    test::TempDir dir;
    std::map<std::string, std::string> tools_;
    std::string display_;
    std::unique_ptr<Child> server_;
    std::unique_ptr<Child> windowManager_;
};

TEST_F(WindowPlacementTest, FourStartsKeepTheSizeAndPlaceTheyStored) {
    Session();
    const Placement first = Stored();
    ASSERT_GT(first.Width, 0);
    for (int run = 2; run <= 4; ++run) {
        SCOPED_TRACE(run);
        Session();
        EXPECT_EQ(Stored(), first);
    }

    // A size and place of the user's own come back as they were.
    {
        SettingsHive hive(HiveFile());
        auto key = hive.OpenKey(kProgramKey, true);
        key->WriteInteger("MainFormLeft", 60);
        key->WriteInteger("MainFormTop", 40);
        key->WriteInteger("MainFormWidth", 700);
        key->WriteInteger("MainFormHeight", 500);
    }
    Session();
    EXPECT_EQ(Stored(), (Placement{60, 40, 700, 500}));
    Session();
    EXPECT_EQ(Stored(), (Placement{60, 40, 700, 500}));
}

// The stored size is the outer size: given to the client before the frame is known, the window
// laid its login block out for a taller client and kept it there, lower and cut off at the
// foot; restored after a maximized start, the window grew by its frame every time.
TEST_F(WindowPlacementTest, LaterStartsAndARestoreFromMaximizedLookAsTheFirstStart) {
    const Picture first = Session();
    const Placement stored = Stored();
    ASSERT_GT(first.Width, 0);
    EXPECT_LE(DifferentPixels(Session(), first), kCursorPixels) << "second start";
    EXPECT_EQ(Stored(), stored);

    Session(During::Maximize);
    EXPECT_EQ(Stored(), stored);
    EXPECT_EQ(MaximizedFlag(), 1);
    EXPECT_LE(DifferentPixels(Session(During::Restore), first), kCursorPixels)
        << "restored after a maximized start";
    EXPECT_EQ(Stored(), stored);
    EXPECT_EQ(MaximizedFlag(), 0);

    // A size of the user's own comes back from a maximized start as it was.
    {
        SettingsHive hive(HiveFile());
        auto key = hive.OpenKey(kProgramKey, true);
        key->WriteInteger("MainFormWidth", 700);
        key->WriteInteger("MainFormHeight", 500);
        key->WriteInteger("MainFormMaximized", 1);
    }
    Session(During::Restore);
    EXPECT_EQ(Stored(), (Placement{stored.Left, stored.Top, 700, 500}));
}

}  // namespace
}  // namespace tidewell
