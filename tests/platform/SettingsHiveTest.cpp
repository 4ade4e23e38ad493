#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"
#include "platform/Error.h"
#include "platform/SettingsHive.h"

namespace tidewell {
namespace {

constexpr const char* kKey = "Software\\QuenlowBarcode\\Tidewell";

TEST(SettingsHive, OpensWithOrWithoutCreating) {
    test::TempDir dir;
    SettingsHive hive(dir / "registry.db");
    EXPECT_FALSE(hive.OpenKey(kKey, false));
    ASSERT_TRUE(hive.OpenKey(kKey, true));
    EXPECT_TRUE(hive.OpenKey(kKey, false));
    // Parents exist with their child; key names ignore letter case and stray separators.
    EXPECT_TRUE(hive.KeyExists("software\\quenlowbarcode"));
    EXPECT_TRUE(hive.KeyExists("\\SOFTWARE\\QuenlowBarcode\\tidewell\\"));
    EXPECT_FALSE(hive.KeyExists("Software\\QuenlowBarcode\\Company"));
}

TEST(SettingsHive, TextAndIntegerValuesWithCaseInsensitiveNames) {
    test::TempDir dir;
    SettingsHive hive(dir / "registry.db");
    auto key = *hive.OpenKey(kKey, true);
    key.WriteString("LastLoginID", "홍길동 ");
    key.WriteInteger("MainFormLeft", -12);
    EXPECT_EQ(key.ReadString("lastloginid"), "홍길동 ");
    EXPECT_EQ(key.ReadInteger("MAINFORMLEFT"), -12);
    EXPECT_TRUE(key.ValueExists("mainformleft"));
    // Rewriting under another spelling replaces the value; it does not add a second one.
    key.WriteString("LASTLOGINID", "kim");
    EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"LastLoginID", "MainFormLeft"}));
    EXPECT_EQ(key.ReadString("LastLoginID"), "kim");
    // Absent values: empty text, no integer.
    EXPECT_EQ(key.ReadString("Company00Path"), "");
    EXPECT_FALSE(key.ReadInteger("MainFormTop"));
    EXPECT_THROW(key.ReadString("MainFormLeft"), Exception);
    EXPECT_TRUE(key.DeleteValue("lastLoginId"));
    EXPECT_FALSE(key.DeleteValue("LastLoginID"));
    EXPECT_FALSE(key.ValueExists("LastLoginID"));
}

TEST(SettingsHive, ValuesSurviveReopening) {
    test::TempDir dir;
    {
        SettingsHive hive(dir / "registry.db");
        hive.OpenKey(kKey, true)->WriteString("Company00Path", "/home/a/회사");
    }
    SettingsHive hive(dir / "registry.db");
    EXPECT_EQ(hive.OpenKey(kKey, false)->ReadString("Company00Path"), "/home/a/회사");
}

TEST(SettingsHive, BatchLandsTogetherOrNotAtAll) {
    test::TempDir dir;
    SettingsHive hive(dir / "registry.db");
    auto key = *hive.OpenKey(kKey, true);
    key.WriteString("A", "old");
    {
        auto batch = hive.Batch();
        key.WriteString("A", "new");
        key.WriteString("B", "new");
        // no Commit: the batch is abandoned
    }
    EXPECT_EQ(key.ReadString("A"), "old");
    EXPECT_FALSE(key.ValueExists("B"));
    {
        auto batch = hive.Batch();
        key.WriteString("A", "new");
        batch.Commit();
    }
    EXPECT_EQ(key.ReadString("A"), "new");
}

// A writer killed with SIGKILL in the middle of a large batch (big enough that pages reach the
// file before the commit) leaves every previous value in place and the hive usable.
TEST(SettingsHive, WriterKilledMidTransactionLeavesPreviousState) {
    test::TempDir dir;
    const auto file = dir / "registry.db";
    constexpr int kValues = 3000;
    {
        SettingsHive hive(file);
        auto key = *hive.OpenKey(kKey, true);
        auto batch = hive.Batch();
        for (int i = 0; i < kValues; ++i) key.WriteString("V" + std::to_string(i), "old");
        batch.Commit();
    }
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        SettingsHive hive(file);
        auto key = *hive.OpenKey(kKey, false);
        auto batch = hive.Batch();
        const std::string big(4000, 'n');
        for (int i = 0; i < kValues; ++i) key.WriteString("V" + std::to_string(i), big);
        if (write(ready[1], "x", 1) != 1) _exit(2);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char signal = 0;
    ASSERT_EQ(read(ready[0], &signal, 1), 1);
    close(ready[0]);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    SettingsHive hive(file);
    auto key = *hive.OpenKey(kKey, false);
    for (int i = 0; i < kValues; i += 97) EXPECT_EQ(key.ReadString("V" + std::to_string(i)), "old");
    EXPECT_EQ(key.ReadString("V2999"), "old");
    key.WriteString("After", "works");
    EXPECT_EQ(key.ReadString("After"), "works");
}

TEST(SettingsHive, DefaultPathFollowsXdgConfigHome) {
    test::ScopedEnvironment home("HOME", "/home/kim");
    {
        test::ScopedEnvironment config("XDG_CONFIG_HOME", "/somewhere/config");
        EXPECT_EQ(SettingsHive::DefaultPath(), "/somewhere/config/QuenlowBarcode/registry.db");
    }
    test::ScopedEnvironment relative("XDG_CONFIG_HOME", "not/absolute");
    EXPECT_EQ(SettingsHive::DefaultPath(), "/home/kim/.config/QuenlowBarcode/registry.db");
}

// The registry's rewrite runs inside the window's own batch at shutdown: an inner batch lands
// with the outer one, and a failure anywhere leaves the file as it was.
TEST(SettingsHive, BatchesNestAndOnlyTheOutermostReachesTheFile) {
    test::TempDir dir;
    SettingsHive hive(dir / "settings.db");
    RegistryKey key = *hive.OpenKey("Software\\Test", true);
    {
        SettingsBatch outer = hive.Batch();
        key.WriteString("a", "outer");
        {
            SettingsBatch inner = hive.Batch();
            key.WriteString("b", "inner");
            inner.Commit();
        }
        {
            SettingsBatch dropped = hive.Batch();
            key.WriteString("c", "dropped");
        }
        EXPECT_FALSE(key.ValueExists("c"));
        SettingsHive reader(dir / "settings.db");
        EXPECT_FALSE(reader.OpenKey("Software\\Test", false)->ValueExists("a"));  // not yet
        outer.Commit();
    }
    EXPECT_EQ(key.ReadString("a"), "outer");
    EXPECT_EQ(key.ReadString("b"), "inner");
    {
        SettingsBatch outer = hive.Batch();
        key.WriteString("a", "changed");
        SettingsBatch inner = hive.Batch();
        key.WriteString("b", "changed");
        inner.Commit();
    }
    EXPECT_EQ(key.ReadString("a"), "outer");
    EXPECT_EQ(key.ReadString("b"), "inner");
}

TEST(SettingsHive, ScopedHiveIsTheCurrentOneAndIsRestored) {
    test::TempDir dir;
    {
        ScopedCurrentUserHive first(dir / "one.db");
        {
            ScopedCurrentUserHive second(dir / "two.db");
            EXPECT_EQ(CurrentUserHive().file(), dir / "two.db");
        }
        EXPECT_EQ(CurrentUserHive().file(), dir / "one.db");
    }
}

}  // namespace
}  // namespace tidewell
