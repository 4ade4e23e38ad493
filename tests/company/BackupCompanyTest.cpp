#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "CompanyMaker.h"
#include "TestSupport.h"
#include "company/BackupCompany.h"
#include "company/Common.h"
#include "platform/CodePage.h"
#include "platform/Sqlite.h"

namespace fs = std::filesystem;
using testing::HasSubstr;

namespace tidewell {
namespace {

std::string AssertionText(const std::function<void()>& action) {
    try {
        action();
    } catch (const AssertionFailed& error) {
        return error.what();
    }
    return "(no assertion)";
}

// The title as the archive header holds it: an int32 length, then CP949 bytes.
std::string ArchiveTitle(const std::string& archive) {
    const std::string bytes = test::ReadFile(archive);
    std::int32_t length = 0;
    std::memcpy(&length, bytes.data(), sizeof length);
    return AnsiToUtf8(bytes.substr(4, static_cast<std::size_t>(length)));
}

std::int64_t Rows(const std::string& folder) {
    return OpenCompanyQuery(folder, "select count(*) from inventory").AsInteger(0);
}

class BackupCompanyTest : public testing::Test {
protected:
    std::string Company(const std::string& name, std::int64_t rows = 200) {
        const std::string folder = (core.dir / name).string();
        MakeCompanyFolder(folder, {.name = name, .rows = rows});
        return folder;
    }
    std::string Pack(const std::string& folder, const std::string& archiveName = "") {
        TBackupCompany backup(EnsureWorkFolder(core.Places()));
        backup.SourceFolder = folder;
        std::string result;
        backup.Backup(archiveName, result);
        return result;
    }
    // Restore's result; an error raised by the archive component counts as a failure.
    bool RestoreInto(const std::string& folder, const std::string& archive,
                     TProgressEvent progress = {}) {
        TBackupCompany restore(EnsureWorkFolder(core.Places()));
        restore.SourceFolder = folder;
        restore.OnProgress = std::move(progress);
        try {
            return restore.Restore(archive);
        } catch (const Exception&) {
            return false;
        }
    }
    test::CoreFixture core;
};

TEST_F(BackupCompanyTest, ChecksRaiseTheirAssertionTexts) {
    TBackupCompany company(EnsureWorkFolder(core.Places()));
    std::string result;
    EXPECT_EQ(AssertionText([&] { company.Backup("", result); }),
              "Source folder is not specified. (BackupCompany, line 117)");
    company.SourceFolder = (core.dir / "missing").string();
    EXPECT_EQ(AssertionText([&] { company.Backup("", result); }),
              "Source folder does not exists. (BackupCompany, line 118)");
    company.SourceFolder = core.dir.str();
    EXPECT_EQ(AssertionText([&] { company.Backup("", result); }),
              "No data found in the source folder. (BackupCompany, line 119)");

    company.SourceFolder = "";
    EXPECT_EQ(AssertionText([&] { company.Restore(""); }),
              "file name is not specified. (BackupCompany, line 162)");
    EXPECT_EQ(AssertionText([&] { company.Restore((core.dir / "none.bck").string()); }),
              "file not found. (BackupCompany, line 163)");
    test::WriteFile(core.dir / "some.bck", "x");
    EXPECT_EQ(AssertionText([&] { company.Restore((core.dir / "some.bck").string()); }),
              "Source folder is not specified. (BackupCompany, line 164)");
}

TEST_F(BackupCompanyTest, ADefaultNamedBackupCarriesTheDatabaseTimeAndLeavesTheDatabaseAlone) {
    const std::string folder = Company("한빛상사");
    const std::string database = CompanyDatabaseFile(folder);
    SetFileModifiedTime(database, EncodeDateTime({2006, 3, 5, 14, 7, 10, 0}));
    const std::string bytes = test::ReadFile(database);
    const auto time = fs::last_write_time(database);

    TBackupCompany backup(EnsureWorkFolder(core.Places()));
    backup.SourceFolder = folder;
    int progress = 0;
    backup.OnProgress = [&](TBackupFile* sender, const std::string&, TPercentage, bool&) {
        EXPECT_NE(sender, nullptr);
        ++progress;
    };
    // Left over from a run that was killed.
    test::WriteFile(backup.WorkFolder + "/default.mdb", "stale");
    const std::string before = FormatDateTime("yyyy-mm-dd hh:nn", SystemClock().Now());
    std::string archive;
    backup.Backup("", archive);
    const std::string after = FormatDateTime("yyyy-mm-dd hh:nn", SystemClock().Now());

    EXPECT_EQ(archive, backup.WorkFolder + "/20060305140710.bck");
    EXPECT_TRUE(fs::is_regular_file(archive));
    EXPECT_THAT(ArchiveTitle(archive),
                testing::AnyOf(before + "에 만든 백업파일", after + "에 만든 백업파일"));
    EXPECT_GT(progress, 0);
    EXPECT_EQ(test::ReadFile(database), bytes);
    EXPECT_EQ(fs::last_write_time(database), time);
    EXPECT_FALSE(fs::exists(backup.WorkFolder + "/default.mdb"));  // the copy is cleaned up
    EXPECT_TRUE(core.ui.boxes.empty());
}

TEST_F(BackupCompanyTest, ThePackedDatabaseIsCompactedAndRestoresWithItsRowsAndTime) {
    const std::string folder = Company("compact", 20000);
    ExecCompanySql(folder, "delete from inventory where id > 1000");
    const std::string database = CompanyDatabaseFile(folder);
    TDateTime time = 0;
    ASSERT_TRUE(GetFileModifiedTime(database, time));

    const std::string archive = Pack(folder);
    // Into a folder that does not exist yet, with its parents.
    const std::string target = (core.dir / "restored" / "deeper").string();
    ASSERT_TRUE(RestoreInto(target, archive));

    const std::string restored = CompanyDatabaseFile(target);
    EXPECT_LT(fs::file_size(restored) * 4, fs::file_size(database));
    EXPECT_EQ(ReadCompanyString(target, "pragma integrity_check"), "ok");
    EXPECT_EQ(Rows(target), 1000);
    EXPECT_EQ(ReadCompanyString(target, "select legalname from userinfo"), "compact");
    TDateTime restoredTime = 0;
    ASSERT_TRUE(GetFileModifiedTime(restored, restoredTime));
    EXPECT_EQ(FormatDateTime("yyyymmddhhnnss", restoredTime),
              FormatDateTime("yyyymmddhhnnss", time));
    EXPECT_EQ(fs::path(archive).stem().string(), FormatDateTime("yyyymmddhhnnss", time));
}

TEST_F(BackupCompanyTest, AnExplicitArchiveNameInAMissingFolderCreatesIt) {
    const std::string folder = Company("explicit");
    const std::string archive = folder + "/Backup/2024/safety.bck";
    EXPECT_EQ(Pack(folder, archive), archive);
    EXPECT_TRUE(fs::is_regular_file(archive));
}

// A file that is no database this build can read: it is never sent as a company's data, but a
// safety copy keeps it byte for byte, and no restore ever puts such a file in place of a database.
TEST_F(BackupCompanyTest, AFileThatIsNoDatabaseIsOnlyEverKeptInASafetyCopy) {
    const std::string folder = (core.dir / "jet").string();
    fs::create_directory(folder);
    const std::string jet = "Standard Jet DB" + test::RandomBytes(50000, 3);
    test::WriteFile(CompanyDatabaseFile(folder), jet);
    EXPECT_THROW(Pack(folder), CompanyDatabaseError);

    TBackupCompany safety(EnsureWorkFolder(core.Places()));
    safety.SourceFolder = folder;
    safety.SafetyCopy = true;
    std::string archive;
    safety.Backup(folder + "/Backup/tidewell.bck", archive);

    const std::string target = Company("target", 5);
    const std::string before = test::ReadFile(CompanyDatabaseFile(target));
    TBackupCompany restore(EnsureWorkFolder(core.Places()));
    restore.SourceFolder = target;
    try {
        restore.Restore(archive);
        FAIL() << "a file that is no database was restored";
    } catch (const Exception& error) {
        EXPECT_THAT(error.what(), HasSubstr("데이터베이스"));
    }
    EXPECT_EQ(test::ReadFile(CompanyDatabaseFile(target)), before);

    TBackupFile reader;  // the safety archive holds the bytes as they were
    ASSERT_TRUE(reader.Restore(archive, (core.dir / "raw").string()));
    EXPECT_EQ(test::ReadFile(core.dir / "raw" / "default.mdb"), jet);
}

TEST_F(BackupCompanyTest, ABackupWhoseCopyFailsRaisesAndWritesNoArchive) {
    const std::string folder = Company("nocopy");
    TBackupCompany backup(EnsureWorkFolder(core.Places()));
    backup.SourceFolder = folder;
    backup.WorkFolder = (core.dir / "no" / "such" / "work").string();
    const std::string archive = (core.dir / "out" / "a.bck").string();
    std::string result;
    EXPECT_THROW(backup.Backup(archive, result), Exception);
    EXPECT_FALSE(fs::exists(archive));
}

TEST_F(BackupCompanyTest, RestoreReplacesOnlyTheDatabase) {
    const std::string source = Company("source");
    const std::string archive = Pack(source);
    const std::string target = Company("target", 5);
    test::WriteFile(fs::path(target) / "notes.txt", "keep");
    fs::create_directory(fs::path(target) / "Backup");

    ASSERT_TRUE(RestoreInto(target, archive));
    EXPECT_EQ(ReadCompanyString(target, "select legalname from userinfo"), "source");
    EXPECT_EQ(Rows(target), 200);
    EXPECT_EQ(test::ReadFile(fs::path(target) / "notes.txt"), "keep");
    EXPECT_TRUE(fs::is_directory(fs::path(target) / "Backup"));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(target)) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_THAT(names, testing::UnorderedElementsAre("default.mdb", "notes.txt", "Backup"));
}

TEST_F(BackupCompanyTest, AFailedOrCancelledRestoreLeavesThePreviousDatabaseIntact) {
    const std::string source = Company("big", 20000);
    const std::string archive = Pack(source);
    const std::string target = Company("previous", 10);
    const std::string database = CompanyDatabaseFile(target);
    const std::string bytes = test::ReadFile(database);
    const auto time = fs::last_write_time(database);
    auto unchanged = [&] {
        EXPECT_EQ(test::ReadFile(database), bytes);
        EXPECT_EQ(fs::last_write_time(database), time);
        EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()), 1);
    };

    // A block cut short in the middle of the member.
    const std::string packed = test::ReadFile(archive);
    const std::string cut = (core.dir / "cut.bck").string();
    test::WriteFile(cut, packed.substr(0, packed.size() / 2));
    EXPECT_FALSE(RestoreInto(target, cut));
    unchanged();

    // Cancelled from the progress event after the first blocks.
    int blocks = 0;
    EXPECT_FALSE(
        RestoreInto(target, archive, [&](TBackupFile*, const std::string&, TPercentage, bool& go) {
            if (++blocks == 3) go = false;
        }));
    unchanged();

    // Not an archive at all.
    const std::string junk = (core.dir / "junk.bck").string();
    test::WriteFile(junk, test::RandomBytes(1000, 9));
    EXPECT_FALSE(RestoreInto(target, junk));
    unchanged();
}

// Members that must never land in a company folder: the database's own journal files (the
// engine would replay a planted one into the new data) and the names of our staging files.
TEST_F(BackupCompanyTest, AMemberNamedLikeTheDatabasesJournalOrOurStagingIsRefused) {
    const std::string source = Company("source");
    const std::string target = Company("target", 5);
    const std::string before = test::ReadFile(CompanyDatabaseFile(target));
    for (const char* name : {"default.mdb-wal", "default.mdb-shm", "default.mdb-journal",
                             "notes.txt.restoring", "notes.txt.tidewell-old"}) {
        const fs::path planted = core.dir / "planted" / name;
        fs::create_directories(planted.parent_path());
        test::WriteFile(planted, "planted");
        TBackupFile packer;
        const std::string archive = (core.dir / "planted.bck").string();
        ASSERT_TRUE(packer.Backup({CompanyDatabaseFile(source), planted.string()}, archive));
        TBackupCompany restore(EnsureWorkFolder(core.Places()));
        restore.SourceFolder = target;
        try {
            restore.Restore(archive);
            ADD_FAILURE() << name << " was written";
        } catch (const Exception& error) {
            EXPECT_THAT(error.what(), HasSubstr("쓸 수 없는 항목")) << name;
        }
        EXPECT_EQ(test::ReadFile(CompanyDatabaseFile(target)), before) << name;
        EXPECT_FALSE(fs::exists(fs::path(target) / name)) << name;
        fs::remove_all(core.dir / "planted");
    }
}

// The database can't take its place after the other members took theirs (here: a stop while
// it is written through the engine, for another connection has it open): every file the commit
// moved aside comes back, and nothing it brought stays.
TEST_F(BackupCompanyTest, ACommitThatFailsAtTheDatabasePutsTheOtherFilesBack) {
    const std::string source = Company("source", 40000);
    test::WriteFile(fs::path(source) / "notes.txt", "the new notes");
    TBackupFile packer;
    const std::string archive = (core.dir / "two.bck").string();
    ASSERT_TRUE(packer.Backup({CompanyDatabaseFile(source), source + "/notes.txt"}, archive));
    const std::string target = Company("target", 5);
    test::WriteFile(fs::path(target) / "notes.txt", "the old notes");
    const std::string before = test::ReadFile(CompanyDatabaseFile(target));
    SqliteDatabase host(CompanyDatabaseFile(target), SQLITE_OPEN_READWRITE);

    bool stop = false;
    TCompanyRestore restore(target);
    restore.ShouldStop = [&] { return stop; };
    ASSERT_TRUE(restore.Stage(archive));
    TCommitSteps steps;
    steps.CopyFile = (core.dir / "copy.mdb").string();
    steps.KeepCurrent = [&](ByteSource*, const std::vector<std::string>& others) {
        EXPECT_EQ(others, std::vector<std::string>{target + "/notes.txt"});
        stop = true;  // the user stops while the database is being written
    };
    EXPECT_THROW(restore.Commit(steps), OperationStopped);
    EXPECT_EQ(test::ReadFile(fs::path(target) / "notes.txt"), "the old notes");
    EXPECT_EQ(test::ReadFile(CompanyDatabaseFile(target)), before);
    EXPECT_FALSE(fs::exists(fs::path(target) / "notes.txt.tidewell-old"));
}

// A stop asked while an archive is being unpacked ends the unpacking at the next block, not
// after the whole archive.
TEST_F(BackupCompanyTest, AStopEndsUnpackingAtTheNextBlock) {
    const std::string archive = Pack(Company("big", 40000));
    const std::string target = (core.dir / "target").string();
    int events = 0;
    {
        TCompanyRestore restore(target);
        restore.OnProgress = [&](TBackupFile*, const std::string&, TPercentage, bool&) {
            ++events;
        };
        restore.ShouldStop = [&] { return events >= 3; };
        EXPECT_THROW(restore.Stage(archive), OperationStopped);
    }
    EXPECT_LE(events, 5);
    EXPECT_FALSE(fs::exists(CompanyDatabaseFile(target) + ".restoring"));
}

TEST(ForceFolder, CreatesMissingParentsAndReportsWhatItDid) {
    test::TempDir dir;
    EXPECT_TRUE(ForceFolder((dir / "a" / "b" / "c").string()));
    EXPECT_TRUE(fs::is_directory(dir / "a" / "b" / "c"));
    EXPECT_FALSE(ForceFolder((dir / "a" / "b").string()));
    EXPECT_FALSE(ForceFolder("/"));
    test::WriteFile(dir / "file", "x");
    try {
        ForceFolder((dir / "file" / "sub").string());
        ADD_FAILURE() << "a folder under a file can't exist";
    } catch (const Exception& error) {
        EXPECT_STREQ(error.what(), std::strerror(EEXIST));  // "file" is in the way
    }
}

}  // namespace
}  // namespace tidewell
