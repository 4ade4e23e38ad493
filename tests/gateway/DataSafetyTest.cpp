// Transfers that must never lose or mix a company's data: another run at the same time, a
// database in use, safety archives, hostile downloads, a full disk, runs that were killed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <set>

#include "AccountFixture.h"
#include "HostProgram.h"
#include "TestServers.h"
#include "archive/FileSearch.h"
#include "company/BackupCompany.h"
#include "company/SafetyArchives.h"
#include "platform/FileKit.h"
#include "platform/OperationLock.h"
#include "platform/Sqlite.h"

namespace tidewell {
namespace {

using testing::HasSubstr;

std::int64_t Rows(const fs::path& folder, const std::string& table) {
    SqliteDatabase db(folder / "default.mdb", SQLITE_OPEN_READONLY);
    auto count = db.Prepare("SELECT count(*) FROM " + table);
    count.Step();
    return count.ColumnInt(0);
}

// The database an archive holds, unpacked into folder.
fs::path Unpacked(const std::string& archive, const fs::path& folder) {
    TBackupFile reader;
    EXPECT_TRUE(reader.Restore(archive, folder.string())) << archive;
    return folder;
}

std::vector<std::string> SafetyArchives(const fs::path& company) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(company / "Backup", ignored)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class DataSafetyTest : public AccountTest {
protected:
    DataSafetyTest() { LogIn(user); }

    // The company in the web folder, uploaded from computer A, and computer B's account with
    // the same company at folder b (holding older data of it).
    TTidewellCompanyPtr UploadedWithOlderCopyAt(const fs::path& b, std::int64_t rows = 2000) {
        const fs::path a = MakeCompany("computer-a", "가게", rows);
        const auto company = AddLocal(user, a);
        fs::create_directories(b);
        fs::copy_file(a / "default.mdb", b / "default.mdb");
        ExecCompanySql(b.string(), "delete from inventory where rowid % 2 = 0");
        SetFileModifiedTime((b / "default.mdb").string(), EncodeDateTime({2024, 1, 1, 0, 0, 0, 0}));
        user.UploadCompany(company->CompanyKey);
        LogIn(other);
        other.LoadCompanies();
        other.GetCompany(0)->LocalPath = b.string();
        return company;
    }

    // Nothing of an operation is left: no working file, no staging file, no partial archive.
    void ExpectNothingLeftBehind(const fs::path& company) {
        EXPECT_TRUE(FilesIn(WorkFolder()).empty());
        std::error_code missing;
        for (const auto& entry : fs::recursive_directory_iterator(company, missing)) {
            const std::string name = entry.path().filename().string();
            EXPECT_FALSE(name.ends_with(".restoring") ||
                         name.find(".partial-") != std::string::npos)
                << entry.path();
        }
    }

    // An archive served by a service of the test's own, under the name given.
    void DownloadFrom(const std::string& archiveBytes, const std::string& name,
                      const TTidewellCompanyPtr& company) {
        test::RawServer server([&](const std::string&) {
            return test::RawReply{test::HttpReply(
                "200 OK", {"Content-Disposition: attachment; filename=\"" + name + "\""},
                archiveBytes)};
        });
        const std::string service = other.Service.URL;
        other.Service.URL = server.url();
        struct Back {
            TTidewellUser& user;
            std::string url;
            ~Back() { user.Service.URL = url; }
        } back{other, service};
        other.DownloadCompany(company->CompanyKey);
    }

    // The files packed as they are into an archive; its bytes.
    std::string ArchiveOf(const std::vector<fs::path>& files) {
        std::vector<std::string> names;
        for (const fs::path& file : files) names.push_back(file.string());
        const fs::path archive = fixture.dir / "crafted-archive.bck";
        TBackupFile packer;
        EXPECT_TRUE(packer.Backup(names, archive.string()));
        return test::ReadFile(archive);
    }

    TTidewellUser other{AccountSetup()};  // the second computer
};

TEST_F(DataSafetyTest, AnotherRunHoldingTheLockMakesATransferWaitAndThenRefuse) {
    const auto company = AddLocal(user, MakeCompany("a", "가게"));
    user.LockWait = std::chrono::milliseconds(300);
    {
        const OperationLock otherRun(EnsureWorkFolder(fixture.Places()),
                                     std::chrono::milliseconds(0));
        EXPECT_THROW(user.UploadCompany(company->CompanyKey), OperationBusy);
        EXPECT_TRUE(FilesIn(WorkFolder()).empty());
    }
    EXPECT_EQ(user.UploadCompany(company->CompanyKey).Kind, TTransferResult::trDone);
    LogIn(other);
    other.LoadCompanies();
    EXPECT_EQ(other.CompanyCount(), 1);
}

TEST_F(DataSafetyTest, ADatabaseInWalModeHeldOpenTravelsWithItsCommittedChanges) {
    const fs::path a = MakeCompany("a", "가게");
    const auto company = AddLocal(user, a);
    // The host product keeps the database open in WAL mode; its last change waits in the WAL.
    SqliteDatabase host(a / "default.mdb", SQLITE_OPEN_READWRITE);
    host.Execute(
        "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
        "CREATE TABLE sale(x); INSERT INTO sale VALUES (1);");
    SetFileModifiedTime((a / "default.mdb").string(), EncodeDateTime({2024, 1, 1, 0, 0, 0, 0}));
    TDateTime time = 0;
    ASSERT_TRUE(GetCompanyDatabaseTime(a.string(), time));
    EXPECT_GT(time, EncodeDateTime({2025, 1, 1, 0, 0, 0, 0}));  // the WAL's time counts

    user.UploadCompany(company->CompanyKey);
    const fs::path b = fixture.dir / "b";
    LogIn(other);
    other.LoadCompanies();
    other.GetCompany(0)->LocalPath = b.string();
    other.DownloadCompany(company->CompanyKey);
    EXPECT_EQ(Rows(b, "sale"), 1);

    // B changes it and sends it back; A downloads while its host still has it open.
    ExecCompanySql(b.string(), "insert into sale values (2)");
    SetFileModifiedTime((b / "default.mdb").string(), SystemClock().Now() + 1.0);
    other.UploadCompany(company->CompanyKey);
    user.LoadCompanies();
    user.GetCompany(0)->LocalPath = a.string();
    host.Execute("INSERT INTO sale VALUES (3)");
    ASSERT_EQ(user.DownloadCompany(company->CompanyKey).Kind, TTransferResult::trDone);

    auto check = host.Prepare("PRAGMA integrity_check");
    ASSERT_TRUE(check.Step());
    EXPECT_EQ(check.ColumnText(0), "ok");
    auto sales = host.Prepare("SELECT group_concat(x) FROM sale");  // the host sees B's data
    ASSERT_TRUE(sales.Step());
    EXPECT_EQ(sales.ColumnText(0), "1,2");
    const auto safety = SafetyArchives(a);  // and A's last change is kept
    ASSERT_EQ(safety.size(), 1u);
    EXPECT_EQ(Rows(Unpacked((a / "Backup" / safety[0]).string(), fixture.dir / "kept"), "sale"), 2);
    TDateTime after = 0;
    ASSERT_TRUE(GetCompanyDatabaseTime(a.string(), after));
    EXPECT_EQ(Stamp(after), Stamp(user.GetCompany(0)->LatestFileTime));
}

TEST_F(DataSafetyTest, TwoDownloadsWithinAMinuteKeepBothEarlierStates) {
    const fs::path b = fixture.dir / "b";
    const auto company = UploadedWithOlderCopyAt(b);
    const std::int64_t first = Rows(b, "inventory");
    other.DownloadCompany(company->CompanyKey);
    ExecCompanySql(b.string(), "delete from inventory where rowid < 100");
    const std::int64_t second = Rows(b, "inventory");
    other.DownloadCompany(company->CompanyKey);

    const auto safety = SafetyArchives(b);
    ASSERT_EQ(safety.size(), 2u);
    std::multiset<std::int64_t> kept;
    for (const auto& name : safety) {
        kept.insert(
            Rows(Unpacked((b / "Backup" / name).string(), fixture.dir / name), "inventory"));
    }
    EXPECT_EQ(kept, (std::multiset<std::int64_t>{first, second}));
}

TEST_F(DataSafetyTest, ADownloadNeverReplacesAnotherCompanysDatabase) {
    const fs::path b = fixture.dir / "b";
    const auto company = UploadedWithOlderCopyAt(b);
    const fs::path stranger = MakeCompany("stranger", "남의 가게");
    EnsureCompanyKey(stranger.string());
    const std::string before = test::ReadFile(stranger / "default.mdb");
    other.GetCompany(0)->LocalPath = stranger.string();
    try {
        other.DownloadCompany(company->CompanyKey);
        FAIL() << "another company's data was replaced";
    } catch (const Exception& error) {
        EXPECT_THAT(error.what(), HasSubstr("다른 사업장"));
    }
    EXPECT_EQ(test::ReadFile(stranger / "default.mdb"), before);
    EXPECT_FALSE(fs::exists(stranger / "Backup"));
    EXPECT_FALSE(fixture.hive().OpenKey(kProgramKey, false)->ValueExists("Company01Path"));
}

// Archives that the service could hand out but that are no company's data.
TEST_F(DataSafetyTest, HostileArchivesChangeNothingAndSayWhy) {
    const fs::path b = fixture.dir / "b";
    const auto company = UploadedWithOlderCopyAt(b, 200);
    const std::string before = test::ReadFile(b / "default.mdb");
    const auto beforeTime = fs::last_write_time(b / "default.mdb");
    auto archiveOf = [&](const std::string& content) {
        const fs::path source = fixture.dir / "crafted" / "default.mdb";
        fs::create_directories(source.parent_path());
        test::WriteFile(source, content);
        TBackupFile packer;
        const std::string archive = (fixture.dir / "crafted.bck").string();
        EXPECT_TRUE(packer.Backup({source.string()}, archive));
        return test::ReadFile(archive);
    };
    // The same database, stored under a name that climbs out of its folder.
    auto climbing = [&] {
        std::string bytes = archiveOf(test::ReadFile(b / "default.mdb"));
        const std::string stored =
            "\\" + archive::LowerAscii((fixture.dir / "crafted").string().substr(1));
        std::string name = stored;
        std::replace(name.begin(), name.end(), '/', '\\');
        name += "\\default.mdb";
        const std::size_t at = bytes.find(name);
        EXPECT_NE(at, std::string::npos);
        const std::string file = "\\default.mdb";  // same length, so the record stays whole
        const std::string evil = "..\\" + std::string(name.size() - 3 - file.size(), 'x') + file;
        bytes.replace(at, name.size(), evil);
        return bytes;
    };
    struct Case {
        std::string name, bytes, why;
    };
    const std::vector<Case> cases = {
        {"20300101000000.bck", archiveOf("this is text, not a database"), "데이터베이스"},
        {"20300101000000.bck", archiveOf(std::string(8 << 20, '\0')), "데이터베이스"},
        {"20300101000000.bck", "not even an archive", "Cannot read archive"},
        {"20301301000000.bck", archiveOf(test::ReadFile(b / "default.mdb")), "20301301000000"},
        {"20300101000000.bck", climbing(), "Unsafe name"},
        // The real database, the archive ending inside one of its blocks.
        {"20300101000000.bck", archiveOf(before).substr(0, archiveOf(before).size() / 2),
         "ends too early"},
    };
    for (const Case& c : cases) {
        test::RawServer hostile([&](const std::string&) {
            return test::RawReply{test::HttpReply(
                "200 OK", {"Content-Disposition: attachment; filename=\"" + c.name + "\""},
                c.bytes)};
        });
        other.Service.URL = hostile.url();
        other.GetCompany(0)->LocalPath = b.string();
        try {
            other.DownloadCompany(company->CompanyKey);
            ADD_FAILURE() << "taken: " << c.why;
        } catch (const Exception& error) {
            EXPECT_THAT(error.what(), HasSubstr(c.why));
        }
        EXPECT_EQ(test::ReadFile(b / "default.mdb"), before);
        EXPECT_EQ(fs::last_write_time(b / "default.mdb"), beforeTime);
        EXPECT_TRUE(SafetyArchives(b).empty());
        ExpectNothingLeftBehind(b);
        // Into a folder that has no database yet, nothing may take its place either.
        const fs::path fresh = fixture.dir / "fresh";
        other.GetCompany(0)->LocalPath = fresh.string();
        EXPECT_THROW(other.DownloadCompany(company->CompanyKey), Exception) << c.name;
        EXPECT_FALSE(fs::exists(fresh / "default.mdb")) << c.name;
    }
    EXPECT_FALSE(fixture.hive().OpenKey(kProgramKey, false)->ValueExists("Company01Path"));
}

TEST_F(DataSafetyTest, AFullDiskAtAnyStageOfADownloadChangesNothing) {
    const fs::path b = fixture.dir / "b";
    const auto company = UploadedWithOlderCopyAt(b, 3000);
    const std::string before = test::ReadFile(b / "default.mdb");
    // Where the disk filled up shows in the file the error names: the arriving archive, the
    // safety archive or the staged database.
    std::set<std::string> failedIn;
    const std::int64_t archive = other.GetCompany(0)->LatestFileSize;
    ASSERT_GT(archive, 3000);
    // Into a folder without data: only the arriving archive is written.
    const fs::path fresh = fixture.dir / "fresh";
    other.GetCompany(0)->LocalPath = fresh.string();
    try {
        const ScopedWriteFault full(archive / 2);
        other.DownloadCompany(company->CompanyKey);
        FAIL() << "the download got through a full disk";
    } catch (const Exception& error) {
        EXPECT_THAT(error.what(), HasSubstr(".download-"));
    }
    EXPECT_FALSE(fs::exists(fresh / "default.mdb"));
    ExpectNothingLeftBehind(fresh);
    failedIn.insert(".download-");
    other.GetCompany(0)->LocalPath = b.string();
    for (std::int64_t budget = 0;; budget += archive / 3) {
        ASSERT_LT(budget, archive * 20) << "the download never got through";
        std::string stage;
        try {
            const ScopedWriteFault full(budget);
            other.DownloadCompany(company->CompanyKey);
            break;
        } catch (const Exception& error) {
            stage = error.what();
            EXPECT_THAT(stage, HasSubstr("No space left"));
            for (const char* file : {".download-", ".partial-", ".restoring"}) {
                if (stage.find(file) != std::string::npos) failedIn.insert(file);
            }
        }
        EXPECT_EQ(test::ReadFile(b / "default.mdb"), before) << stage;
        EXPECT_TRUE(SafetyArchives(b).empty()) << stage;
        ExpectNothingLeftBehind(b);
    }
    EXPECT_EQ(failedIn, (std::set<std::string>{".download-", ".partial-", ".restoring"}));
    EXPECT_EQ(Rows(b, "inventory"), 3000);
}

TEST_F(DataSafetyTest, AFullDiskWhileUploadingSendsNothing) {
    const fs::path a = MakeCompany("a", "가게", 3000);
    const auto company = AddLocal(user, a);
    const std::string before = test::ReadFile(a / "default.mdb");
    {
        const ScopedWriteFault full(10000);  // the archive being packed
        EXPECT_THROW(user.UploadCompany(company->CompanyKey), Exception);
    }
    // The database snapshot is the engine's own writing: a file size limit stands in for the
    // full disk, in a child that can be given one.
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100000, 100000};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            user.UploadCompany(company->CompanyKey);
        } catch (const Exception&) {
            _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);

    EXPECT_EQ(test::ReadFile(a / "default.mdb"), before);
    ExpectNothingLeftBehind(a);
    user.LoadCompanies();
    EXPECT_EQ(user.CompanyCount(), 0);  // nothing reached the web folder
}

TEST_F(DataSafetyTest, WhatKilledRunsLeftIsClearedByTheNextOperation) {
    const fs::path b = fixture.dir / "b";
    const auto company = UploadedWithOlderCopyAt(b, 200);
    fs::create_directories(WorkFolder() / "op-x1y2z3");
    test::WriteFile(WorkFolder() / "op-x1y2z3" / "default.mdb", "a database copy");
    test::WriteFile(WorkFolder() / ".download-abcdef", "half an archive");
    test::WriteFile(WorkFolder() / "20240101000000.bck", "an upload archive");
    test::WriteFile(b / "default.mdb.restoring", "a staged database");
    test::WriteFile(b / "notes.txt.tidewell-old", "notes moved aside by a commit");
    // A commit cut short after this file's successor was in place: the successor stays.
    test::WriteFile(b / "memo.txt", "the memo restored");
    test::WriteFile(b / "memo.txt.tidewell-old", "the memo before");
    fs::create_directories(b / "Backup");
    test::WriteFile(b / "Backup" / ".tidewell202401010000.bck.partial-qwerty", "half");

    other.DownloadCompany(company->CompanyKey);
    EXPECT_TRUE(FilesIn(WorkFolder()).empty());
    EXPECT_FALSE(fs::exists(b / "default.mdb.restoring"));
    EXPECT_EQ(test::ReadFile(b / "notes.txt"), "notes moved aside by a commit");
    EXPECT_EQ(test::ReadFile(b / "memo.txt"), "the memo restored");
    EXPECT_FALSE(fs::exists(b / "memo.txt.tidewell-old"));
    EXPECT_EQ(SafetyArchives(b).size(), 1u);
    ExpectNothingLeftBehind(b);
}

// A till of the host product commits a sale every 3 ms, in either journal mode, while downloads
// and ways back replace its database: every sale it committed is afterwards in the database or
// in a safety archive that reads to its end. The till only ever waits.
TEST_F(DataSafetyTest, ATillCommittingAllTheTimeLosesNoSaleToDownloadsOrWaysBack) {
    const fs::path older = fixture.dir / "older";
    const auto company = UploadedWithOlderCopyAt(older, 2000);
    for (const std::string mode : {"wal", "delete"}) {
        SCOPED_TRACE(mode);
        const fs::path b = fixture.dir / mode;
        fs::create_directories(b);
        fs::copy_file(older / "default.mdb", b / "default.mdb");
        other.GetCompany(0)->LocalPath = b.string();
        const fs::path log = fixture.dir / (mode + ".log");
        auto till = test::HostProgram::Till(b / "default.mdb", mode, 3, log);
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(other.DownloadCompany(company->CompanyKey).Kind, TTransferResult::trDone);
        }
        for (int i = 0; i < 2; ++i) {
            const auto archives = ListSafetyArchives(b.string());
            ASSERT_GE(archives.size(), 2u);
            ASSERT_EQ(other.RestoreCompanyArchive(company->CompanyKey, archives[1].Path).Kind,
                      TTransferResult::trDone);
        }
        ASSERT_EQ(till.Stop(), 0);

        std::set<std::string> kept = test::SaleTokens(b / "default.mdb");
        const auto archives = SafetyArchives(b);
        EXPECT_EQ(archives.size(), 5u);
        for (const std::string& name : archives) {
            const fs::path unpacked = fixture.dir / (mode + "-" + name);
            TBackupFile reader;
            EXPECT_TRUE(reader.Restore((b / "Backup" / name).string(), unpacked.string())) << name;
            kept.merge(test::SaleTokens(unpacked / "default.mdb"));
        }
        const auto committed = test::TillTokens(log);
        std::vector<std::string> lost;
        for (const std::string& token : committed) {
            if (kept.count(token) == 0) lost.push_back(token);
        }
        EXPECT_GT(committed.size(), 10u);
        EXPECT_THAT(lost, testing::IsEmpty());
    }
}

// A damaged database (its schema page unreadable) is what a download is for: its bytes go into
// the safety archive as they are, read under the engine's lock, so that a program in the middle
// of writing them is waited for rather than copied half old, half new.
TEST_F(DataSafetyTest, ADamagedDatabaseIsKeptByteForByteAndRepairedByADownload) {
    const fs::path b = fixture.dir / "b";
    const auto company = UploadedWithOlderCopyAt(b, 200);
    std::string damaged = test::ReadFile(b / "default.mdb");
    std::fill(damaged.begin() + 100, damaged.begin() + 4096, '\xAB');
    test::WriteFile(b / "default.mdb", damaged);
    std::string written = damaged;
    std::fill(written.begin() + 100, written.begin() + 4096, '\xCD');
    test::WriteFile(fixture.dir / "written", written);
    {
        auto writer = test::HostProgram::Write(b / "default.mdb", fixture.dir / "written", 300);
        ASSERT_EQ(other.DownloadCompany(company->CompanyKey).Kind, TTransferResult::trDone);
        EXPECT_EQ(writer.Wait(), 0);
    }
    EXPECT_EQ(InventoryRows(b), 200);
    const auto safety = SafetyArchives(b);
    ASSERT_EQ(safety.size(), 1u);
    const fs::path kept = Unpacked((b / "Backup" / safety[0]).string(), fixture.dir / "kept");
    EXPECT_TRUE(test::ReadFile(kept / "default.mdb") == written);
}

// Another company's data served under this company's key (a mixed-up service, or anyone on a
// plain-HTTP path): nothing is replaced, and the message names both companies.
TEST_F(DataSafetyTest, AnotherCompanysDataUnderThisKeyReplacesNothing) {
    const fs::path b = fixture.dir / "b";
    const auto company = UploadedWithOlderCopyAt(b, 200);
    const fs::path stranger = MakeCompany("stranger", "남의 가게");
    EnsureCompanyKey(stranger.string());
    const std::string strangers = ArchiveOf({stranger / "default.mdb"});
    const std::string before = test::ReadFile(b / "default.mdb");
    // Into the company's folder, and into a new folder that has nothing to compare with.
    for (const fs::path& folder : {b, fixture.dir / "new"}) {
        other.GetCompany(0)->LocalPath = folder.string();
        try {
            DownloadFrom(strangers, "20300101000000.bck", company);
            ADD_FAILURE() << "another company's data was taken into " << folder;
        } catch (const Exception& error) {
            EXPECT_THAT(error.what(), HasSubstr(company->CompanyName + ": "));
            EXPECT_THAT(error.what(), HasSubstr("다른 사업장(남의 가게)"));
        }
        EXPECT_FALSE(fs::exists(folder / "Backup")) << folder;
        ExpectNothingLeftBehind(folder);
    }
    EXPECT_EQ(test::ReadFile(b / "default.mdb"), before);
    EXPECT_FALSE(fs::exists(fixture.dir / "new" / "default.mdb"));
    EXPECT_FALSE(fixture.hive().OpenKey(kProgramKey, false)->ValueExists("Company01Path"));
}

// What a download writes of the company's data is private from its first byte, and whatever
// the restore replaces is kept: the database and every other file of the archive that exists
// here. The staged files are looked at while they arrive.
TEST_F(DataSafetyTest, WhatARestoreReplacesIsKeptAndWhatItWritesIsPrivateFromTheStart) {
    const fs::path b = fixture.dir / "b";
    const auto company = UploadedWithOlderCopyAt(b, 3000);
    test::WriteFile(b / "notes.txt", "this computer's notes");
    const fs::path newer = fixture.dir / "newer";
    fs::create_directories(newer);
    fs::copy_file(fixture.dir / "computer-a" / "default.mdb", newer / "default.mdb");
    test::WriteFile(newer / "notes.txt", "the web folder's notes");
    const std::string archive = ArchiveOf({newer / "default.mdb", newer / "notes.txt"});
    const std::int64_t rowsBefore = InventoryRows(b);

    std::set<unsigned> modes;
    other.OnProgress = [&](const void*, const std::string&, const std::string&, std::int64_t,
                           std::int64_t, std::uint8_t) {
        for (const fs::path& dir : {b, b / "Backup"}) {
            std::error_code ignored;
            for (const auto& entry : fs::directory_iterator(dir, ignored)) {
                const std::string name = entry.path().filename().string();
                if (!name.ends_with(".restoring") && name.find(".partial-") == std::string::npos) {
                    continue;
                }
                struct stat st {};
                if (lstat(entry.path().c_str(), &st) == 0) modes.insert(st.st_mode & 0777);
            }
        }
    };
    DownloadFrom(archive, "20300101000000.bck", company);
    other.OnProgress = nullptr;
    EXPECT_EQ(modes, std::set<unsigned>{0600});

    EXPECT_EQ(test::ReadFile(b / "notes.txt"), "the web folder's notes");
    EXPECT_EQ(InventoryRows(b), 3000);
    const auto safety = SafetyArchives(b);
    ASSERT_EQ(safety.size(), 1u);
    const fs::path kept = Unpacked((b / "Backup" / safety[0]).string(), fixture.dir / "kept");
    EXPECT_EQ(test::ReadFile(kept / "notes.txt"), "this computer's notes");
    EXPECT_EQ(InventoryRows(kept), rowsBefore);
}

// A Backup folder that links to a folder of the user's elsewhere (another disk) takes the
// safety archive there; one that links to someone else's folder is refused before anything is
// written or even fetched.
TEST_F(DataSafetyTest, ABackupLinkIsFollowedOnlyIntoAFolderOfTheUsersOwn) {
    const fs::path b = fixture.dir / "b";
    const auto company = UploadedWithOlderCopyAt(b, 200);
    const fs::path elsewhere = fixture.dir / "other-disk" / "backups";
    fs::create_directories(elsewhere);
    fs::create_directory_symlink(elsewhere, b / "Backup");
    ASSERT_EQ(other.DownloadCompany(company->CompanyKey).Kind, TTransferResult::trDone);
    EXPECT_EQ(SafetyArchives(b).size(), 1u);
    EXPECT_EQ(FilesIn(elsewhere).size(), 1u);  // the archive itself, no partial one

    if (geteuid() != 0) GTEST_SKIP() << "needs root to hand a folder to another user";
    const fs::path foreign = fixture.dir / "foreign";
    fs::create_directory(foreign);
    ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
    fs::remove(b / "Backup");
    fs::create_directory_symlink(foreign, b / "Backup");
    const std::string before = test::ReadFile(b / "default.mdb");
    try {
        other.DownloadCompany(company->CompanyKey);
        FAIL() << "a safety archive went into another user's folder";
    } catch (const Exception& error) {
        EXPECT_THAT(error.what(), HasSubstr("백업 폴더"));
    }
    EXPECT_EQ(test::ReadFile(b / "default.mdb"), before);
    EXPECT_TRUE(fs::is_empty(foreign));
    ExpectNothingLeftBehind(b);
}

// The company's folder is another one by the time the archive is here (its drive unplugged, the
// bare mount point left at its path): nothing is written there, and nothing is recorded.
TEST_F(DataSafetyTest, AFolderThatIsAnotherOneByNowIsNotWrittenTo) {
    const fs::path b = fixture.dir / "b";
    const auto company = UploadedWithOlderCopyAt(b, 200);
    const std::string before = test::ReadFile(b / "default.mdb");
    bool unplugged = false;
    other.OnProgress = [&](const void*, const std::string& caption, const std::string&,
                           std::int64_t, std::int64_t, std::uint8_t) {
        if (caption != "전송" || unplugged) return;
        fs::rename(b, fixture.dir / "unplugged");
        fs::create_directory(b);
        unplugged = true;
    };
    try {
        other.DownloadCompany(company->CompanyKey);
        FAIL() << "the download went into another folder";
    } catch (const Exception& error) {
        EXPECT_THAT(error.what(), HasSubstr("사업장 폴더"));
    }
    other.OnProgress = nullptr;
    EXPECT_TRUE(unplugged);
    EXPECT_TRUE(fs::is_empty(b));
    EXPECT_EQ(test::ReadFile(fixture.dir / "unplugged" / "default.mdb"), before);
    EXPECT_FALSE(fixture.hive().OpenKey(kProgramKey, false)->ValueExists("Company01Path"));
}

}  // namespace
}  // namespace tidewell
