#include <errno.h>
#include <gtest/gtest.h>

#include <optional>

#include "Account.h"
#include "ArchiveName.h"
#include "ArchiveStore.h"
#include "CommandLine.h"
#include "CredentialCache.h"
#include "DataFolder.h"
#include "FolderBytes.h"
#include "FormBody.h"
#include "LoginGuard.h"
#include "PasswordHash.h"
#include "RequestLog.h"
#include "TestSupport.h"
#include "UploadFile.h"
#include "platform/Error.h"
#include "platform/FileKit.h"

namespace fs = std::filesystem;

namespace tidewell::webfolder {
namespace {

TEST(FormFields, DecodesPercentBytesAsCp949AndRefusesBrokenEscapes) {
    const auto form =
        FormFields::Parse("userid=%C8%AB%B1%E6%B5%BF&password=a%20b+c&x&CMD=UserProfile");
    ASSERT_TRUE(form);
    EXPECT_EQ(form->Text("userid"), "홍길동");
    EXPECT_EQ(form->Text("password"), "a b c");
    EXPECT_EQ(form->Text("cmd"), "UserProfile");  // names ignore letter case
    EXPECT_EQ(form->Bytes("x"), "");
    EXPECT_FALSE(form->Bytes("missing"));
    EXPECT_EQ(FormFields::Parse("a=1&a=2")->Text("a"), "1");
    EXPECT_EQ(FormFields::Parse("a=%20%09x%0D%0A")->Text("a"), "x");

    EXPECT_FALSE(FormFields::Parse("a=%"));
    EXPECT_FALSE(FormFields::Parse("a=%4"));
    EXPECT_FALSE(FormFields::Parse("a=%G1"));
}

TEST(ArchiveName, OnlyTheLastComponentCountsAndItMustBeAValidTime) {
    EXPECT_EQ(
        LastPathComponent("C:\\Users\\kim\\AppData\\Local\\Temp\\Tidewell\\20240102103000.bck"),
        "20240102103000.bck");
    EXPECT_EQ(LastPathComponent("a/b\\c"), "c");
    EXPECT_EQ(LastPathComponent("../"), "");
    EXPECT_TRUE(IsArchiveName("20240102103000.bck"));
    EXPECT_TRUE(IsArchiveName("20240229235959.bck"));
    for (const char* bad :
         {"20230229103000.bck", "20241301103000.bck", "20240102246000.bck", "2024010210300.bck",
          "202401021030001.bck", "20240102103000.BCK", "20240102103000.bak", "2024010210300x.bck",
          "+2024010210300.bck", "00000102103000.bck", "..", ""}) {
        EXPECT_FALSE(IsArchiveName(bad)) << bad;
    }
}

TEST(ServicePeriod, BegunDaysCountAndZeroMeansEnded) {
    const std::int64_t now = 1800000000;
    EXPECT_EQ(RemainingDays(0, now), kOpenEndedRemainingDays);
    EXPECT_EQ(RemainingDays(now + 365 * 86400, now), 365);
    EXPECT_EQ(RemainingDays(now + 365 * 86400 - 5, now), 365);
    EXPECT_EQ(RemainingDays(now + 1, now), 1);
    EXPECT_EQ(RemainingDays(now, now), 0);
    EXPECT_EQ(RemainingDays(now - 86400 * 10, now), 0);
    EXPECT_FALSE(PeriodEnded(0, now));
    EXPECT_TRUE(PeriodEnded(now, now));
}

TEST(PlanArchives, KeepsTheThreeStoredLastAndCountsWhatGoes) {
    // Newest first, in the order they were stored.
    const std::vector<StoredArchive> three{{"20240103000000.bck", 30, "c"},
                                           {"20240101000000.bck", 10, "a"},
                                           {"20240102000000.bck", 20, "b"}};
    auto plan = PlanArchives(three, "20240104000000.bck", 3);
    EXPECT_TRUE(plan.kept);
    ASSERT_EQ(plan.released.size(), 1u);
    EXPECT_EQ(plan.released[0].object, "b");
    EXPECT_EQ(plan.releasedBytes, 20);

    plan = PlanArchives(three, "20240101000000.bck", 3);  // same name: replaced, nothing pushed out
    EXPECT_TRUE(plan.kept);
    ASSERT_EQ(plan.released.size(), 1u);
    EXPECT_EQ(plan.released[0].object, "a");

    // Older data sent on purpose is stored and becomes the newest.
    plan = PlanArchives(three, "20231231000000.bck", 3);
    EXPECT_TRUE(plan.kept);
    ASSERT_EQ(plan.released.size(), 1u);
    EXPECT_EQ(plan.released[0].object, "b");

    plan = PlanArchives({}, "20240101000000.bck", 3);
    EXPECT_TRUE(plan.kept);
    EXPECT_TRUE(plan.released.empty());
}

TEST(PasswordHash, SaltedRecordsVerifyOnlyTheirPassword) {
    const std::string first = HashPassword("demo1234", 1000);
    const std::string second = HashPassword("demo1234", 1000);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.find("demo1234"), std::string::npos);
    EXPECT_TRUE(VerifyPassword("demo1234", first));
    EXPECT_TRUE(VerifyPassword("demo1234", second));
    EXPECT_FALSE(VerifyPassword("demo1235", first));
    EXPECT_FALSE(VerifyPassword("demo1234", "demo1234"));
    EXPECT_FALSE(VerifyPassword("demo1234", "pbkdf2-sha256$0$00$00"));
    EXPECT_FALSE(VerifyPassword("demo1234", "pbkdf2-sha256$1000$zz$00"));
}

Command Parse(std::vector<std::string> words) {
    return ParseCommandLine(words);
}

TEST(CommandLine, ReadsBothCommandsAndRefusesWhatItCannotFollow) {
    const auto serve = std::get<ServeOptions>(Parse({"serve", "--data", "d", "--listen=[::1]:0"}));
    EXPECT_EQ(serve.host, "::1");
    EXPECT_EQ(serve.port, 0);
    EXPECT_EQ(std::get<ServeOptions>(Parse({"serve", "--data", "d"})).port, 8080);

    const auto add =
        std::get<AddUserOptions>(Parse({"adduser", "--data", "d", "--id", "demo", "--password",
                                        "demo1234", "--name", "데모 사용자", "--days", "365"}));
    EXPECT_EQ(add.account.name, "데모 사용자");
    EXPECT_EQ(add.account.days, 365);
    EXPECT_EQ(add.account.quota, 1073741824);
    EXPECT_FALSE(std::get<AddUserOptions>(Parse({"adduser", "--data", "d", "--id", "a",
                                                 "--password", "b", "--name", "c"}))
                     .account.days);

    for (const auto& words : std::vector<std::vector<std::string>>{
             {},
             {"serve"},
             {"serve", "--data", "d", "--listen", "127.0.0.1"},
             {"serve", "--data", "d", "--listen", "127.0.0.1:65536"},
             {"serve", "--data", "d", "--port", "1"},
             {"adduser", "--data", "d", "--id", "a", "--password", "b"},
             {"adduser", "--data", "d", "--id", "a", "--password", "b", "--name", "데모", "사용자"},
             {"adduser", "--data", "d", "--id", "a", "--password", "b", "--name", "c", "--days",
              "x"},
             {"adduser", "--data", "d", "--id", "a", "--id", "b"},
             {"remove"}}) {
        EXPECT_THROW(Parse(words), UsageError);
    }
}

TEST(AccountSettings, RefusesWhatTheClientCouldNotUse) {
    const std::int64_t now = 1800000000;
    AccountSettings good{"demo", "demo1234", "데모 사용자", 365, 1073741824};
    EXPECT_NO_THROW(CheckAccountSettings(good, now));
    auto with = [&](auto change) {
        AccountSettings s = good;
        change(s);
        return s;
    };
    EXPECT_THROW(CheckAccountSettings(with([](auto& s) { s.userId = " demo"; }), now), Exception);
    EXPECT_THROW(CheckAccountSettings(with([](auto& s) { s.password = "pw "; }), now), Exception);
    EXPECT_THROW(CheckAccountSettings(with([](auto& s) { s.name = "a\nb"; }), now), Exception);
    EXPECT_THROW(CheckAccountSettings(with([](auto& s) { s.name = "\xF0\x9F\x98\x80"; }), now),
                 Exception);
    EXPECT_THROW(CheckAccountSettings(with([](auto& s) { s.days = -1; }), now), Exception);
    EXPECT_THROW(CheckAccountSettings(with([](auto& s) { s.days = 20000; }), now), Exception);
    EXPECT_THROW(CheckAccountSettings(with([](auto& s) { s.quota = 2147483648LL; }), now),
                 Exception);
    EXPECT_EQ(ExpireAtFor(with([](auto& s) { s.days = 0; }), now), now);
    EXPECT_EQ(ExpireAtFor(with([](auto& s) { s.days.reset(); }), now), 0);
}

TEST(CommandLine, ReadsTheServiceLimitsAndTheOperatorCommands) {
    const auto serve = std::get<ServeOptions>(
        Parse({"serve", "--data", "d", "--append-only", "--head-timeout", "2", "--idle-timeout=5",
               "--per-address", "3", "--max-companies", "7", "--trusted-proxy", "127.0.0.1"}));
    EXPECT_TRUE(serve.settings.store.appendOnly);
    EXPECT_EQ(serve.settings.http.pace.headTime, std::chrono::seconds(2));
    EXPECT_EQ(serve.settings.http.idleSeconds, 5u);
    EXPECT_EQ(serve.settings.http.perAddress, 3u);
    EXPECT_EQ(serve.settings.store.maxCompanies, 7u);
    EXPECT_EQ(serve.settings.http.trustedProxy, "127.0.0.1");
    const auto defaults = std::get<ServeOptions>(Parse({"serve", "--data", "d"}));
    EXPECT_FALSE(defaults.settings.store.appendOnly);
    EXPECT_EQ(defaults.settings.passwordIterations, 600000);

    const auto add =
        std::get<AddUserOptions>(Parse({"adduser", "--data", "d", "--id", "a", "--name", "n"}));
    EXPECT_FALSE(add.passwordOnCommandLine);
    EXPECT_EQ(std::get<PruneOptions>(Parse({"prune", "--data", "d", "--keep", "2"})).keep, 2u);
    const auto since = std::get<PruneOptions>(
        Parse({"prune", "--data", "d", "--keep-before", "@1714521600", "--account", "kim"}));
    EXPECT_EQ(since.keepBefore, 1714521600);
    EXPECT_FALSE(since.keep);
    EXPECT_EQ(since.account, "kim");
    EXPECT_EQ(ParseTime("2024-05-01T09:30") + 45, ParseTime("2024-05-01 09:30:45"));
    EXPECT_EQ(std::get<BackupOptions>(Parse({"backup", "--data", "d", "/b"})).destination, "/b");

    for (const auto& words : std::vector<std::vector<std::string>>{
             {"serve", "--data", "d", "--append-only=yes"},
             {"serve", "--data", "d", "--head-timeout", "0"},
             {"serve", "--data", "d", "--password-iterations", "10"},
             {"prune", "--data", "d"},
             {"prune", "--data", "d", "--keep", "0"},
             {"prune", "--data", "d", "--keep-before", "2024-13-01T00:00"},
             {"prune", "--data", "d", "--keep-before", "yesterday"},
             {"backup", "--data", "d"},
             {"backup", "--data", "d", "a", "b"}}) {
        EXPECT_THROW(Parse(words), UsageError) << words.back();
    }
}

TEST(CommandLine, NamesTheDistributedStoreWholeAndNeverWithItsSecrets) {
    const auto serve = std::get<ServeOptions>(
        Parse({"serve", "--index", "postgresql://tw@db:5432/tw", "--archives", "s3://bucket/prod",
               "--spool", "/var/cache/tw", "--download-memory", "64"}));
    EXPECT_TRUE(serve.location.Distributed());
    EXPECT_EQ(serve.location.index, "postgresql://tw@db:5432/tw");
    EXPECT_EQ(serve.location.archives, "s3://bucket/prod");
    EXPECT_EQ(serve.location.spool, "/var/cache/tw");
    EXPECT_EQ(serve.settings.backend.downloadMemory, 64 << 20);
    const auto migrate =
        std::get<MigrateOptions>(Parse({"migrate", "--data", "d", "--to-index",
                                        "postgres://tw@db/tw", "--to-archives", "s3://bucket"}));
    EXPECT_EQ(migrate.dataFolder, "d");
    EXPECT_EQ(migrate.target.archives, "s3://bucket");
    EXPECT_FALSE(std::get<PruneOptions>(Parse({"prune", "--data", "d", "--keep", "1"}))
                     .location.Distributed());

    for (const auto& words : std::vector<std::vector<std::string>>{
             {"serve", "--index", "postgresql://tw@db/tw"},
             {"serve", "--archives", "s3://bucket/prod"},
             {"serve", "--data", "d", "--index", "postgresql://db/tw", "--archives", "s3://b/p"},
             {"serve", "--index", "postgresql://tw:secret@db/tw", "--archives", "s3://b/p"},
             {"serve", "--index", "postgresql://db/tw?password=secret", "--archives", "s3://b/p"},
             {"serve", "--index", "mysql://db/tw", "--archives", "s3://b/p"},
             {"serve", "--index", "postgresql://db/tw", "--archives", "/srv/archives"},
             {"serve", "--data", "d", "--s3-config", "s3.conf"},
             {"adduser", "--data", "d", "--id", "a", "--name", "n", "--spool", "/tmp"},
             {"backup", "--index", "postgresql://db/tw", "/b"},
             {"migrate", "--data", "d", "--to-index", "postgresql://db/tw"}}) {
        EXPECT_THROW(Parse(words), UsageError) << words[1] << " " << words[2];
    }
}

TEST(LoginGuard, WaitsGrowThenLockAndOldFailuresAreForgotten) {
    using namespace std::chrono_literals;
    ThrottleRules rules;  // 5 free, 1 s doubling to 60 s, a lock of 15 minutes after 10
    FailureTable table(rules, 100);
    const auto t0 = FailureTable::Clock::time_point() + 1h;
    std::vector<long> waits;
    for (int i = 0; i < 10; ++i) waits.push_back(table.Failed("kim", t0 + i * 1min).count());
    EXPECT_EQ(waits, (std::vector<long>{0, 0, 0, 0, 0, 1, 2, 4, 8, 900}));
    EXPECT_EQ(table.Wait("kim", t0 + 9min + 899s).count(), 1);
    EXPECT_EQ(table.Wait("kim", t0 + 9min + 900s).count(), 0);
    EXPECT_EQ(table.Wait("lee", t0).count(), 0);

    // Quiet for long enough, the count starts over; success clears it at once.
    EXPECT_EQ(table.Failed("kim", t0 + 9min + 900s).count(), 0);
    for (int i = 0; i < 5; ++i) table.Failed("lee", t0);
    table.Succeeded("lee");
    EXPECT_EQ(table.Failed("lee", t0).count(), 0);

    // Bounded: a flood of names pushes the least strict out, never grows the table, and never
    // lifts a lock early; when every entry waits, a new name waits too.
    FailureTable small(rules, 3);
    for (int i = 0; i < 10; ++i) small.Failed("locked", t0);
    for (int i = 0; i < 10; ++i) small.Failed("name" + std::to_string(i), t0 + i * 1s);
    for (int i = 0; i < 6; ++i) small.Failed("name9", t0 + 10s);
    EXPECT_EQ(small.Size(), 3u);
    EXPECT_GT(small.Wait("name9", t0 + 10s).count(), 0);
    EXPECT_EQ(small.Wait("name0", t0 + 10s).count(), 0);
    EXPECT_EQ(small.Wait("locked", t0 + 10s).count(), 890);
    for (int i = 0; i < 6; ++i) small.Failed("name8", t0 + 10s);
    EXPECT_GT(small.Wait("newcomer", t0 + 10s).count(), 0);
    EXPECT_EQ(small.Wait("locked", t0 + 10s).count(), 890);
    EXPECT_EQ(ThrottleAddress("2001:db8:1:2:3:4:5:6"), "2001:db8:1:2::/64");
    EXPECT_EQ(ThrottleAddress("::ffff:10.1.2.3"), "10.1.2.3");
    EXPECT_EQ(ThrottleAddress("10.1.2.3"), "10.1.2.3");

    // Accounts compare without letter case; an address has room for a whole office, and
    // failures from one address never slow the account down at another.
    LoginGuard guard;
    for (int i = 0; i < 6; ++i) guard.Failed(i % 2 ? "Kim" : "kim", "10.0.0.1", t0);
    EXPECT_GT(guard.Wait("KIM", "10.0.0.1", t0).count(), 0);
    EXPECT_EQ(guard.Wait("KIM", "10.0.0.2", t0).count(), 0);
    EXPECT_EQ(guard.Wait("lee", "10.0.0.1", t0).count(), 0);
}

TEST(CredentialCache, HoldsOnlyTheVerifiedPasswordForItsRecordAndTime) {
    using namespace std::chrono_literals;
    CredentialCache cache(300s);
    const auto now = CredentialCache::Clock::now();
    cache.Remember(1, "record-a", "secret", now);
    EXPECT_TRUE(cache.Matches(1, "record-a", "secret", now + 299s));
    EXPECT_FALSE(cache.Matches(1, "record-a", "secret", now + 300s));
    EXPECT_FALSE(cache.Matches(1, "record-a", "Secret", now));
    EXPECT_FALSE(cache.Matches(1, "record-b", "secret", now));  // the password was re-set
    EXPECT_FALSE(cache.Matches(2, "record-a", "secret", now));
}

TEST(LogValue, PlainWordsStayBareEverythingElseIsQuotedAndEscaped) {
    EXPECT_EQ(LogValue("demo"), "demo");
    EXPECT_EQ(LogValue("/tidewellweb/gateway.asp"), "/tidewellweb/gateway.asp");
    EXPECT_EQ(LogValue(""), "\"\"");
    EXPECT_EQ(LogValue("a b=c"), "\"a b=c\"");
    EXPECT_EQ(LogValue("say \"hi\" \\ bye"), "\"say \\\"hi\\\" \\\\ bye\"");
    EXPECT_EQ(LogValue("\xC8\xAB\n"), "\"\\xC8\\xAB\\x0A\"");
}

// A fault on the way into the data folder is raised with its errno, so that a full disk is
// answered as one, and leaves neither the upload nor an archive the disk may forget.
TEST(FolderBytes, AFaultOnTheWayInSaysWhyAndLeavesNothing) {
    struct Case {
        const char* fault;
        int writeError;  // injected after the first bytes; -1: none
        int syncError;   // injected while the archive is put in place; 0: none
        int raised;
        bool diskFull;
    };
    const Case cases[] = {
        {"the disk fills up", ENOSPC, 0, ENOSPC, true},
        {"the quota is spent", EDQUOT, 0, EDQUOT, true},
        {"the disk takes no more bytes and says nothing", ScopedWriteFault::kNoProgress, 0, ENOSPC,
         true},
        {"the new name cannot be made durable", -1, EIO, EIO, false},
    };
    test::TempDir dir;
    const DataFolder folder(dir / "data");
    FolderBytes bytes(folder);
    // The company's folder exists: what fails is the sync of the name given in it.
    const fs::path company = folder.ArchivesFolder() / "7";
    fs::create_directory(company);
    const std::string archive(100000, 'a');
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        int raised = 0;
        bool diskFull = false;
        try {
            const auto writer = bytes.NewWriter(1, "20240101000000.bck");
            {
                std::optional<ScopedWriteFault> full;
                if (c.writeError >= 0) full.emplace(1000, c.writeError);
                writer->Write(archive.data(), archive.size());
            }
            writer->Seal();
            std::optional<ScopedSyncFault> unflushable;
            if (c.syncError != 0) unflushable.emplace(c.syncError);
            writer->Place(7);
            ADD_FAILURE() << "stored as if nothing had happened";
        } catch (const SystemError& error) {
            raised = error.code();
            diskFull = IsDiskFull(error);
        }
        EXPECT_EQ(raised, c.raised);
        EXPECT_EQ(diskFull, c.diskFull);
        EXPECT_TRUE(fs::is_empty(company));
        EXPECT_TRUE(fs::is_empty(folder.UploadsFolder()));
    }
}

}  // namespace
}  // namespace tidewell::webfolder
