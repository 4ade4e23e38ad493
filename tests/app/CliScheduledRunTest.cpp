// A scheduled run (sync --wait --scheduled) as the timer starts it: quiet when it succeeds;
// when it fails one desktop notification on the session bus, the same words on stderr, a
// non-zero exit and a last run that schedule status shows.
#include <gtest/gtest.h>

#include <memory>

#include "CliRunner.h"
#include "DesktopSession.h"
#include "TestServers.h"
#include "company/Common.h"
#include "gateway/TidewellGateway.h"

namespace fs = std::filesystem;

namespace tidewell::test {
namespace {

constexpr const char* kTitle = "Tidewell: 예약 백업을 마치지 못했습니다";

// The command line over the reference service, with a private session bus whose
// notification service records what it is sent.
class CliScheduledRun : public ::testing::Test {
protected:
    void SetUp() override {
        if (bus.Address().empty()) GTEST_SKIP() << "dbus-daemon did not start";
        notifications = std::make_unique<FakeNotificationService>(bus.Address());
        ASSERT_TRUE(notifications->Ready());
        cli.environment["DBUS_SESSION_BUS_ADDRESS"] = bus.Address();
    }

    MainFixture f;
    CliRunner cli{f};
    PrivateSessionBus bus{cli.home / "bus"};
    std::unique_ptr<FakeNotificationService> notifications;
};

TEST_F(CliScheduledRun, AFailedRunIsNotifiedOnceAndAGoodRunIsQuiet) {
    const fs::path shop = f.MakeCompany("shop", "가게", kNewer, 2000);
    cli.Register(0, shop, "가게");
    ASSERT_EQ(cli.Run({"login", "kim", "--file"}, "pw1234\n").status, 0);
    cli.Run({"schedule", "install"});  // the units; no systemctl here to switch them on
    const std::vector<std::string> scheduled = {"sync", "--wait", "--scheduled"};

    CliOutcome run = cli.Run(scheduled);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(notifications->Received().empty());
    run = cli.Run({"schedule", "status"});
    EXPECT_NE(run.out.find(", 성공\n"), std::string::npos) << run.out;

    // The web folder is too small for the next upload: the service refuses it.
    f.service.AddUser("kim", "pw1234", "김철수", 30, 1000);
    SetFileModifiedTime((shop / "default.mdb").string(), kNewer + 1);
    run = cli.Run(scheduled);
    EXPECT_EQ(run.status, 1);
    auto notices = notifications->Received();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].application, "Tidewell");
    EXPECT_EQ(notices[0].summary, kTitle);
    EXPECT_EQ(notices[0].urgency, 2);
    const std::string refusal = notices[0].body;
    EXPECT_EQ(refusal.rfind("가게: ", 0), 0u) << refusal;  // the company, then the service's words
    EXPECT_GT(refusal.find('\n') == std::string::npos ? refusal.size() : refusal.find('\n'),
              std::string("가게: ").size());
    EXPECT_EQ(refusal.find("STATUS="), std::string::npos) << refusal;
    EXPECT_NE(run.err.find(std::string(kTitle) + "\n" + refusal + "\n"), std::string::npos)
        << "the journal gets the same words: " << run.err;
    run = cli.Run({"schedule", "status"});
    EXPECT_NE(run.out.find(", 실패 (종료 상태 1)\n  " + refusal.substr(0, refusal.find('\n'))),
              std::string::npos)
        << run.out;

    // The service is down: the login fails, and the report names the companies left behind.
    f.service.Stop();
    run = cli.Run(scheduled);
    EXPECT_EQ(run.status, 1);
    notices = notifications->Received();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[1].summary, kTitle);
    EXPECT_EQ(notices[1].body.rfind("로그인하지 못했습니다: ", 0), 0u) << notices[1].body;
    EXPECT_NE(notices[1].body.find("\n백업하지 못한 사업장: 가게"), std::string::npos)
        << notices[1].body;

    // The same run by hand tells the terminal, not the desktop.
    EXPECT_EQ(cli.Run({"sync"}).status, 1);
    EXPECT_EQ(notifications->Received().size(), 2u);
}

// Changed here and elsewhere since they last agreed: nobody is there to say which to keep.
TEST_F(CliScheduledRun, ACompanyChangedOnBothSidesIsNamedAsPassedOver) {
    cli.environment["TIDEWELL_USERID"] = "kim";
    cli.environment["TIDEWELL_PASSWORD"] = "pw1234";
    const fs::path shop = f.MakeCompany("shop", "가게", kOlder, 200);
    cli.Register(0, shop, "가게");
    const std::vector<std::string> scheduled = {"sync", "--wait", "--scheduled"};
    ASSERT_EQ(cli.Run(scheduled).status, 0);

    f.UploadFromElsewhere(shop, kNewer + 1);
    SetFileModifiedTime((shop / "default.mdb").string(), kNewer);

    const CliOutcome run = cli.Run(scheduled);
    EXPECT_EQ(run.status, 1);
    const auto notices = notifications->Received();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].body, "가게: 양쪽 자료가 모두 변경되어 전송하지 않았습니다.");
}

// The service takes the login but refuses the company list: a scheduled run that quietly did
// nothing would leave the shop without backups and without a word.
TEST_F(CliScheduledRun, ARefusedCompanyListFailsTheRunWithTheServicesReason) {
    cli.environment["TIDEWELL_USERID"] = "kim";
    cli.environment["TIDEWELL_PASSWORD"] = "pw1234";
    const fs::path shop = f.MakeCompany("shop", "가게", kNewer, 200);
    cli.Register(0, shop, "가게");
    ListRefusingProxy proxy(f.service.BaseUrl(), "계정 정보가 바뀌었습니다.");
    cli.environment["TIDEWELL_SERVICE_URL"] = proxy.url();

    const CliOutcome run = cli.Run({"sync", "--wait", "--scheduled"});
    EXPECT_EQ(run.status, 1);
    const auto notices = notifications->Received();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].body.find("계정 정보가 바뀌었습니다."), std::string::npos)
        << notices[0].body;
}

}  // namespace
}  // namespace tidewell::test
