#include <gtest/gtest.h>

#include "MainTestSupport.h"
#include "TestServers.h"

namespace tidewell {
namespace {

using test::MainFixture;

TEST(MainLogin, BlankFieldsShowTheMessageAndFocusTheFirstBlankField) {
    MainFixture f;
    const std::string before = f.service.LogText();
    f.LogIn("   ", "pw1234");
    EXPECT_EQ(f.Messages(), (std::vector<std::string>{"로그인 정보가 올바르지 않습니다."}));
    EXPECT_EQ(f.view->Focused, Element::Edit1);
    f.LogIn("kim", "\t");
    EXPECT_EQ(f.view->Focused, Element::Edit2);
    f.LogIn("", "");
    EXPECT_EQ(f.view->Focused, Element::Edit1);  // both blank: the ID wins
    EXPECT_EQ(f.service.LogText(), before);      // no request went out
}

// A service that takes the login and then says nothing: closing the window asks, as during a
// transfer, and the login button, which reads 취소 meanwhile, stops it at once; the window is
// back at its login as before, with nothing to tell.
TEST(MainLogin, ALoginToAStalledServiceCanBeCancelledAndClosingAsks) {
    MainFixture f;
    const test::RawServer stalled([](const std::string&) { return test::RawReply{"", true}; });
    f.form->User().Service.URL = stalled.url();
    class CancellingPump : public MessagePump {
    public:
        explicit CancellingPump(MainFixture& f) : f_(f) {}
        void ProcessMessages() override {
            if (done_) return;
            done_ = true;
            caption = f_.view->Text(Element::btnLogin);
            f_.core.ui.answers = {MessageResult::No};
            closes = f_.form->FormCloseQuery();
            f_.form->Button1Click();
        }
        bool Terminated() const override { return false; }
        std::string caption;
        bool closes = true;

    private:
        MainFixture& f_;
        bool done_ = false;
    } pump(f);
    const ScopedMessagePump scoped(pump);
    f.LogIn();
    EXPECT_EQ(pump.caption, "취소");
    EXPECT_FALSE(pump.closes);
    ASSERT_EQ(f.Messages().size(), 1u);  // the question whether to close, nothing after
    EXPECT_NE(f.Messages()[0].find("로그인을 취소하고"), std::string::npos) << f.Messages()[0];
    EXPECT_EQ(f.view->Text(Element::btnLogin), "로그인");
    EXPECT_TRUE(f.view->Enabled(Element::Edit1));
    EXPECT_TRUE(f.view->Visible(Element::panelLogin));
    EXPECT_FALSE(f.form->Busy());
}

TEST(MainLogin, RefusedLoginShowsTheGenericMessageAndEnablesTheControls) {
    MainFixture f;
    f.LogIn("kim", "wrong");
    EXPECT_EQ(f.Messages(), (std::vector<std::string>{"로그인하는 중 오류가 발생하였습니다."}));
    for (Element e : {Element::Edit1, Element::Edit2, Element::btnLogin, Element::CheckBox2}) {
        EXPECT_TRUE(f.view->Enabled(e));
    }
    EXPECT_FALSE(f.view->WaitCursor);
    EXPECT_FALSE(f.form->Busy());
    EXPECT_TRUE(f.view->Visible(Element::panelLogin));
}

TEST(MainLogin, EnterInThePasswordFieldLogsInAndFillsTheHeader) {
    MainFixture f;
    f.view->SetText(Element::Edit1, "kim");
    f.view->SetText(Element::Edit2, "pw1234");
    f.form->Edit2KeyPress('a');
    EXPECT_TRUE(f.form->User().UserID.empty());
    f.form->Edit2KeyPress('\r');
    EXPECT_EQ(f.form->User().UserID, "kim");
    EXPECT_EQ(f.view->Text(Element::labelUserName), "사용자명: 김철수");
    EXPECT_EQ(f.view->Text(Element::labelUserDiskUsed), "웹폴더사용량: 0KB");
    EXPECT_FALSE(f.view->Visible(Element::panelLogin));
    EXPECT_TRUE(f.view->Enabled(Element::vt));
    EXPECT_TRUE(f.view->Enabled(Element::CheckBox1));
    EXPECT_EQ(f.view->Focused, Element::vt);
    EXPECT_FALSE(f.view->Enabled(Element::btnLogin));  // hidden with the panel
    EXPECT_TRUE(f.Messages().empty());
    f.form->labelUserExpireAtClick();
    f.form->Label4Click();
    f.form->Label3Click();
    const std::string base = f.service.BaseUrl();
    EXPECT_EQ(f.view->OpenedUrls,
              (std::vector<std::string>{base + "/member/pay_member_2.asp", base + "/",
                                        base + "/support/tidewell.asp"}));
}

// The service takes the login but refuses the company list: the window logs in all the same,
// lists this computer's companies (none checked) and tells the service's reason.
TEST(MainLogin, ARefusedCompanyListStillLogsInWithTheLocalCompanies) {
    MainFixture f;
    const auto local = f.MakeCompany("local", "가게", test::kOlder);
    f.Register(0, local, "가게");
    test::ListRefusingProxy proxy(f.service.BaseUrl(), "계정 정보가 바뀌었습니다.");
    f.form->User().Service.URL = proxy.url();
    f.LogIn();
    EXPECT_EQ(f.form->User().UserID, "kim");
    EXPECT_FALSE(f.view->Visible(Element::panelLogin));
    ASSERT_EQ(f.form->RowCount(), 1);
    EXPECT_EQ(f.form->Row(0).Company->LocalPath, local.string());
    EXPECT_FALSE(f.form->Row(0).Checked);
    EXPECT_EQ(f.Messages(),
              (std::vector<std::string>{"웹폴더의 사업장 목록을 받지 못해 이 컴퓨터의 사업장만 "
                                        "보여 드립니다.\r\n계정 정보가 바뀌었습니다."}));
}

TEST(MainLogin, RenewalLinkOnlyAfterALogin) {
    MainFixture f;
    f.form->labelUserExpireAtClick();
    EXPECT_TRUE(f.view->OpenedUrls.empty());
}

// A service that answers the profile with chosen period values.
class PeriodTest : public ::testing::Test {
protected:
    void LogInWith(std::int64_t expireAt, int remainingDays) {
        server.server.Post("/tidewellweb/gateway.asp", [=](const httplib::Request& request,
                                                           httplib::Response& response) {
            std::string body = "STATUS=0\r\n";
            if (request.body.find("cmd=userprofile") != std::string::npos) {
                body += "UserName=x\r\nExpireAt=" + std::to_string(expireAt) +
                        "\r\nRemainingDays=" + std::to_string(remainingDays) + "\r\n";
            } else if (request.body.find("cmd=companylist") != std::string::npos) {
                body += "CompanyCount=0\r\n";
            }
            response.set_content(body, "text/plain");
        });
        server.Start();
        form.User().Service.URL = server.url();
        view.SetText(Element::Edit1, "x");
        view.SetText(Element::Edit2, "y");
        form.FormCreate();
        form.Button1Click();
        ASSERT_EQ(form.User().UserID, "x");
    }
    HeadlessView::LabelLook Look() const { return view.Look(Element::labelUserExpireAt); }
    std::string Text() const { return view.Text(Element::labelUserExpireAt); }

    test::CoreFixture core;
    test::HttplibServer server;
    HeadlessView view;
    TformMain form{view, TSessionSetup{&core.hive(), {{}, core.Places()}, &SystemClock()}};
    // 2005-03-07 12:00:00 as the service counts epoch seconds.
    const std::int64_t march7 = 1110196800;
};

TEST_F(PeriodTest, ThirtyDaysLeftIsPlain) {
    LogInWith(march7, 30);
    EXPECT_EQ(Text(), "사용기한: 2005년 3월 7일까지");
    EXPECT_EQ(Look().Color, LabelColor::WindowText);
    EXPECT_EQ(Look().Tooltip, "");
    EXPECT_TRUE(Look().Link);
}

TEST_F(PeriodTest, TwentyNineDaysLeftWarns) {
    LogInWith(march7, 29);
    EXPECT_EQ(Text(), "사용기한: 2005년 3월 7일까지 [연장신청하기]");
    EXPECT_EQ(Look().Color, LabelColor::Red);
    EXPECT_EQ(Look().Tooltip,
              "사용기한 만료가 얼마 남지 않았습니다.\r\n홈페이지에서 서비스 연장신청이 "
              "가능합니다.");
}

TEST_F(PeriodTest, NegativeDaysCountAsNearExpiry) {
    LogInWith(march7, -3);
    EXPECT_EQ(Text(), "사용기한: 2005년 3월 7일까지 [연장신청하기]");
    EXPECT_EQ(Look().Color, LabelColor::Red);
}

TEST_F(PeriodTest, EndedPeriodWithADate) {
    LogInWith(march7, 0);
    EXPECT_EQ(Text(), "사용기한이 만료되었습니다. [연장신청하기]");
    EXPECT_EQ(Look().Color, LabelColor::Red);
    EXPECT_EQ(Look().Tooltip,
              "사용기한이 2005-03-07로 만료되었습니다.\r\n현재는 파일을 내려받기만 사용할 수 "
              "있으며, 파일 업로드는 불가능합니다.\r\n홈페이지에서 서비스 연장신청을 해 "
              "주세요.");
    form.labelUserExpireAtClick();
    EXPECT_EQ(view.OpenedUrls.size(), 1u);
}

TEST_F(PeriodTest, EndedPeriodWithoutADate) {
    LogInWith(0, 0);
    EXPECT_EQ(Look().Tooltip.rfind("현재는 파일을", 0), 0u);
}

TEST_F(PeriodTest, NoEndDateNamesNoDate) {
    LogInWith(0, 36500);
    EXPECT_EQ(Text(), "사용기한: 제한 없음");
    EXPECT_EQ(Look().Color, LabelColor::WindowText);
}

}  // namespace
}  // namespace tidewell
