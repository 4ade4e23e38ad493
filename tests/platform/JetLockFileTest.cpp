#include "platform/JetLockFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <vector>

#include "HostProgram.h"
#include "JetFixture.h"
#include "TestSupport.h"
#include "platform/JetDatabase.h"

namespace tidewell {
namespace {

using test::HostProgram;
using test::TempDir;

JetProblem ProblemOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const JetDatabaseError& error) {
        return error.problem();
    }
    ADD_FAILURE() << "no error";
    return JetProblem::FileAccess;
}

struct JetFolder {
    TempDir dir;
    std::filesystem::path database = dir / "default.mdb";
    std::filesystem::path copy = dir / "copy.mdb";
    std::filesystem::path staged = dir / "staged.mdb";
    std::string bytes = test::MakeJetCompany("0123456789abcdef0123456789abcdef", "물결");
    JetFolder() { test::WriteFile(database, bytes); }
};

TEST(JetLockFileTest, LockFileIsTheDatabaseNameWithLdb) {
    EXPECT_EQ(JetLockFileOf("/c/Company 1/default.mdb"), "/c/Company 1/default.ldb");
    EXPECT_EQ(JetLockFileOf("/c/x.y/DEFAULT.MDB"), "/c/x.y/DEFAULT.ldb");
}

// A Jet writer shows itself by its locks, on the lock file or on the database: while it holds
// them the database is in use, no byte copy is taken and nothing replaces it. A program that only
// has it open writes nothing (the copy goes ahead) but still keeps the file from being replaced.
TEST(JetLockFileTest, HostHoldingTheDatabaseStopsCopyAndReplace) {
    struct Case {
        const char* how;
        bool copyAllowed;
    };
    for (const Case& c : {Case{"ldb", false}, Case{"mdb", false}, Case{"open", true}}) {
        SCOPED_TRACE(c.how);
        JetFolder folder;
        test::WriteFile(folder.staged, "new content");
        HostProgram host = HostProgram::JetUser(folder.database, c.how);
        EXPECT_TRUE(JetDatabaseInUse(folder.database));
        if (c.copyAllowed) {
            CopyJetDatabaseFile(folder.database, folder.copy);
            EXPECT_TRUE(test::ReadFile(folder.copy) == folder.bytes);
        } else {
            EXPECT_EQ(ProblemOf([&] { CopyJetDatabaseFile(folder.database, folder.copy); }),
                      JetProblem::InUse);
            EXPECT_FALSE(std::filesystem::exists(folder.copy));
        }
        EXPECT_EQ(ProblemOf([&] { ReplaceJetDatabaseFile(folder.staged, folder.database); }),
                  JetProblem::InUse);
        EXPECT_TRUE(test::ReadFile(folder.database) == folder.bytes);
        EXPECT_EQ(test::ReadFile(folder.staged), "new content");

        host.Stop();
        EXPECT_FALSE(JetDatabaseInUse(folder.database));
    }
}

// After the host has gone its lock file stays behind, without locks: that is no use, and the
// copy and the replacement go ahead (the replacement keeps the database's permissions).
TEST(JetLockFileTest, StaleLockFileAloneIsNoUse) {
    JetFolder folder;
    HostProgram::JetUser(folder.database, "ldb").Stop();
    ASSERT_TRUE(std::filesystem::exists(JetLockFileOf(folder.database)));
    EXPECT_FALSE(JetDatabaseInUse(folder.database));

    CopyJetDatabaseFile(folder.database, folder.copy);
    EXPECT_TRUE(test::ReadFile(folder.copy) == folder.bytes);
    struct stat copied {};
    ::stat(folder.copy.c_str(), &copied);
    EXPECT_EQ(copied.st_mode & 0777, 0600u);

    ::chmod(folder.database.c_str(), 0640);
    const std::string newer = test::MakeJetCompany("fedcba9876543210fedcba9876543210", "새 물결");
    test::WriteFile(folder.staged, newer);
    ReplaceJetDatabaseFile(folder.staged, folder.database);
    EXPECT_TRUE(test::ReadFile(folder.database) == newer);
    struct stat replaced {};
    ::stat(folder.database.c_str(), &replaced);
    EXPECT_EQ(replaced.st_mode & 0777, 0640u);
    EXPECT_FALSE(std::filesystem::exists(folder.staged));
}

// The replacement holds its lock from the test to the rename: the steps see the old bytes, a Jet
// writer starting meanwhile can't take its lock, and one that opened the file meanwhile still
// stops the rename.
TEST(JetLockFileTest, ReplacementKeepsTheOldBytesUnderItsLock) {
    JetFolder folder;
    const std::string newer = test::MakeJetCompany("fedcba9876543210fedcba9876543210", "새 물결");
    test::WriteFile(folder.staged, newer);
    std::vector<std::string> steps;
    JetReplaceSteps replace;
    replace.copyFile = folder.copy;
    replace.keepCurrent = [&](const std::filesystem::path& copy) {
        steps.push_back("keep");
        EXPECT_TRUE(test::ReadFile(copy) == folder.bytes);
        EXPECT_EQ(HostProgram::JetUser(folder.database, "mdb").Stop(), 1);  // refused its lock
    };
    replace.beforeReplace = [&] { steps.push_back("before"); };
    replace.settleNew = [&](const std::filesystem::path& file) {
        steps.push_back("settle");
        EXPECT_TRUE(test::ReadFile(file) == newer);
    };
    ReplaceJetDatabaseFile(folder.staged, folder.database, replace);
    EXPECT_EQ(steps, (std::vector<std::string>{"keep", "before", "settle"}));
    EXPECT_TRUE(test::ReadFile(folder.database) == newer);
    EXPECT_FALSE(std::filesystem::exists(folder.copy));

    test::WriteFile(folder.staged, folder.bytes);
    std::optional<HostProgram> host;
    replace.settleNew = nullptr;
    replace.keepCurrent = [&](const std::filesystem::path&) {
        host.emplace(HostProgram::JetUser(folder.database, "open"));
    };
    EXPECT_EQ(ProblemOf([&] { ReplaceJetDatabaseFile(folder.staged, folder.database, replace); }),
              JetProblem::InUse);
    EXPECT_TRUE(test::ReadFile(folder.database) == newer);
    EXPECT_TRUE(std::filesystem::exists(folder.staged));
    EXPECT_FALSE(std::filesystem::exists(folder.copy));
}

// A write that slips in while the bytes are copied changes the size and time: no copy is kept.
TEST(JetLockFileTest, CopyThatSawTheFileChangeIsDropped) {
    JetFolder folder;
    bool wrote = false;
    const auto writeOnce = [&] {
        if (!wrote) test::WriteFile(folder.database, folder.bytes + std::string(4096, 'x'));
        wrote = true;
        return false;
    };
    EXPECT_EQ(ProblemOf([&] { CopyJetDatabaseFile(folder.database, folder.copy, writeOnce); }),
              JetProblem::Changed);
    EXPECT_FALSE(std::filesystem::exists(folder.copy));

    EXPECT_THROW(CopyJetDatabaseFile(folder.database, folder.copy, [] { return true; }),
                 OperationStopped);
    EXPECT_FALSE(std::filesystem::exists(folder.copy));
}

}  // namespace
}  // namespace tidewell
