#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "CompanyMaker.h"
#include "HostProgram.h"
#include "TestSupport.h"
#include "company/Common.h"
#include "platform/CompanyDatabase.h"
#include "platform/FileKit.h"
#include "platform/Sqlite.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::HasSubstr;

namespace tidewell {
namespace {

std::string Connection(const fs::path& file, const char* mode = kShareDenyNone) {
    return DatabaseConnectionString(file.string(), mode);
}

std::int64_t Count(CompanyConnection& connection, const std::string& table) {
    return connection.OpenDataset("select count(*) from " + table).AsInteger(0);
}

std::string ErrorText(const std::function<void()>& action) {
    try {
        action();
    } catch (const CompanyDatabaseError& error) {
        return error.what();
    }
    return "(no error)";
}

// The host product finishing its write a little later, on its own thread.
std::thread CommitLater(SqliteDatabase& host) {
    return std::thread([&host] {
        std::this_thread::sleep_for(300ms);
        host.Execute("COMMIT");
    });
}

unsigned Mode(const fs::path& file) {
    struct stat st {};
    ::stat(file.c_str(), &st);
    return st.st_mode & 0777;
}

TEST(CompanyConnectionString, ReadsBackWhatIsBuiltEvenForAwkwardFolders) {
    const std::string plain = CompanyConnectionString("/data/company 1", kShareDenyNone);
    EXPECT_EQ(plain,
              "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/data/company 1/default.mdb;"
              "User ID=Admin;Jet OLEDB:Database Password=v-qarmolt;Mode=Share Deny None;");
    CompanyConnectionParams params = ParseCompanyConnectionString(plain);
    EXPECT_EQ(params.dataSource, "/data/company 1/default.mdb");
    EXPECT_EQ(params.mode, CompanyShareMode::DenyNone);

    // A ';' or a quote in a folder name must not cut the file name short.
    const std::string odd = "/data/a;Mode=Share Exclusive;\"b' ";
    params = ParseCompanyConnectionString(CompanyConnectionString(odd, kShareExclusive));
    EXPECT_EQ(params.dataSource, odd + "/default.mdb");
    EXPECT_EQ(params.mode, CompanyShareMode::Exclusive);

    params = ParseCompanyConnectionString("data source = '/x/it''s.mdb' ; MODE=share deny none");
    EXPECT_EQ(params.dataSource, "/x/it's.mdb");
    EXPECT_EQ(params.mode, CompanyShareMode::DenyNone);

    EXPECT_THROW(ParseCompanyConnectionString("Provider=x;Mode=Share Exclusive;"),
                 CompanyDatabaseError);
    EXPECT_THROW(ParseCompanyConnectionString("Data Source=/x.mdb;Mode=Share Deny Write;"),
                 CompanyDatabaseError);
    EXPECT_THROW(ParseCompanyConnectionString("Data Source=\"/x.mdb;Mode=1"), CompanyDatabaseError);
}

TEST(CompanyConnection, FilesThatAreNoDatabaseFailWithAClearTextAndAreNotTouched) {
    test::TempDir dir;
    EXPECT_THAT(ErrorText([&] { CompanyConnection c(Connection(dir / "missing.mdb")); }),
                HasSubstr("데이터베이스 파일을 열 수 없습니다"));
    EXPECT_FALSE(fs::exists(dir / "missing.mdb"));  // never created by opening

    test::WriteFile(dir / "notes.mdb", std::string(8192, 'x'));
    EXPECT_THAT(ErrorText([&] { CompanyConnection c(Connection(dir / "notes.mdb")); }),
                HasSubstr("데이터베이스 파일이 아닙니다"));
    EXPECT_EQ(test::ReadFile(dir / "notes.mdb"), std::string(8192, 'x'));

    // Pages overwritten in the middle of the inventory table.
    MakeCompanyFolder(dir.str() + "/damaged", {.rows = 5000});
    const fs::path file = dir / "damaged" / "default.mdb";
    {
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(4096 * 6);
        const std::string garbage(4096 * 20, '\xff');
        f.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    }
    CompanyConnection connection(Connection(file));
    EXPECT_THAT(ErrorText([&] { Count(connection, "inventory"); }), HasSubstr("손상"));
}

TEST(CompanyConnection, ShareDenyNoneWaitsOutAShortLockOfAnotherProgram) {
    test::TempDir dir;
    MakeCompanyFolder(dir.str(), {.rows = 10});
    const fs::path file = dir / "default.mdb";
    SqliteDatabase host(file, SQLITE_OPEN_READWRITE);
    host.Execute("BEGIN EXCLUSIVE; INSERT INTO inventory (goodsname) VALUES ('new');");
    std::thread release = CommitLater(host);
    CompanyConnection connection(Connection(file));
    EXPECT_EQ(Count(connection, "inventory"), 11);  // read after the host's commit
    release.join();

    // A lock held past the waiting time is reported, naming the reason.
    host.Execute("BEGIN EXCLUSIVE; DELETE FROM inventory;");
    EXPECT_THAT(ErrorText([&] { CompanyConnection c(Connection(file), 50ms); }),
                HasSubstr("다른 프로그램이"));
    host.Execute("ROLLBACK");
}

TEST(CompanyConnection, ShareExclusiveKeepsOthersOutUntilClosed) {
    test::TempDir dir;
    MakeCompanyFolder(dir.str(), {.rows = 10});
    const fs::path file = dir / "default.mdb";
    {
        CompanyConnection exclusive(Connection(file, kShareExclusive));
        EXPECT_EQ(Count(exclusive, "inventory"), 10);
        EXPECT_THROW(CompanyConnection(Connection(file), 50ms), CompanyDatabaseError);
    }
    CompanyConnection shared(Connection(file), 50ms);
    CompanyConnection second(Connection(file), 50ms);  // deny-none connections coexist
    EXPECT_EQ(Count(second, "inventory"), 10);
}

TEST(CompanyConnection, ColumnsStatementsAndDatasets) {
    test::TempDir dir;
    MakeCompanyFolder(dir.str(), {.name = "한빛상사", .rows = 3, .withKey = true});
    CompanyConnection connection(Connection(dir / "default.mdb"));

    EXPECT_THAT(connection.ColumnNames("[ver]"), testing::ElementsAre("version", "dbkey"));
    EXPECT_THAT(connection.ColumnNames("VER"), testing::ElementsAre("version", "dbkey"));
    EXPECT_THAT(connection.ColumnNames("[nothing]"), testing::IsEmpty());
    // A name is only ever a name.
    EXPECT_THAT(connection.ColumnNames("ver'); drop table ver; --"), testing::IsEmpty());
    EXPECT_EQ(Count(connection, "ver"), 1);

    CompanyDataset users = connection.OpenDataset("[userinfo]", cmdTable);
    ASSERT_FALSE(users.Eof());
    EXPECT_EQ(users.FieldName(0), "legalname");
    EXPECT_EQ(users.AsString(0), "한빛상사");
    users.Next();
    EXPECT_TRUE(users.Eof());
    users.Next();  // stays at the end instead of starting over
    EXPECT_TRUE(users.Eof());
    EXPECT_THROW(users.AsString(0), CompanyDatabaseError);

    // A dataset keeps its connection alive after the connection object is gone.
    std::optional<CompanyDataset> rows;
    {
        CompanyConnection other(Connection(dir / "default.mdb"));
        rows.emplace(other.OpenDataset("select id from inventory order by id"));
    }
    std::vector<std::int64_t> ids;
    for (; !rows->Eof(); rows->Next()) ids.push_back(rows->AsInteger(0));
    EXPECT_THAT(ids, testing::ElementsAre(1, 2, 3));

    // One statement at a time: a second one is refused, not run.
    EXPECT_THROW(connection.Execute("delete from inventory where id = 1; drop table ver"),
                 CompanyDatabaseError);
    EXPECT_EQ(Count(connection, "inventory"), 3);
    EXPECT_EQ(Count(connection, "ver"), 1);
    connection.Execute("delete from inventory where id = 1;  -- done");
    EXPECT_EQ(Count(connection, "inventory"), 2);
    EXPECT_THROW(connection.Execute("select nothing from nowhere"), CompanyDatabaseError);
    EXPECT_THROW(connection.OpenDataset("x", cmdStoredProc), CompanyDatabaseError);
}

TEST(CompanyCompaction, ShrinksADatabaseWithDeletedRowsAndKeepsItsRows) {
    test::TempDir dir;
    MakeCompanyFolder(dir.str(), {.rows = 20000});
    const fs::path source = dir / "default.mdb";
    {
        CompanyConnection connection(Connection(source));
        connection.Execute("delete from inventory where id > 2000");
    }
    const std::string before = test::ReadFile(source);
    const fs::path dest = dir / "compacted.mdb";
    CompactCompanyDatabase(Connection(source, kShareExclusive), Connection(dest));

    EXPECT_EQ(test::ReadFile(source), before);
    EXPECT_LT(fs::file_size(dest) * 4, fs::file_size(source));
    EXPECT_EQ(Mode(dest), 0600u);
    CompanyConnection compacted(Connection(dest));
    EXPECT_EQ(compacted.OpenDataset("pragma integrity_check").AsString(0), "ok");
    EXPECT_EQ(Count(compacted, "inventory"), 2000);

    // An existing destination is neither overwritten nor removed.
    test::WriteFile(dir / "taken.mdb", "keep me");
    EXPECT_THROW(
        CompactCompanyDatabase(Connection(source, kShareExclusive), Connection(dir / "taken.mdb")),
        CompanyDatabaseError);
    EXPECT_EQ(test::ReadFile(dir / "taken.mdb"), "keep me");
    // A failed compaction leaves no partial destination behind.
    test::WriteFile(dir / "plain.mdb", std::string(4096, 'p'));
    EXPECT_THROW(CompactCompanyDatabase(Connection(dir / "plain.mdb"), Connection(dir / "out.mdb")),
                 CompanyDatabaseError);
    EXPECT_FALSE(fs::exists(dir / "out.mdb"));
}

TEST(CompanyDatabaseCopy, CopiesCommittedDataOnlyAndAnyOtherFileAsItIs) {
    test::TempDir dir;
    MakeCompanyFolder(dir.str(), {.rows = 100});
    const fs::path file = dir / "default.mdb";
    SqliteDatabase host(file, SQLITE_OPEN_READWRITE);
    // The host is in the middle of a write: the copy must wait and see the committed state.
    host.Execute("BEGIN EXCLUSIVE; DELETE FROM inventory WHERE id > 50;");
    std::thread release = CommitLater(host);
    CopyCompanyDatabaseFile(file.string(), (dir / "copy.mdb").string());
    release.join();
    EXPECT_EQ(test::ReadFile(dir / "copy.mdb"), test::ReadFile(file));
    EXPECT_EQ(Mode(dir / "copy.mdb"), 0600u);
    CompanyConnection copy(Connection(dir / "copy.mdb"));
    EXPECT_EQ(Count(copy, "inventory"), 50);

    // A file of the host's own engine is copied byte for byte, replacing an older copy.
    const std::string foreign = "Standard Jet DB" + test::RandomBytes(100000, 7);
    test::WriteFile(dir / "jet.mdb", foreign);
    CopyCompanyDatabaseFile((dir / "jet.mdb").string(), (dir / "copy.mdb").string());
    EXPECT_EQ(test::ReadFile(dir / "copy.mdb"), foreign);

    EXPECT_THROW(CopyCompanyDatabaseFile((dir / "none.mdb").string(), (dir / "x.mdb").string()),
                 CompanyDatabaseError);
    EXPECT_FALSE(fs::exists(dir / "x.mdb"));
}

// Journal files a dead program left where the database was are no journals of the new one:
// they go, or the engine would read them into the new data.
TEST(CompanyDatabaseReplace, JournalFilesLeftWhereTheDatabaseWasGo) {
    test::TempDir dir;
    const fs::path live = dir / "default.mdb";
    const fs::path staged = dir / "staged.mdb";
    {
        SqliteDatabase db(staged, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        db.Execute("CREATE TABLE t(x)");
        for (int i = 0; i < 7; ++i) db.Execute("INSERT INTO t VALUES (1)");
    }
    for (const char* sidecar : {"-wal", "-shm", "-journal"}) {
        test::WriteFile(live.string() + sidecar, test::RandomBytes(32768, 8));
    }
    ReplaceCompanyDatabase(staged.string(), live.string());
    for (const char* sidecar : {"-wal", "-shm", "-journal"}) {
        EXPECT_FALSE(fs::exists(live.string() + sidecar)) << sidecar;
    }
    CompanyConnection replaced(Connection(live));
    EXPECT_EQ(Count(replaced, "t"), 7);
}

// The new data is on the disk before it takes the old data's place: where it cannot be made
// durable, the old database stays, whole.
TEST(CompanyDatabaseReplace, NewDataThatCannotBeMadeDurableReplacesNothing) {
    test::TempDir dir;
    const fs::path live = dir / "default.mdb";
    const fs::path staged = dir / "staged.mdb";
    for (const auto& [file, rows] : {std::pair{live, 3}, std::pair{staged, 7}}) {
        SqliteDatabase db(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        db.Execute("CREATE TABLE t(x)");
        for (int i = 0; i < rows; ++i) db.Execute("INSERT INTO t VALUES (1)");
    }
    {
        const ScopedSyncFault unflushable;
        EXPECT_THROW(ReplaceCompanyDatabase(staged.string(), live.string()), Exception);
    }
    CompanyConnection kept(Connection(live));
    EXPECT_EQ(Count(kept, "t"), 3);
}

// A file the engine can't read, in the middle of another program's long write under the
// engine's lock: the copy waits for the write to end instead of taking half of each.
TEST(CompanyDatabaseCopy, ADamagedFileBeingWrittenIsCopiedWhole) {
    test::TempDir dir;
    const std::string before =
        "SQLite format 3" + std::string(1, '\0') + test::RandomBytes(60000, 4);
    const std::string after =
        "SQLite format 3" + std::string(1, '\0') + test::RandomBytes(60000, 5);
    test::WriteFile(dir / "default.mdb", before);
    test::WriteFile(dir / "written", after);
    auto writer = test::HostProgram::Write(dir / "default.mdb", dir / "written", 300);
    CopyCompanyDatabaseFile((dir / "default.mdb").string(), (dir / "copy.mdb").string());
    EXPECT_EQ(writer.Wait(), 0);
    EXPECT_TRUE(test::ReadFile(dir / "copy.mdb") == after);
    EXPECT_EQ(Mode(dir / "copy.mdb"), 0600u);
}

// The database open in another program: the new content goes through the engine, so that
// program reads it at once; a rename would leave it reading the old file for good.
TEST(CompanyDatabaseReplace, AnotherProgramsOpenDatabaseSeesTheNewContent) {
    test::TempDir dir;
    const fs::path live = dir / "default.mdb";
    const fs::path staged = dir / "staged.mdb";
    for (const auto& [file, rows] : {std::pair{live, 3}, std::pair{staged, 7}}) {
        SqliteDatabase db(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        db.Execute("CREATE TABLE t(x)");
        for (int i = 0; i < rows; ++i) db.Execute("INSERT INTO t VALUES (1)");
    }
    int ready[2], go[2], answer[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(answer), 0);
    const pid_t host = fork();
    if (host == 0) {
        SqliteDatabase db(live, SQLITE_OPEN_READWRITE);
        auto count = [&] {
            auto rows = db.Prepare("SELECT count(*) FROM t");
            rows.Step();
            return static_cast<char>('0' + rows.ColumnInt(0));
        };
        char c = count();
        (void)!write(ready[1], &c, 1);
        (void)!read(go[0], &c, 1);
        c = count();
        (void)!write(answer[1], &c, 1);
        _exit(0);
    }
    char seen = 0;
    ASSERT_EQ(read(ready[0], &seen, 1), 1);
    EXPECT_EQ(seen, '3');
    ReplaceCompanyDatabase(staged.string(), live.string());
    ASSERT_EQ(write(go[1], "x", 1), 1);
    ASSERT_EQ(read(answer[0], &seen, 1), 1);
    EXPECT_EQ(seen, '7');
    int status = 0;
    waitpid(host, &status, 0);
    for (int fd : {ready[0], ready[1], go[0], go[1], answer[0], answer[1]}) close(fd);
}

// What is kept before a replacement is read from the live file under the lock, with every
// committed change, and without a copy on the disk first, in both journal modes. Only where a
// reader of an older state holds part of the WAL back is a copy made (and removed again).
TEST(CompanyDatabaseReplace, WhatIsKeptHoldsEveryCommittedChangeAndIsCopiedOnlyWhenItMustBe) {
    struct Case {
        const char* mode;
        bool olderReader;
        bool copied;
    };
    for (const Case& c :
         {Case{"delete", false, false}, Case{"wal", false, false}, Case{"wal", true, true}}) {
        SCOPED_TRACE(std::string(c.mode) + (c.olderReader ? " with an older reader" : ""));
        test::TempDir dir;
        const fs::path live = dir / "default.mdb";
        const fs::path staged = dir / "staged.mdb";
        {
            SqliteDatabase db(staged, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            db.Execute("CREATE TABLE t(x)");
        }
        SqliteDatabase host(live, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        host.Execute(std::string("PRAGMA journal_mode=") + c.mode);
        host.Execute("PRAGMA wal_autocheckpoint=0");  // committed changes stay in the WAL
        host.Execute("CREATE TABLE t(x)");
        host.Execute("INSERT INTO t VALUES (1)");
        std::optional<SqliteDatabase> reader;
        if (c.olderReader) {
            reader.emplace(live, SQLITE_OPEN_READONLY);
            reader->Execute("BEGIN");
            reader->Prepare("SELECT count(*) FROM t").Run();
        }
        for (int i = 0; i < 40; ++i) host.Execute("INSERT INTO t VALUES (zeroblob(3000))");

        ReplaceSteps steps;
        steps.CopyFile = (dir / "copy.mdb").string();
        bool copied = false;
        steps.KeepCurrent = [&](ByteSource* current) {
            ASSERT_NE(current, nullptr);
            copied = fs::exists(steps.CopyFile);
            std::string bytes(static_cast<std::size_t>(current->Size()), '\0');
            std::size_t got = 0;
            while (std::size_t n = current->Read(bytes.data() + got, 7000)) got += n;
            EXPECT_EQ(got, bytes.size());
            test::WriteFile(dir / "kept.mdb", bytes);
        };
        ReplaceCompanyDatabase(staged.string(), live.string(), steps);
        reader.reset();

        EXPECT_EQ(copied, c.copied);
        EXPECT_FALSE(fs::exists(steps.CopyFile));
        SqliteDatabase kept(dir / "kept.mdb", SQLITE_OPEN_READWRITE);
        auto rows = kept.Prepare("SELECT count(*) FROM t");
        ASSERT_TRUE(rows.Step());
        EXPECT_EQ(rows.ColumnInt(0), 41);
    }
}

}  // namespace
}  // namespace tidewell
