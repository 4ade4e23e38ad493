#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TestSupport.h"
#include "platform/Error.h"
#include "platform/FileKit.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

TEST(FileKit, InjectedFullDiskStopsWritesAtTheBudget) {
    test::TempDir dir;
    const fs::path file = dir / "out";
    FileHandle fd(::open(file.c_str(), O_WRONLY | O_CREAT, 0600));
    {
        ScopedWriteFault fault(5);
        WriteAll(fd.get(), "abc", 3, file.string());
        try {
            WriteAll(fd.get(), "defgh", 5, file.string());
            FAIL() << "the write went past the budget";
        } catch (const Exception& error) {
            EXPECT_NE(std::string(error.what()).find("No space left"), std::string::npos);
        }
    }
    WriteAll(fd.get(), "!", 1, file.string());  // the fault ends with its scope
    fd.Reset();
    EXPECT_EQ(test::ReadFile(file), "abcde!");
}

TEST(FileKit, PrivateFilesAndFoldersAreNewAndOwnerOnly) {
    test::TempDir dir;
    fs::create_symlink(dir / "elsewhere", dir / "planted");
    EXPECT_THROW(CreatePrivateFile(dir / "planted"), Exception);
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));

    TemporaryFile temp = CreateTemporaryFile(dir.path(), ".part-");
    const fs::path folder = CreatePrivateFolder(dir.path(), "op-");
    struct stat st {};
    ASSERT_EQ(::stat(temp.path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    test::WriteFile(folder / "inner", "x");
    fs::create_symlink(dir / "keep", folder / "link");
    test::WriteFile(dir / "keep", "kept");
    RemoveTreeQuietly(folder);
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(test::ReadFile(dir / "keep"), "kept");
}

}  // namespace
}  // namespace tidewell
