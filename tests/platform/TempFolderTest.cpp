#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "TestSupport.h"
#include "platform/OperationLock.h"
#include "platform/TempFolder.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

mode_t ModeOf(const fs::path& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mode & 0777;
}

TEST(PrivateFolder, CreatedWithOwnerOnlyAccess) {
    test::TempDir dir;
    EnsurePrivateFolder(dir / "Tidewell");
    EXPECT_TRUE(fs::is_directory(dir / "Tidewell"));
    EXPECT_EQ(ModeOf(dir / "Tidewell"), 0700u);
    EnsurePrivateFolder(dir / "Tidewell");  // again: nothing to do
}

TEST(PrivateFolder, LooseModeOfOurOwnFolderIsTightened) {
    test::TempDir dir;
    fs::create_directory(dir / "Tidewell");
    chmod((dir / "Tidewell").c_str(), 0777);
    EnsurePrivateFolder(dir / "Tidewell");
    EXPECT_EQ(ModeOf(dir / "Tidewell"), 0700u);
}

TEST(PrivateFolder, RefusesASymbolicLinkPlantedAtItsPath) {
    test::TempDir dir;
    fs::create_directory(dir / "elsewhere");
    chmod((dir / "elsewhere").c_str(), 0755);
    fs::create_directory_symlink(dir / "elsewhere", dir / "Tidewell");
    EXPECT_THROW(EnsurePrivateFolder(dir / "Tidewell"), Exception);
    EXPECT_EQ(ModeOf(dir / "elsewhere"), 0755u);  // the link's target is left alone
    // A dangling link is refused as well, and nothing is created through it.
    fs::create_symlink(dir / "nowhere", dir / "Dangling");
    EXPECT_THROW(EnsurePrivateFolder(dir / "Dangling"), Exception);
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
}

TEST(PrivateFolder, RefusesAFileAndAMissingParent) {
    test::TempDir dir;
    test::WriteFile(dir / "Tidewell", "x");
    EXPECT_THROW(EnsurePrivateFolder(dir / "Tidewell"), Exception);
    EXPECT_THROW(EnsurePrivateFolder(dir / "no" / "Tidewell"), Exception);
}

TEST(PrivateFolder, RefusesAFolderOfAnotherUser) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to hand a folder to another user";
    test::TempDir dir;
    fs::create_directory(dir / "Tidewell");
    ASSERT_EQ(chown((dir / "Tidewell").c_str(), 65534, 65534), 0);
    EXPECT_THROW(EnsurePrivateFolder(dir / "Tidewell"), Exception);
}

TEST(TempFolder, FollowsTmpDir) {
    EXPECT_EQ(TempFolderOf("/var/tmp"), "/var/tmp");
    EXPECT_EQ(TempFolderOf("relative"), "/tmp");
    EXPECT_EQ(TempFolderOf(""), "/tmp");
}

// A user's places as a run decides them, in a sandbox: dir/run stands for the login manager's
// runtime folder, dir/home for the home folder, dir/tmp and dir/var-tmp for two TMPDIRs.
class WorkPlacesTest : public ::testing::Test {
protected:
    WorkPlacesTest() {
        for (const char* folder : {"run", "home", "tmp", "var-tmp"}) {
            fs::create_directory(dir / folder);
        }
        fs::permissions(dir / "run", fs::perms::owner_all);
    }
    WorkPlacesInput Input(const fs::path& temp, const fs::path& runtime = {}) const {
        return {runtime, dir / "no-login" / "run-user", temp, dir / "home", geteuid()};
    }
    fs::path UserTemp(const fs::path& temp) const {
        return temp / ("Tidewell-" + std::to_string(geteuid()));
    }
    test::TempDir dir;
};

TEST_F(WorkPlacesTest, TheUsersRuntimeFolderHoldsWorkAndLock) {
    const WorkPlaces places = EnsureWorkPlaces(Input(dir / "tmp", dir / "run"));
    EXPECT_EQ(places.work, dir / "run" / "Tidewell");
    EXPECT_EQ(places.lock, places.work);
    EXPECT_EQ(ModeOf(places.work), 0700u);
    EXPECT_FALSE(fs::exists(UserTemp(dir / "tmp")));
    // A runtime folder others may enter is no place for them; nor is the system's when the
    // login manager made none.
    fs::permissions(dir / "run", fs::perms::others_exec, fs::perm_options::add);
    EXPECT_NE(EnsureWorkPlaces(Input(dir / "tmp", dir / "run")).work, dir / "run" / "Tidewell");
}

// A terminal with its own TMPDIR and a timer without a login: one lock all the same.
TEST_F(WorkPlacesTest, WithoutARuntimeFolderTheLockIsAtHomeWhateverTheTemporaryFolder) {
    const WorkPlaces terminal = EnsureWorkPlaces(Input(dir / "tmp"));
    const WorkPlaces timer = EnsureWorkPlaces(Input(dir / "var-tmp"));
    EXPECT_EQ(terminal.work, UserTemp(dir / "tmp"));
    EXPECT_EQ(timer.work, UserTemp(dir / "var-tmp"));
    EXPECT_EQ(terminal.lock, dir / "home" / ".local" / "state" / "Tidewell");
    EXPECT_EQ(timer.lock, terminal.lock);
    for (const fs::path& folder : {terminal.work, timer.work, terminal.lock}) {
        EXPECT_EQ(ModeOf(folder), 0700u) << folder;
    }
    const OperationLock first(terminal.lock, std::chrono::milliseconds(0));
    EXPECT_THROW(OperationLock(timer.lock, std::chrono::milliseconds(0)), OperationBusy);
}

// Whatever another user put where the work folder would go first, the run goes on elsewhere,
// in a folder of its own, and leaves the planted thing alone.
TEST_F(WorkPlacesTest, ANamePlantedByAnotherUserNeverBlocksTheRuns) {
    const fs::path planted = UserTemp(dir / "tmp");
    const std::vector<std::pair<const char*, std::function<void()>>> forms = {
        {"a link to a folder", [&] { fs::create_directory_symlink(dir / "var-tmp", planted); }},
        {"a dangling link", [&] { fs::create_symlink(dir / "nowhere", planted); }},
        {"a FIFO", [&] { ASSERT_EQ(mkfifo(planted.c_str(), 0666), 0); }},
        {"a file", [&] { test::WriteFile(planted, "x"); }},
        {"a folder of another user",
         [&] {
             fs::create_directory(planted);
             if (geteuid() == 0) {
                 ASSERT_EQ(chown(planted.c_str(), 65534, 65534), 0);
             }
             fs::permissions(planted, fs::perms::all);
         }},
    };
    for (const auto& [form, plant] : forms) {
        if (std::string(form) == "a folder of another user" && geteuid() != 0) continue;
        plant();
        WorkPlaces places;
        ASSERT_NO_THROW(places = EnsureWorkPlaces(Input(dir / "tmp"))) << form;
        EXPECT_NE(places.work, planted) << form;
        EXPECT_EQ(ModeOf(places.work), 0700u) << form;
        EXPECT_NE(fs::canonical(places.work).string().rfind((dir / "var-tmp").string(), 0), 0u)
            << form;
        EXPECT_FALSE(fs::exists(dir / "nowhere")) << form;
        std::error_code ignored;
        fs::remove(planted, ignored);
    }
}

}  // namespace
}  // namespace tidewell
