#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "AccountFixture.h"
#include "TestServers.h"
#include "company/BackupCompany.h"
#include "company/Common.h"
#include "gateway/TidewellGateway.h"
#include "platform/CompanyDatabase.h"
#include "platform/Sqlite.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

TEST_F(AccountTest, LoginFillsTheAccountFromTheService) {
    ASSERT_TRUE(user.Login("kim ", "pw1234"));
    EXPECT_EQ(user.UserID, "kim ");  // stored as typed, sent stripped
    EXPECT_EQ(user.UserName, "김철수");
    EXPECT_GE(user.RemainingDays, 364);
    EXPECT_GT(user.ExpireAt, SystemClock().Now() + 363);
    EXPECT_GT(user.Created, 0);
    EXPECT_EQ(user.DiskQuota, kQuota);
    EXPECT_EQ(user.DiskUsed, 0);
}

TEST_F(AccountTest, RefusedLoginRaisesTheServiceMessageAndKeepsTheFields) {
    ASSERT_TRUE(user.Login("kim", "pw1234"));
    try {
        user.Login("kim", "wrong");
        FAIL() << "a refused login must raise";
    } catch (const Exception& error) {
        EXPECT_FALSE(std::string(error.what()).empty());
        EXPECT_EQ(std::string(error.what()).find("STATUS"), std::string::npos);
    }
    EXPECT_EQ(user.Password, "pw1234");
    EXPECT_EQ(user.UserName, "김철수");
}

TEST_F(AccountTest, BlankCredentialsSendNothing) {
    const std::string before = service.LogText();
    EXPECT_FALSE(user.Login("kim", "   "));
    EXPECT_FALSE(user.Login(" \t", "pw1234"));
    user.LoadCompanies();
    user.RefreshDiskUsage();
    EXPECT_EQ(service.LogText(), before);
    EXPECT_TRUE(user.UserID.empty());
}

TEST_F(AccountTest, NoCompaniesGiveAnEmptyListAndARefusedListKeepsThePreviousOne) {
    LogIn(user);
    user.LoadCompanies();
    EXPECT_EQ(user.CompanyCount(), 0);
    EXPECT_THROW(user.GetCompany(0), Exception);
    // A service that refuses the list (the account was changed meanwhile) says so, and the
    // companies that rows still show stay the account's.
    const auto local = AddLocal(user, MakeCompany("a", "가게"));
    user.Password = "changed";
    EXPECT_EQ(user.LoadCompanies().Kind, TTransferResult::trRefused);
    ASSERT_EQ(user.CompanyCount(), 1);
    EXPECT_EQ(user.GetCompany(0), local);
}

// Two computers share one account: A uploads, an empty folder on B downloads.
TEST_F(AccountTest, RoundTripBetweenTwoComputers) {
    LogIn(user);
    const fs::path a = MakeCompany("computer-a/company", "우리 가게", 500);
    const auto company = AddLocal(user, a);
    const std::string before = test::ReadFile(a / "default.mdb");
    user.UploadCompany(company->CompanyKey);
    EXPECT_EQ(test::ReadFile(a / "default.mdb"), before);  // the live database is only read
    EXPECT_TRUE(FilesIn(WorkFolder()).empty());            // the upload archive is gone

    // The host product on B already knows two companies of that name.
    auto hostKey = *fixture.hive().OpenKey("Software\\QuenlowBarcode\\Company", true);
    hostKey.WriteString("Company00Name", "우리 가게");
    hostKey.WriteString("Company03Name", "우리 가게(1)");

    TTidewellUser b(AccountSetup());
    LogIn(b);
    b.LoadCompanies();
    ASSERT_EQ(b.CompanyCount(), 1);
    const auto remote = b.GetCompany(0);
    EXPECT_EQ(remote->CompanyKey, company->CompanyKey);
    EXPECT_EQ(remote->CompanyName, "우리 가게");
    EXPECT_EQ(Stamp(remote->LatestFileTime), Stamp(DatabaseTime(a)));
    EXPECT_GT(remote->LatestFileSize, 0);

    const fs::path folderB = fixture.dir / "computer-b" / "company";
    remote->LocalPath = folderB.string();
    b.DownloadCompany(remote->CompanyKey);
    EXPECT_EQ(InventoryRows(folderB), 500);
    EXPECT_EQ(ReadCompanyKey(folderB.string()), company->CompanyKey);
    EXPECT_EQ(Stamp(DatabaseTime(folderB)), Stamp(remote->LatestFileTime));
    EXPECT_EQ(Stamp(DatabaseTime(a)), Stamp(remote->LatestFileTime));
    EXPECT_FALSE(fs::exists(folderB / "Backup"));  // nothing to keep a safety copy of
    EXPECT_TRUE(FilesIn(WorkFolder()).empty());    // the downloaded archive is gone

    // Registered in the first slot a fresh key gets, under a name the host does not use.
    auto key = *fixture.hive().OpenKey(kProgramKey, false);
    EXPECT_EQ(key.ReadString("Company01Path"), folderB.string());
    EXPECT_EQ(key.ReadString("Company01Key"), company->CompanyKey);
    EXPECT_EQ(key.ReadString("Company01Name"), "우리 가게(2)");
    EXPECT_FALSE(key.ValueExists("Company00Path"));

    // A second download into the now registered folder adds no slot.
    b.DownloadCompany(remote->CompanyKey);
    EXPECT_FALSE(key.ValueExists("Company02Path"));
}

TEST_F(AccountTest, DownloadOverLocalDataKeepsASafetyArchiveOfIt) {
    LogIn(user);
    const fs::path a = MakeCompany("a", "가게", 300);
    const auto company = AddLocal(user, a);
    user.UploadCompany(company->CompanyKey);

    // B holds older data of the same company (its own copy with fewer rows).
    const fs::path folderB = fixture.dir / "b";
    fs::create_directories(folderB);
    fs::copy_file(a / "default.mdb", folderB / "default.mdb");
    {
        SqliteDatabase db(folderB / "default.mdb", SQLITE_OPEN_READWRITE);
        db.Execute("DELETE FROM inventory WHERE rowid > 100");
    }
    test::WriteFile(folderB / "notes.txt", "keep me");

    TTidewellUser b(AccountSetup());
    LogIn(b);
    b.LoadCompanies();
    b.GetCompany(0)->LocalPath = folderB.string();
    b.DownloadCompany(company->CompanyKey);
    EXPECT_EQ(InventoryRows(folderB), 300);
    EXPECT_EQ(test::ReadFile(folderB / "notes.txt"), "keep me");

    const auto safety = FilesIn(folderB / "Backup");
    ASSERT_EQ(safety.size(), 1u);
    const std::string name = safety[0].filename().string();
    EXPECT_EQ(name.rfind("tidewell", 0), 0u);
    EXPECT_EQ(name.size(), std::string("tidewellyyyymmddhhnn.bck").size());
    TBackupCompany restore(WorkFolder().string());
    restore.SourceFolder = (fixture.dir / "restored").string();
    ASSERT_TRUE(restore.Restore(safety[0].string()));
    EXPECT_EQ(InventoryRows(fixture.dir / "restored"), 100);
}

TEST_F(AccountTest, ProgressReportsEveryStage) {
    LogIn(user);
    const fs::path a = MakeCompany("a", "가게", 3000);
    const auto company = AddLocal(user, a);
    std::vector<ProgressEvent> events;
    user.OnProgress = [&](const void*, const std::string& caption, const std::string& message,
                          std::int64_t total, std::int64_t done, std::uint8_t percent) {
        events.push_back({caption, message, total, done, percent});
    };
    user.UploadCompany(company->CompanyKey);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().Caption, "백업");
    EXPECT_EQ(events.front().Message, "업로드할 자료를 백업중입니다...");
    EXPECT_EQ(events.front().Total, 0);
    const std::int64_t archiveSize = user.TransferSize;
    EXPECT_GT(archiveSize, 0);
    const ProgressEvent& last = events.back();
    EXPECT_EQ(last.Caption, "전송");
    EXPECT_EQ(last.Message, "자료를 전송중입니다...");
    EXPECT_EQ(last.Total, archiveSize);
    // The request's framing is not the user's data: the count ends at the archive's size.
    EXPECT_EQ(last.Done, archiveSize);
    EXPECT_EQ(last.Percent, 100);
    std::int64_t previous = 0;
    for (const auto& e : events) {
        if (e.Caption != "전송") continue;
        EXPECT_GE(e.Done, previous);
        previous = e.Done;
    }

    events.clear();
    user.LoadCompanies();
    user.GetCompany(0)->LocalPath = a.string();
    user.DownloadCompany(company->CompanyKey);
    // The archive arrives whole and is unpacked beside the database before the local data is
    // touched; the safety copy is made under the database's lock, just before the replacement.
    std::vector<std::string> messages;
    for (const auto& e : events) {
        if (std::find(messages.begin(), messages.end(), e.Message) == messages.end()) {
            messages.push_back(e.Message);
        }
    }
    EXPECT_EQ(messages,
              (std::vector<std::string>{"자료를 전송중입니다...",
                                        "다운로드한 자료를 복원중입니다...", "복원 준비중..."}));
    EXPECT_EQ(events.back().Message, "다운로드한 자료를 복원중입니다...");
    const auto lastTransfer = std::find_if(events.rbegin(), events.rend(),
                                           [](const auto& e) { return e.Caption == "전송"; });
    EXPECT_EQ(lastTransfer->Done, user.GetCompany(0)->LatestFileSize);
    EXPECT_EQ(lastTransfer->Percent, 100);
    EXPECT_EQ(events.back().Caption, "복원");
    EXPECT_EQ(events.back().Percent, 100);
}

TEST_F(AccountTest, TransferStageWithoutAnExpectedSizeShowsZeroPercent) {
    LogIn(user);
    const auto company = AddLocal(user, MakeCompany("a", "가게"));
    user.UploadCompany(company->CompanyKey);
    user.LoadCompanies();
    user.GetCompany(0)->LocalPath = (fixture.dir / "b").string();
    user.GetCompany(0)->LatestFileSize = 0;
    std::vector<int> percents;
    user.OnProgress = [&](const void*, const std::string& caption, const std::string&, std::int64_t,
                          std::int64_t, std::uint8_t percent) {
        if (caption == "전송") percents.push_back(percent);
    };
    user.DownloadCompany(company->CompanyKey);
    ASSERT_FALSE(percents.empty());
    for (int p : percents) EXPECT_EQ(p, 0);
}

TEST_F(AccountTest, ExpiredAccountGetsItsUploadRefusedAndNothingChangesHere) {
    service.AddUser("old", "pw1234", "옛 사용자", 0, kQuota);
    TTidewellUser expired(AccountSetup());
    expired.Service.URL = service.BaseUrl();
    ASSERT_TRUE(expired.Login("old", "pw1234"));
    EXPECT_EQ(expired.RemainingDays, 0);
    const fs::path a = MakeCompany("a", "가게");
    const auto company = AddLocal(expired, a);
    const std::string before = test::ReadFile(a / "default.mdb");
    expired.UploadCompany(company->CompanyKey);
    EXPECT_EQ(test::ReadFile(a / "default.mdb"), before);
    EXPECT_TRUE(FilesIn(WorkFolder()).empty());
    expired.LoadCompanies();
    EXPECT_EQ(expired.CompanyCount(), 0);
}

TEST_F(AccountTest, DeletedCompanyIsGoneFromTheNextLoad) {
    LogIn(user);
    const auto first = AddLocal(user, MakeCompany("a", "첫째"));
    const auto second = AddLocal(user, MakeCompany("b", "둘째", 10));
    user.UploadCompany(first->CompanyKey);
    user.UploadCompany(second->CompanyKey);
    user.RefreshDiskUsage();
    const std::int64_t used = user.DiskUsed;
    EXPECT_GT(used, 0);
    user.LoadCompanies();
    ASSERT_EQ(user.CompanyCount(), 2);
    EXPECT_EQ(user.GetCompany(0)->CompanyName, "첫째");  // the service's order
    EXPECT_EQ(user.GetCompany(1)->CompanyName, "둘째");
    user.DeleteCompany("no such key");
    user.DeleteCompany(first->CompanyKey);
    user.LoadCompanies();
    ASSERT_EQ(user.CompanyCount(), 1);
    EXPECT_EQ(user.GetCompany(0)->CompanyKey, second->CompanyKey);
    user.RefreshDiskUsage();
    EXPECT_LT(user.DiskUsed, used);
}

// A listener that takes a connection, reads a little of the request and hangs up.
class HangUpServer {
public:
    HangUpServer() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(fd_, 4);
        socklen_t length = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            const int client = accept(fd_, nullptr, nullptr);
            if (client < 0) return;
            char buffer[65536];
            std::size_t total = 0;
            while (total < 200000) {
                const ssize_t n = read(client, buffer, sizeof buffer);
                if (n <= 0) break;
                total += static_cast<std::size_t>(n);
            }
            close(client);
        });
    }
    ~HangUpServer() {
        shutdown(fd_, SHUT_RDWR);
        close(fd_);
        thread_.join();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

TEST_F(AccountTest, ServiceGoneInTheMiddleOfAnUploadLeavesNoArchiveBehind) {
    LogIn(user);
    const auto company = AddLocal(user, MakeCompany("a", "가게", 20000));
    HangUpServer hangUp;
    user.Service.URL = hangUp.url();
    EXPECT_THROW(user.UploadCompany(company->CompanyKey), Exception);
    EXPECT_TRUE(FilesIn(WorkFolder()).empty());
}

TEST_F(AccountTest, DownloadCutInTheMiddleLeavesTheLocalDatabaseAsItWas) {
    LogIn(user);
    const fs::path a = MakeCompany("a", "가게", 2000);
    const auto company = AddLocal(user, a);
    user.UploadCompany(company->CompanyKey);
    const fs::path folderB = MakeCompany("b", "가게", 50);
    const std::string before = test::ReadFile(folderB / "default.mdb");

    // Headers of an archive, half of it, then the connection goes.
    test::RawServer cut([](const std::string&) {
        return test::RawReply{
            test::HttpReply("200 OK",
                            {"Content-Type: application/octet-stream",
                             "Content-Disposition: attachment; filename=\"20240506070810.bck\"",
                             "Content-Length: 100000"},
                            std::string(50000, 'x')),
            false, 0};
    });
    TTidewellUser b(AccountSetup());
    LogIn(b);
    b.LoadCompanies();
    b.GetCompany(0)->LocalPath = folderB.string();
    b.Service.URL = cut.url();
    try {
        b.DownloadCompany(company->CompanyKey);
    } catch (const Exception&) {
        // a cut transfer may raise; either way nothing here may change
    }
    EXPECT_EQ(test::ReadFile(folderB / "default.mdb"), before);
    EXPECT_FALSE(fs::exists(folderB / "Backup"));
    EXPECT_TRUE(FilesIn(WorkFolder()).empty());
}

TEST_F(AccountTest, DamagedDownloadIsNotStampedOrRegistered) {
    LogIn(user);
    const auto company = AddLocal(user, MakeCompany("a", "가게", 2000));
    user.UploadCompany(company->CompanyKey);
    const fs::path folderB = MakeCompany("b", "가게", 50);
    const std::string before = test::ReadFile(folderB / "default.mdb");
    const TDateTime timeBefore = DatabaseTime(folderB);
    test::RawServer damaged([](const std::string&) {
        return test::RawReply{
            test::HttpReply("200 OK",
                            {"Content-Disposition: attachment; filename=\"20300101000000.bck\""},
                            "this is not an archive"),
            false, 0};
    });
    TTidewellUser b(AccountSetup());
    LogIn(b);
    b.LoadCompanies();
    b.GetCompany(0)->LocalPath = folderB.string();
    b.Service.URL = damaged.url();
    EXPECT_ANY_THROW(b.DownloadCompany(company->CompanyKey));
    EXPECT_EQ(test::ReadFile(folderB / "default.mdb"), before);
    EXPECT_EQ(Stamp(DatabaseTime(folderB)), Stamp(timeBefore));
    EXPECT_FALSE(fixture.hive().OpenKey(kProgramKey, false)->ValueExists("Company01Path"));
    EXPECT_TRUE(FilesIn(WorkFolder()).empty());
}

TEST(CompanyInfoRetries, AReplyWithoutStatusIsAskedAtMostThreeTimes) {
    test::CoreFixture fixture;
    std::atomic<int> infoRequests{0};
    test::HttplibServer server;
    server.server.Post("/tidewellweb/gateway.asp", [&](const httplib::Request& request,
                                                       httplib::Response& response) {
        if (request.body.find("cmd=userprofile") != std::string::npos) {
            response.set_content("STATUS=0\r\nUserName=x\r\nRemainingDays=10\r\n", "text/plain");
        } else if (request.body.find("cmd=companylist") != std::string::npos) {
            response.set_content("STATUS=0\r\nCompanyCount=2\r\nC000=k0\r\nC001=k1\r\n",
                                 "text/plain");
        } else if (request.body.find("cmd=companyinfo") != std::string::npos) {
            ++infoRequests;
            if (request.body.find("companykey=k1") != std::string::npos) {
                response.set_content("STATUS=0\r\nCompanyKey=k1\r\nCompanyName=B\r\n",
                                     "text/plain");
            } else {
                response.set_content("<html>busy</html>", "text/html");
            }
        } else {
            response.set_content("STATUS=0\r\nDiskUsed=0\r\n", "text/plain");
        }
    });
    server.Start();
    TTidewellUser user(SetupFor(fixture, server.url()));
    ASSERT_TRUE(user.Login("a", "b"));
    user.LoadCompanies();
    EXPECT_EQ(infoRequests.load(), TTidewellUser::kCompanyInfoTries + 1);
    ASSERT_EQ(user.CompanyCount(), 2);
    EXPECT_EQ(user.GetCompany(0)->CompanyKey, "");  // made from the last reply
    EXPECT_EQ(user.GetCompany(1)->CompanyName, "B");
}

TEST(CompanyList, EntriesRemovedByALoadStayValidForWhoeverHoldsThem) {
    TTidewellUser user(TAccountSetup{});
    auto held = std::make_shared<TTidewellCompany>();
    held->CompanyKey = "k";
    EXPECT_EQ(user.AddCompany(held), 0);
    EXPECT_EQ(user.AddCompany(std::make_shared<TTidewellCompany>(*held)), 1);
    EXPECT_EQ(user.IndexOfCompany("k"), 0);  // the first of two equal keys
    EXPECT_EQ(user.IndexOfCompany("K"), -1);
    std::weak_ptr<TTidewellCompany> watch = user.GetCompany(0);
    held.reset();
    EXPECT_FALSE(watch.expired());  // the account still holds it
}

TEST(RegisterLocalCompany, SlotRules) {
    test::CoreFixture fixture;
    TTidewellUser user(SetupFor(fixture));
    // Without the program key nothing is registered.
    user.RegisterLocalCompany("k", "n", "/x");
    EXPECT_FALSE(fixture.hive().KeyExists(kProgramKey));

    auto key = *fixture.hive().OpenKey(kProgramKey, true);
    user.RegisterLocalCompany("k1", "가", "/data/a");
    EXPECT_EQ(key.ReadString("Company01Path"), "/data/a");  // slot 01 when none is in use
    user.RegisterLocalCompany("k1", "가", "/data/a");
    EXPECT_FALSE(key.ValueExists("Company02Path"));  // registered already
    user.RegisterLocalCompany("k1", "가", "/DATA/a");
    EXPECT_EQ(key.ReadString("Company02Path"), "/DATA/a");  // letter case counts
    key.WriteString("Company07Path", "/data/g");
    user.RegisterLocalCompany("k2", "나", "/data/b");
    EXPECT_EQ(key.ReadString("Company08Path"), "/data/b");  // after the highest in use
    EXPECT_EQ(key.ReadString("Company08Key"), "k2");
    EXPECT_EQ(key.ReadString("Company08Name"), "나");

    // With slot 99 taken the next would be 100, which nobody reads: the lowest free one is used.
    key.WriteString("Company99Path", "/data/z");
    user.RegisterLocalCompany("k3", "다", "/data/c");
    EXPECT_FALSE(key.ValueExists("Company100Path"));
    EXPECT_EQ(key.ReadString("Company00Path"), "/data/c");
    for (int slot = 0; slot < kCompanySlotCount; ++slot) {
        if (!key.ValueExists(CompanySlotValue(slot, "Path"))) {
            key.WriteString(CompanySlotValue(slot, "Path"), "/full/" + std::to_string(slot));
        }
    }
    user.RegisterLocalCompany("k4", "라", "/data/d");  // every slot in use: nothing written
    EXPECT_FALSE(key.ValueExists("Company100Path"));
    for (int slot = 0; slot < kCompanySlotCount; ++slot) {
        EXPECT_NE(key.ReadString(CompanySlotValue(slot, "Path")), "/data/d");
    }
}

TEST(MakeUniqueCompanyName, NumbersNamesTheHostProductUsesAlready) {
    test::CoreFixture fixture;
    TTidewellUser user(SetupFor(fixture));
    EXPECT_EQ(user.MakeUniqueCompanyName("가게"), "가게");  // no host key at all
    auto host = *fixture.hive().OpenKey("Software\\QuenlowBarcode\\Company", true);
    EXPECT_EQ(user.MakeUniqueCompanyName("가게"), "가게");
    host.WriteString("Company05Name", "가게");
    host.WriteString("Company99Name", "가게(1)");
    host.WriteString("Company100Name", "가게(2)");  // never read
    EXPECT_EQ(user.MakeUniqueCompanyName("가게"), "가게(2)");
    EXPECT_EQ(user.MakeUniqueCompanyName("가게 "), "가게 ");
}

}  // namespace
}  // namespace tidewell
