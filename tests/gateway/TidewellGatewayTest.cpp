#include <gtest/gtest.h>

#include <algorithm>

#include <optional>

#include <cstdlib>
#include <filesystem>

#include "TestServers.h"
#include "TestSupport.h"
#include "company/Common.h"
#include "gateway/DownloadReply.h"
#include "gateway/TidewellGateway.h"
#include "platform/CodePage.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

std::string BackslashPath(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

using test::HttpReply;
using test::RawReply;
using test::RawServer;

const std::string kKey = "0123456789abcdef0123456789abcdef";

std::string BodyOf(const std::string& request) {
    return request.substr(request.find("\r\n\r\n") + 4);
}

// Every file below folder, as paths relative to it.
std::vector<std::string> FilesBelow(const fs::path& folder) {
    std::vector<std::string> files;
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ignored)) {
        if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), folder).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class TidewellGatewayTest : public ::testing::Test {
protected:
    test::CoreFixture fixture;
    TAnswerList answer;

    fs::path RuntimeFolder() const { return fixture.dir / "run"; }
    fs::path WorkFolder() const { return fixture.WorkFolder(); }
};

TEST_F(TidewellGatewayTest, FormRequestsCarryTheirExactBytes) {
    RawServer server([](const std::string&) {
        return RawReply{
            HttpReply("200 OK", {}, "STATUS=1\r\nMESSAGE=" + Utf8ToAnsi("없는 사용자"))};
    });
    TTidewellGateway gateway(server.url());
    gateway.DownloadFolder = WorkFolder().string();
    // Blanks and control characters around the values are never sent; inside, everything but
    // ASCII letters and digits is encoded, CP949 bytes included.
    const std::string user = " \ta b&c=d \r\n";
    const std::string password = "-._~가";
    const std::string encoded = "userid=a%20b%26c%3Dd&password=%2D%2E%5F%7E%B0%A1";

    EXPECT_FALSE(gateway.GetCompanyInfo(user, password, kKey, answer));
    EXPECT_EQ(answer.Values("MESSAGE"), "없는 사용자");
    const std::string body = "cmd=companyinfo&" + encoded + "&companykey=" + kKey;
    EXPECT_EQ(server.requests().at(0),
              "POST /tidewellweb/gateway.asp HTTP/1.0\r\n"
              "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
              "Content-Type: application/x-www-form-urlencoded\r\n"
              "User-Agent: Mozilla/4.0 (compatible; ICS)\r\n"
              "Host: 127.0.0.1:" +
                  std::to_string(server.port()) +
                  "\r\n"
                  "Content-Length: " +
                  std::to_string(body.size()) + "\r\n\r\n" + body);

    gateway.GetUserProfile(user, password, answer);
    gateway.GetDiskUsage(user, password, answer);
    gateway.GetCompanyList(user, password, answer);
    gateway.DeleteCompany(user, password, " key ", answer);
    gateway.DownloadFile(user, password, kKey, answer);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(BodyOf(requests[1]), "cmd=userprofile&" + encoded);
    EXPECT_EQ(BodyOf(requests[2]), "cmd=diskusage&" + encoded);
    EXPECT_EQ(BodyOf(requests[3]), "cmd=companylist&" + encoded);
    EXPECT_EQ(BodyOf(requests[4]), "cmd=deletecompany&" + encoded + "&companykey=key");
    EXPECT_EQ(requests[5].substr(0, requests[5].find(' ', 5)), "POST /tidewellweb/gwdownload.asp");
    EXPECT_EQ(BodyOf(requests[5]), encoded + "&companykey=" + kKey);
}

TEST_F(TidewellGatewayTest, UploadStreamsTheExactMultipartBody) {
    RawServer server(
        [](const std::string&) { return RawReply{HttpReply("200 OK", {}, "STATUS=0\r\n")}; });
    const std::string content = test::RandomBytes(700'000, 9);
    const std::string path = (fixture.dir / "20040102103000.bck").string();
    test::WriteFile(path, content);
    TTidewellGateway gateway(server.url());
    gateway.DownloadFolder = WorkFolder().string();
    std::size_t reported = 0;
    gateway.OnTransferData = [&](HttpClient* sender, const char*, std::size_t len) {
        EXPECT_EQ(sender, gateway.HttpClient.get());
        reported += len;
    };

    EXPECT_TRUE(gateway.UploadFile(" 홍길동 ", " pw ", " key ", " 상호 ", path, answer));

    const std::string request = server.requests().at(0);
    const std::string contentType = test::RequestHeader(request, "Content-Type");
    const std::string prefix = "multipart/form-data; boundary=";
    ASSERT_EQ(contentType.rfind(prefix, 0), 0u) << contentType;
    const std::string b = contentType.substr(prefix.size());
    const auto field = [&](const std::string& name, const std::string& value) {
        return "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value;
    };
    const std::string body =
        "--" + b + "\r\n" + field("userid", Utf8ToAnsi("홍길동")) + "\r\n--" + b + "\r\n" +
        field("password", "pw") + "\r\n--" + b + "\r\n" + field("companykey", " key ") + "\r\n--" +
        b + "\r\n" + field("companyname", Utf8ToAnsi(" 상호 ")) + "\r\n--" + b +
        "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + BackslashPath(path) +
        "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n--" + b + "--\r\n";
    const std::string expected =
        "POST /tidewellweb/gwupload.asp HTTP/1.0\r\n"
        "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
        "Content-Type: " +
        contentType +
        "\r\n"
        "User-Agent: Mozilla/4.0 (compatible; ICS)\r\n"
        "Host: 127.0.0.1:" +
        std::to_string(server.port()) +
        "\r\n"
        "Content-Length: " +
        std::to_string(body.size()) + "\r\n\r\n" + body;
    EXPECT_TRUE(request == expected);  // whole bytes; a diff of 700 kB would drown the log
    EXPECT_EQ(request.size(), expected.size());
    EXPECT_EQ(reported, body.size());
}

TEST_F(TidewellGatewayTest, AnArchiveLandsInTheWorkFolderUnderTheLastAnnouncedName) {
    const std::string archive = test::RandomBytes(300'000, 4);
    RawServer server([&](const std::string&) {
        return RawReply{
            HttpReply("200 OK",
                      {"Content-Disposition: attachment; filename=\"first.bck\"",
                       "Content-Type: application/octet-stream",
                       "Content-Disposition: attachment; filename=\"2004\"\"01.bck\"; x=1",
                       "Content-Length: " + std::to_string(archive.size())},
                      archive)};
    });
    const std::string folder = EnsureWorkFolder(fixture.Places());
    test::WriteFile(fs::path(folder) / "2004\"01.bck", "an older download");
    TTidewellGateway gateway(server.url());
    gateway.DownloadFolder = WorkFolder().string();
    std::size_t reported = 0;
    gateway.OnTransferData = [&](HttpClient*, const char*, std::size_t len) { reported += len; };

    ASSERT_TRUE(gateway.DownloadFile("u", "p", kKey, answer));
    EXPECT_EQ(answer.Lines(),
              (std::vector<std::string>{"STATUS=0", "MESSAGE=", "FILENAME=2004\"01.bck",
                                        "FILEPATH=" + folder}));
    EXPECT_EQ(folder, WorkFolder().string());
    EXPECT_EQ(FilesBelow(RuntimeFolder()), (std::vector<std::string>{"Tidewell/2004\"01.bck"}));
    EXPECT_TRUE(test::ReadFile(fs::path(folder) / "2004\"01.bck") == archive);
    EXPECT_EQ(reported, archive.size());
}

TEST_F(TidewellGatewayTest, AReplyWithoutANameIsReadAsTextAndTouchesNoFile) {
    std::string reply;
    RawServer server([&](const std::string&) { return RawReply{reply}; });
    TTidewellGateway gateway(server.url());
    gateway.DownloadFolder = WorkFolder().string();

    reply = HttpReply("200 OK", {}, "STATUS=0\r\n");
    EXPECT_TRUE(gateway.DownloadFile("u", "p", kKey, answer));
    EXPECT_EQ(answer.Lines(), (std::vector<std::string>{"STATUS=0"}));

    reply = HttpReply("200 OK", {"Content-Disposition: attachment; filename="},
                      "STATUS=3\r\nMESSAGE=" + Utf8ToAnsi("파일 없음"));
    EXPECT_FALSE(gateway.DownloadFile("u", "p", kKey, answer));
    EXPECT_EQ(answer.Values("MESSAGE"), "파일 없음");
    EXPECT_FALSE(fs::exists(WorkFolder()));
}

TEST_F(TidewellGatewayTest, HostileNamesNeverLeaveTheWorkFolder) {
    std::string name;
    RawServer server([&](const std::string&) {
        return RawReply{HttpReply("200 OK", {"Content-Disposition: attachment; filename=" + name},
                                  "STATUS=0\r\n")};
    });
    TTidewellGateway gateway(server.url());
    gateway.DownloadFolder = WorkFolder().string();
    const std::pair<std::string, std::string> cases[] = {
        {"../../x.bck", "x.bck"},
        {"/etc/passwd", "passwd"},
        {"C:\\x.bck", "x.bck"},
        {"..\\..\\y.bck", "y.bck"},
        {"C:z.bck", "z.bck"},
        {"dir/w.bck/", "w.bck"},
        {"..", ""},
        {"a/..", ""},
        {"C:", ""},
        {"a\tb.bck", ""},
        {"\"../a\x7f.bck\"", ""},
    };
    for (const auto& [hostile, saved] : cases) {
        name = hostile;
        ASSERT_TRUE(gateway.DownloadFile("u", "p", kKey, answer)) << hostile;
        EXPECT_EQ(answer.Values("FILENAME"), saved) << hostile;
        EXPECT_EQ(answer.HasName("FILEPATH"), !saved.empty()) << hostile;
    }
    EXPECT_EQ(FilesBelow(fixture.dir.path()),
              (std::vector<std::string>{"config/registry.db", "run/Tidewell/passwd",
                                        "run/Tidewell/w.bck", "run/Tidewell/x.bck",
                                        "run/Tidewell/y.bck", "run/Tidewell/z.bck"}));
}

TEST_F(TidewellGatewayTest, AnInterruptedOrRefusedDownloadLeavesNoFile) {
    std::string reply;
    RawServer server([&](const std::string&) { return RawReply{reply}; });
    TTidewellGateway gateway(server.url());
    gateway.DownloadFolder = WorkFolder().string();
    reply = HttpReply(
        "200 OK", {"Content-Disposition: attachment; filename=\"cut.bck\"", "Content-Length: 1000"},
        std::string(500, 'x'));
    EXPECT_THROW(gateway.DownloadFile("u", "p", kKey, answer), HttpError);
    reply = HttpReply("404 Not Found", {"Content-Disposition: attachment; filename=\"gone.bck\""},
                      "STATUS=0");
    const auto error = test::RaisedHttpError([&] { gateway.DownloadFile("u", "p", kKey, answer); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->StatusCode(), 404);
    EXPECT_EQ(FilesBelow(RuntimeFolder()), std::vector<std::string>{});
}

TEST(DownloadFileName, HeaderLinesCountWithBothWordsInAnyLetterCase) {
    EXPECT_EQ(ContentDispositionFileName({"content-disposition: attachment; filename=a.bck"}),
              "a.bck");
    EXPECT_EQ(ContentDispositionFileName({"CONTENT-DISPOSITION: attachment; FileName=A.bck"}),
              "A.bck");
    EXPECT_EQ(ContentDispositionFileName({"Content-Type: text/plain; filename=a.bck"}), "");
    EXPECT_EQ(ContentDispositionFileName({"X-Note: Content-Disposition filename=a.bck"}), "a.bck");
    EXPECT_EQ(ContentDispositionFileName({"Content-Disposition: x; filename=\"open.bck"}),
              "open.bck");
    EXPECT_EQ(ContentDispositionFileName({"Content-Disposition: x; filename=\"a.bck\"",
                                          "Content-Disposition: x; filename=\"\""}),
              "");
}

}  // namespace
}  // namespace tidewell
