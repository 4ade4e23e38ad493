#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TestSupport.h"
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
    {
        test::ScopedEnvironment tmp("TMPDIR", "/var/tmp");
        EXPECT_EQ(SystemTempFolder(), "/var/tmp");
    }
    test::ScopedEnvironment relative("TMPDIR", "relative");
    EXPECT_EQ(SystemTempFolder(), "/tmp");
}

}  // namespace
}  // namespace tidewell
