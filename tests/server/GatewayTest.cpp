#include <gtest/gtest.h>

#include <ctime>

#include "WebFolderTestClient.h"
#include "platform/CodePage.h"

namespace tidewell::test {
namespace {

class GatewayTest : public WebFolderFixture {};
TIDEWELL_ON_EVERY_BACKEND(GatewayTest);

std::int64_t Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

bool HasHangul(const std::string& utf8) {
    // Hangul syllables are U+AC00..U+D7A3: UTF-8 lead bytes EA..ED.
    for (unsigned char c : utf8) {
        if (c >= 0xEA && c <= 0xED) return true;
    }
    return false;
}

TEST_P(GatewayTest, CommandsAnswerWithTheClientsKeysInCp949Lines) {
    service->AddUser("kim", "pw-kim", "김 사장", 365, 1073741824);
    const TextReply profile = client->Command("userprofile", "kim", "pw-kim");
    EXPECT_EQ(profile.httpStatus, 200);
    EXPECT_EQ(profile.contentType, "text/plain; charset=euc-kr");
    ASSERT_TRUE(profile.Ok()) << profile.body;
    EXPECT_EQ(profile.Value("username"), "김 사장");
    EXPECT_NE(profile.body.find(Utf8ToAnsi("김 사장")), std::string::npos);
    EXPECT_NEAR(profile.Number("Created"), Now(), 60);
    EXPECT_NEAR(profile.Number("LastModified"), Now(), 60);
    EXPECT_NEAR(profile.Number("ExpireAt"), Now() + 365 * 86400, 60);
    EXPECT_EQ(profile.Number("RemainingDays"), 365);
    EXPECT_EQ(profile.Number("DiskQuota"), 1073741824);
    for (std::size_t at = profile.body.find('\n'); at != std::string::npos;
         at = profile.body.find('\n', at + 1)) {
        ASSERT_TRUE(at > 0 && profile.body[at - 1] == '\r') << "line without CR LF";
    }

    const TextReply usage = client->Command("diskusage", "kim", "pw-kim");
    EXPECT_TRUE(usage.Ok());
    EXPECT_TRUE(usage.Has("DiskUsed"));
    EXPECT_EQ(usage.Number("DiskUsed"), 0);

    const TextReply list = client->Command("companylist", "kim", "pw-kim");
    EXPECT_TRUE(list.Ok());
    EXPECT_EQ(list.Value("CompanyCount"), "0");
}

TEST_P(GatewayTest, ServicePeriodWithoutEndAndEnded) {
    const TextReply open = client->Command("userprofile", "demo", "demo1234");
    EXPECT_EQ(open.Value("ExpireAt"), "0");
    EXPECT_GT(open.Number("RemainingDays"), 0);  // the client refuses uploads at 0 or less

    service->AddUser("late", "pw-late", "만료 사용자", 0);
    const TextReply ended = client->Command("userprofile", "late", "pw-late");
    ASSERT_TRUE(ended.Ok());
    EXPECT_EQ(ended.Number("RemainingDays"), 0);
    EXPECT_GT(ended.Number("ExpireAt"), 0);
    EXPECT_LE(ended.Number("ExpireAt"), Now());
}

TEST_P(GatewayTest, WrongCredentialsAreRefusedOnEveryPage) {
    auto expectRefused = [](const TextReply& reply, const char* what) {
        EXPECT_EQ(reply.httpStatus, 200) << what;
        EXPECT_TRUE(reply.Has("STATUS")) << what;
        EXPECT_FALSE(reply.Ok()) << what;
        EXPECT_TRUE(HasHangul(reply.Value("MESSAGE"))) << what << ": " << reply.Value("MESSAGE");
    };
    for (const char* command : {"userprofile", "diskusage", "companylist"}) {
        expectRefused(client->Command(command, "demo", "wrong"), command);
    }
    expectRefused(client->Command("companyinfo", "demo", "", kKey1), "empty password");
    expectRefused(client->Command("deletecompany", "nobody", "demo1234", kKey1), "unknown user");
    expectRefused(client->Upload("demo", "demo12345", kKey1, "상사", "20240102103000.bck", "x"),
                  "upload");
    const auto download = client->Download("demo", "Demo1234", kKey1);
    ASSERT_TRUE(download);
    EXPECT_FALSE(download->has_header("Content-Disposition"));
    expectRefused(ToTextReply(download), "download");

    // As the client strips blanks, so does the service; IDs ignore letter case.
    EXPECT_TRUE(client->Command("userprofile", " DeMo\t", "demo1234 ").Ok());
}

TEST_P(GatewayTest, FormValuesArePercentDecodedBytesReadAsCp949) {
    service->AddUser("홍길동", "비밀 번호", "홍길동");
    const std::string body =
        EncodeForm({{"cmd", "userprofile"}, {"userid", "홍길동"}, {"password", "비밀 번호"}});
    EXPECT_NE(body.find("userid=%C8%AB%B1%E6%B5%BF&"), std::string::npos);
    const TextReply reply = client->PostForm("/tidewellweb/gateway.asp", body);
    EXPECT_TRUE(reply.Ok()) << reply.body;
    EXPECT_EQ(reply.Value("UserName"), "홍길동");

    const TextReply broken =
        client->PostForm("/tidewellweb/gateway.asp", "cmd=userprofile&userid=%Z1");
    EXPECT_EQ(broken.httpStatus, 400);
    EXPECT_FALSE(broken.Ok());
}

TEST_P(GatewayTest, UnknownCommandsAndCompaniesAreRefused) {
    for (const char* command : {"", "format", "userprofile2"}) {
        const TextReply reply = client->Command(command, "demo", "demo1234");
        EXPECT_TRUE(reply.Has("STATUS")) << command;
        EXPECT_FALSE(reply.Ok()) << command;
    }
    EXPECT_TRUE(client->Command("USERPROFILE", "demo", "demo1234").Ok());
    const TextReply missingKey = client->Command("companyinfo", "demo", "demo1234");
    EXPECT_FALSE(missingKey.Ok());
    const TextReply unknown = client->Command("companyinfo", "demo", "demo1234", kKey1);
    EXPECT_TRUE(unknown.Has("STATUS"));  // the client asks again while STATUS is missing
    EXPECT_FALSE(unknown.Ok());
    EXPECT_TRUE(HasHangul(unknown.Value("MESSAGE")));
    EXPECT_FALSE(client->Command("deletecompany", "demo", "demo1234", kKey1).Ok());
}

TEST_P(GatewayTest, AddUserUpdatesTheAccountAndRefusesBadSettings) {
    const std::int64_t created =
        client->Command("userprofile", "demo", "demo1234").Number("Created");
    service->AddUser("demo", "new-password", "새 이름", 30, 5000);
    EXPECT_FALSE(client->Command("userprofile", "demo", "demo1234").Ok());
    const TextReply updated = client->Command("userprofile", "demo", "new-password");
    ASSERT_TRUE(updated.Ok());
    EXPECT_EQ(updated.Value("UserName"), "새 이름");
    EXPECT_EQ(updated.Number("Created"), created);
    EXPECT_EQ(updated.Number("RemainingDays"), 30);
    EXPECT_EQ(updated.Number("DiskQuota"), 5000);

    for (const auto& extra : std::vector<std::vector<std::string>>{
             {"--id", "x", "--password", "p", "--name", "n", "--days", "-1"},
             {"--id", "x", "--password", "p", "--name", "n", "--quota", "4294967296"},
             {"--id", "x y ", "--password", "p", "--name", "n"},
             {"--id", "x", "--password", "p"}}) {
        const ToolResult result = RunWebFolderTool(store->Command("adduser", extra));
        EXPECT_NE(result.exitCode, 0) << result.output;
        EXPECT_NE(result.output.find("tidewell-webfolder: "), std::string::npos);
    }
    EXPECT_FALSE(client->Command("userprofile", "x", "p").Ok());
}

}  // namespace
}  // namespace tidewell::test
