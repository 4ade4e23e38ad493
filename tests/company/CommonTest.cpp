#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TestSupport.h"
#include "company/Common.h"
#include "platform/DosTime.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

TEST(FormatSize, BoundariesAndHalves) {
    EXPECT_EQ(FormatSize(0), "0KB");
    EXPECT_EQ(FormatSize(511), "0KB");
    EXPECT_EQ(FormatSize(512), "1KB");  // a half rounds up
    EXPECT_EQ(FormatSize(1536), "2KB");
    EXPECT_EQ(FormatSize(1048575), "1024KB");
    EXPECT_EQ(FormatSize(1048576), "1.0MB");
    EXPECT_EQ(FormatSize(1048576 + 524288), "1.5MB");
    EXPECT_EQ(FormatSize(1048576 + 52428), "1.0MB");  // 1.04999...
    EXPECT_EQ(FormatSize(1048576 + 52429), "1.1MB");  // 1.05000... rounds away from zero
    EXPECT_EQ(FormatSize(1073741823), "1024.0MB");
    EXPECT_EQ(FormatSize(1073741824), "1.0GB");
    EXPECT_EQ(FormatSize(5LL * 1073741824), "5.0GB");
    EXPECT_EQ(FormatSize(-512), "-1KB");
    EXPECT_EQ(FormatSize(-3000), "-3KB");
    EXPECT_EQ(FormatSize(INT64_MAX), "8589934592.0GB");
}

TEST(GetPathSize, FilesFoldersHiddenFilesAndMissingPaths) {
    test::TempDir dir;
    EXPECT_EQ(GetPathSize((dir / "missing").string()), 0);
    fs::create_directory(dir / "empty");
    EXPECT_EQ(GetPathSize((dir / "empty").string()), 0);
    fs::create_directories(dir / "tree" / "sub" / ".hidden-folder");
    test::WriteFile(dir / "tree" / "ten", std::string(10, 'x'));
    test::WriteFile(dir / "tree" / ".twenty", std::string(20, 'x'));
    test::WriteFile(dir / "tree" / "sub" / "five", std::string(5, 'x'));
    test::WriteFile(dir / "tree" / "sub" / ".hidden-folder" / "three", std::string(3, 'x'));
    EXPECT_EQ(GetPathSize((dir / "tree").string()), 38);
    EXPECT_EQ(GetPathSize((dir / "tree" / "ten").string()), 10);
    // A link back up the tree is not followed.
    fs::create_directory_symlink(dir / "tree", dir / "tree" / "sub" / "loop");
    EXPECT_EQ(GetPathSize((dir / "tree").string()), 38);
}

TEST(FileModifiedTime, ReadBackFromAnotherFileEqualsToTheSecond) {
    test::TempDir dir;
    const std::string a = (dir / "a.mdb").string();
    const std::string b = (dir / "b.mdb").string();
    test::WriteFile(a, "a");
    test::WriteFile(b, "b");
    SetFileModifiedTime(a, EncodeDateTime({2006, 3, 5, 14, 7, 9, 0}));
    TDateTime read = 0;
    ASSERT_TRUE(GetFileModifiedTime(a, read));
    EXPECT_EQ(FormatDateTime("yyyymmddhhnnss", read), "20060305140708");  // odd second down
    SetFileModifiedTime(b, read);
    TDateTime other = 0;
    ASSERT_TRUE(GetFileModifiedTime(b, other));
    EXPECT_EQ(FormatDateTime("yyyymmddhhnnss", other), FormatDateTime("yyyymmddhhnnss", read));
}

TEST(FileModifiedTime, OddSecondsAndMillisecondsRoundDown) {
    test::TempDir dir;
    const std::string f = (dir / "f").string();
    test::WriteFile(f, "f");
    SetFileModifiedTime(f, EncodeDateTime({2020, 1, 2, 10, 0, 3, 900}));
    TDateTime read = 0;
    ASSERT_TRUE(GetFileModifiedTime(f, read));
    EXPECT_EQ(FormatDateTime("hh:nn:ss.zzz", read), "10:00:02.000");
}

TEST(FileModifiedTime, A1979TimeLeavesTheFileAlone) {
    test::TempDir dir;
    const std::string f = (dir / "f").string();
    test::WriteFile(f, "f");
    SetFileModifiedTime(f, EncodeDateTime({2001, 1, 1, 0, 0, 0, 0}));
    SetFileModifiedTime(f, EncodeDateTime({1979, 12, 31, 23, 59, 58, 0}));
    TDateTime read = 0;
    ASSERT_TRUE(GetFileModifiedTime(f, read));
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd", read), "2001-01-01");
}

TEST(FileModifiedTime, MissingFileReportsFailureAndKeepsTheTime) {
    test::TempDir dir;
    TDateTime time = 42.5;
    EXPECT_FALSE(GetFileModifiedTime((dir / "none").string(), time));
    EXPECT_EQ(time, 42.5);
    SetFileModifiedTime((dir / "none").string(), 40000.0);  // silently nothing
    EXPECT_FALSE(fs::exists(dir / "none"));
}

TEST(ShellLongPath, AbsoluteWithoutTrailingSeparator) {
    test::TempDir dir;
    fs::create_directory(dir / "x");
    EXPECT_EQ(ShellLongPath((dir / "x").string() + "/"), (dir / "x").string());
    EXPECT_EQ(ShellLongPath((dir / "x" / ".." / "x").string()), (dir / "x").string());
    EXPECT_EQ(ShellLongPath("/"), "/");
    EXPECT_EQ(ShellLongPath((dir / "missing").string()), "");
}

TEST(WorkFolder, LivesInTheRuntimeFolderAndIsPrivate) {
    test::CoreFixture fixture;
    const std::string work = EnsureWorkFolder(fixture.Places());
    EXPECT_EQ(work, fixture.WorkFolder().string());
    struct stat st {};
    ASSERT_EQ(stat(work.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(Version, TextOfTheProgramVersion) {
    EXPECT_EQ(GetVersionText(), "2.0.1.103");
}

TEST(ShowAppMessage, OneOkBoxTitledTidewellWithoutIcon) {
    test::CoreFixture fixture;
    ShowAppMessage("사업장을 선택해 주세요.");
    ASSERT_EQ(fixture.ui.boxes.size(), 1u);
    EXPECT_EQ(fixture.ui.boxes[0].title, "Tidewell");
    EXPECT_EQ(fixture.ui.boxes[0].text, "사업장을 선택해 주세요.");
    EXPECT_EQ(fixture.ui.boxes[0].icon, MessageIcon::None);
    EXPECT_EQ(fixture.ui.boxes[0].buttons, MessageButtons::Ok);
}

}  // namespace
}  // namespace tidewell
