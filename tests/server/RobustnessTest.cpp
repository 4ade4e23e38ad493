#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

#include "WebFolderTestClient.h"
#include "platform/CodePage.h"

namespace fs = std::filesystem;

namespace tidewell::test {
namespace {

class RobustnessTest : public WebFolderFixture {};
TIDEWELL_ON_EVERY_BACKEND(RobustnessTest);

constexpr char kBoundary[] = "---------------------------120926051530123";
constexpr char kMultipart[] =
    "multipart/form-data; boundary=---------------------------120926051530123";

// A multipart body laid out byte for byte as the client lays it out.
std::string ClientBody(const std::string& fileName, const std::string& content) {
    const std::string b = kBoundary;
    auto field = [&](const char* name, const std::string& value) {
        return "Content-Disposition: form-data; name=\"" + std::string(name) + "\"\r\n\r\n" + value;
    };
    return "--" + b + "\r\n" + field("userid", "demo") + "\r\n--" + b + "\r\n" +
           field("password", "demo1234") + "\r\n--" + b + "\r\n" + field("companykey", kKey1) +
           "\r\n--" + b + "\r\n" + field("companyname", Utf8ToAnsi("가나다 상사")) + "\r\n--" + b +
           "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + fileName +
           "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n--" + b +
           "--\r\n";
}

struct CurlReply {
    int exitCode = -1;
    std::string headers;
    std::string body;
};

// The curl program as a second, independent HTTP client, speaking HTTP/1.0 like ours.
CurlReply Curl(const TempDir& dir, const std::vector<std::string>& arguments) {
    const std::string headers = (dir / "curl-headers").string();
    const std::string body = (dir / "curl-body").string();
    std::string command = "curl -s -S --http1.0 -D '" + headers + "' -o '" + body + "'";
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    CurlReply reply;
    reply.exitCode = std::system(command.c_str());
    reply.headers = ReadFile(headers);
    reply.body = ReadFile(body);
    return reply;
}

TEST_P(RobustnessTest, RequestsShapedLikeTheClientsOverHttp10) {
    const std::vector<std::string> clientHeaders{
        "-H", "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*", "-H",
        "User-Agent: Mozilla/4.0 (compatible; ICS)"};
    const std::string archive = RandomBytes(50000, 7);
    WriteFile(
        dir / "body",
        ClientBody(
            "C:\\Documents and Settings\\kim\\Local Settings\\Temp\\Tidewell\\20240102103000.bck",
            archive));
    auto args = clientHeaders;
    args.insert(args.end(),
                {"-H", std::string("Content-Type: ") + kMultipart, "--data-binary",
                 "@" + (dir / "body").string(), service->BaseUrl() + "/tidewellweb/gwupload.asp"});
    CurlReply upload = Curl(dir, args);
    ASSERT_EQ(upload.exitCode, 0);
    EXPECT_NE(upload.body.find("STATUS=0\r\n"), std::string::npos) << upload.body;

    args = clientHeaders;
    args.insert(args.end(),
                {"-H", "Content-Type: application/x-www-form-urlencoded", "--data-binary",
                 EncodeForm({{"cmd", "companyinfo"},
                             {"userid", "demo"},
                             {"password", "demo1234"},
                             {"companykey", kKey1}}),
                 service->BaseUrl() + "/tidewellweb/gateway.asp"});
    const CurlReply info = Curl(dir, args);
    EXPECT_NE(info.body.find("LatestFile=20240102103000.bck\r\n"), std::string::npos) << info.body;
    EXPECT_NE(info.body.find(Utf8ToAnsi("CompanyName=가나다 상사\r\n")), std::string::npos);

    args = clientHeaders;
    args.insert(args.end(),
                {"-H", "Content-Type: application/x-www-form-urlencoded", "--data-binary",
                 EncodeForm({{"userid", "demo"}, {"password", "demo1234"}, {"companykey", kKey1}}),
                 service->BaseUrl() + "/tidewellweb/gwdownload.asp"});
    const CurlReply download = Curl(dir, args);
    EXPECT_NE(
        download.headers.find("Content-Disposition: attachment; filename=\"20240102103000.bck\""),
        std::string::npos)
        << download.headers;
    EXPECT_TRUE(download.body == archive);
}

TEST_P(RobustnessTest, BrokenBodiesAreAnsweredWithoutHarm) {
    auto& http = client->http();
    const std::string whole = ClientBody("20240102103000.bck", RandomBytes(20000, 8));
    const std::string b = kBoundary;
    auto partHeader = [&](const std::string& header) {
        return "--" + b + "\r\n" + header + "\r\n\r\nvalue\r\n--" + b + "--\r\n";
    };
    const std::pair<std::string, std::string> broken[] = {
        {kMultipart, whole.substr(0, whole.size() - 1000)},  // cut off inside the file
        {kMultipart, whole.substr(0, whole.size() - 4)},     // closing delimiter incomplete
        {"multipart/form-data", whole},                      // no boundary
        {kMultipart, "nothing like multipart"},
        {kMultipart, partHeader("X-Other: 1")},
        {kMultipart,
         partHeader("Content-Disposition: form-data; name=\"" + std::string(20000, 'n') + "\"")},
        {"application/x-www-form-urlencoded", "userid=demo&password=demo1234"},
    };
    for (const auto& [type, body] : broken) {
        const auto result = http.Post("/tidewellweb/gwupload.asp", body, type);
        if (!result) continue;  // the service may close before a large body is sent
        const TextReply reply = ToTextReply(result);
        // A client error, or a refusal the client can read; never a stored archive.
        const bool clientError = reply.httpStatus >= 400 && reply.httpStatus < 500;
        EXPECT_TRUE(clientError || (reply.Has("STATUS") && !reply.Ok()))
            << type << " " << body.size() << ": " << reply.httpStatus << " " << reply.body;
    }

    // Bounded fields: a huge value and a flood of parts are refused while the body is read.
    std::string hugeField = "--" + b +
                            "\r\nContent-Disposition: form-data; name=\"companyname\"\r\n\r\n" +
                            std::string(200000, 'x') + "\r\n--" + b + "--\r\n";
    std::string manyParts;
    for (int i = 0; i < 100; ++i) {
        manyParts += "--" + b + "\r\nContent-Disposition: form-data; name=\"f" + std::to_string(i) +
                     "\"\r\n\r\nv\r\n";
    }
    manyParts += "--" + b + "--\r\n";
    for (const std::string& body : {hugeField, manyParts}) {
        const TextReply reply =
            ToTextReply(http.Post("/tidewellweb/gwupload.asp", body, kMultipart));
        EXPECT_TRUE(reply.Has("STATUS"));
        EXPECT_FALSE(reply.Ok());
    }

    const TextReply oversized = client->PostForm(
        "/tidewellweb/gateway.asp",
        "cmd=userprofile&userid=demo&password=demo1234&pad=" + std::string(1 << 20, 'p'));
    EXPECT_EQ(oversized.httpStatus, 413);
    EXPECT_FALSE(oversized.Ok());
    const auto multipartForm = http.Post("/tidewellweb/gateway.asp", whole, kMultipart);
    ASSERT_TRUE(multipartForm);
    EXPECT_EQ(multipartForm->status, 400);

    EXPECT_TRUE(client->Command("userprofile", "demo", "demo1234").Ok());
    EXPECT_TRUE(store->ReadIndex().empty());
    store->ExpectConsistent();
}

TEST_P(RobustnessTest, ConcurrentUploadsLeaveAConsistentIndex) {
    std::vector<std::string> keys;
    for (int i = 0; i < 8; ++i) keys.push_back(std::string(31, 'a' + i) + "0");
    std::vector<std::thread> uploads;
    std::vector<int> ok(10, 0);
    for (int i = 0; i < 10; ++i) {
        uploads.emplace_back([&, i] {
            WebFolderTestClient own(*service);
            const bool sameCompany = i >= 8;
            const std::string key = sameCompany ? kKey1 : keys[i];
            const std::string name = sameCompany ? "2024010" + std::to_string(i - 7) + "120000.bck"
                                                 : "20240101120000.bck";
            ok[i] = own.Upload("demo", "demo1234", key, "상사 " + std::to_string(i),
                               ClientPath(name), RandomBytes(200000 + i, i))
                        .Ok();
        });
    }
    for (auto& upload : uploads) upload.join();
    EXPECT_EQ(std::count(ok.begin(), ok.end(), 1), 10);

    EXPECT_EQ(client->Command("companylist", "demo", "demo1234").Number("CompanyCount"), 9);
    const auto index = store->ReadIndex();
    EXPECT_EQ(index.size(), 10u);
    std::int64_t total = 0;
    for (const IndexRow& row : index) total += store->Cost(row.size);
    EXPECT_EQ(client->Command("diskusage", "demo", "demo1234").Number("DiskUsed"),
              total + 9 * kCompanyCharge);
    // Whichever of the two same-company uploads was stored last is the newest.
    const std::string latest =
        client->Command("companyinfo", "demo", "demo1234", kKey1).Value("LatestFile");
    EXPECT_TRUE(latest == "20240101120000.bck" || latest == "20240102120000.bck") << latest;
    store->ExpectConsistent();
}

TEST_P(RobustnessTest, PasswordsStayOutOfTheDatabaseAndTheLog) {
    const std::string secret = "Clear-Text-Secret-42";
    service->AddUser("secret", secret, "비밀 사용자");
    ASSERT_TRUE(client->Command("userprofile", "secret", secret).Ok());
    EXPECT_FALSE(client->Command("userprofile", "secret", secret + "x").Ok());
    ASSERT_TRUE(client->Upload("secret", secret, kKey1, "상사", "20240101120000.bck", "x").Ok());
    EXPECT_EQ(service->Stop(), 0);

    const std::string stored = store->IndexBytes();
    ASSERT_FALSE(stored.empty());
    EXPECT_EQ(stored.find(secret), std::string::npos);

    // One line per request, naming method, path, account, status, bytes and time.
    const std::string log = service->LogText();
    EXPECT_EQ(log.find(secret), std::string::npos);
    int requests = 0;
    for (std::size_t at = log.find("POST /tidewellweb/"); at != std::string::npos;
         at = log.find("POST /tidewellweb/", at + 1)) {
        ++requests;
    }
    EXPECT_EQ(requests, 3) << log;
    for (const char* start : {"POST /tidewellweb/gateway.asp account=secret status=200 bytes=",
                              "POST /tidewellweb/gwupload.asp account=secret status=200 bytes="}) {
        EXPECT_NE(log.find(start), std::string::npos) << start << "\n" << log;
    }
    EXPECT_NE(log.find("ms="), std::string::npos);
    EXPECT_NE(log.find("stopped"), std::string::npos);
}

TEST_P(RobustnessTest, ARestartOnlyReportsWhatFsckRepairsWhenTold) {
    ASSERT_TRUE(
        client->Upload("demo", "demo1234", kKey1, "상사", "20240101120000.bck", "older").Ok());
    ASSERT_TRUE(
        client->Upload("demo", "demo1234", kKey1, "상사", "20240102120000.bck", "newer").Ok());
    ASSERT_EQ(service->Stop(), 0);

    const auto index = store->ReadIndex();
    ASSERT_EQ(index.size(), 2u);
    store->RemoveObject(index[1].object);  // the newest archive's bytes are lost
    const std::string stray = store->PlantStray("stray");
    store->PlantUnfinishedUpload();

    {
        const auto again = StartService();
        EXPECT_EQ(store->UnfinishedUploads(), 0u);
        EXPECT_EQ(store->ReadIndex().size(), 2u);
        EXPECT_EQ(store->ObjectSize(index[1].object), -1);
        // The embedded start compares the index with its folder and says so; the distributed
        // one never walks the store at start.
        const bool reported = again->LogText().find(
                                  "1 files the index does not name, 1 index "
                                  "entries whose file is gone") != std::string::npos;
        EXPECT_EQ(reported, store->ComparesAtStart()) << again->LogText();
    }

    const ToolResult report = RunWebFolderTool(store->Command("fsck"));
    EXPECT_EQ(report.exitCode, 1) << report.output;
    EXPECT_NE(report.output.find("not in the index: " + stray), std::string::npos) << report.output;
    EXPECT_NE(report.output.find(store->LostName(index[1].object)), std::string::npos);
    const ToolResult capped =
        RunWebFolderTool(store->Command("fsck", {"--repair", "--max-repairs", "1"}));
    EXPECT_EQ(capped.exitCode, 1) << capped.output;
    EXPECT_EQ(store->ReadIndex().size(), 2u);
    const ToolResult repaired = RunWebFolderTool(store->Command("fsck", {"--repair"}));
    EXPECT_EQ(repaired.exitCode, 0) << repaired.output;
    EXPECT_TRUE(store->KeptAsOrphan(stray));
    store->ExpectConsistent();
    EXPECT_EQ(RunWebFolderTool(store->Command("fsck")).exitCode, 0);

    const auto after = StartService();
    WebFolderTestClient afterClient(*after);
    const TextReply info = afterClient.Command("companyinfo", "demo", "demo1234", kKey1);
    EXPECT_EQ(info.Value("LatestFile"), "20240101120000.bck");
    EXPECT_EQ(afterClient.Download("demo", "demo1234", kKey1)->body, "older");
}

TEST_P(RobustnessTest, AnArchivesStoreItCannotSeeStopsTheStartAndNothingIsLost) {
    ASSERT_TRUE(
        client->Upload("demo", "demo1234", kKey1, "상사", "20240101120000.bck", "one").Ok());
    ASSERT_EQ(service->Stop(), 0);
    for (const auto& hide : store->WaysToHideArchives()) {
        hide();
        for (const auto& command :
             {store->Command("serve", {"--listen", "127.0.0.1:0"}),
              store->Command("fsck", {"--repair"}), store->Command("prune", {"--keep", "1"})}) {
            const ToolResult refused = RunWebFolderTool(command, 20);
            EXPECT_EQ(refused.exitCode, 1) << command[0] << ": " << refused.output;
            EXPECT_NE(refused.output.find("Nothing was changed."), std::string::npos)
                << refused.output;
        }
        EXPECT_EQ(store->ReadIndex().size(), 1u);
    }
    store->RestoreArchives();
    const auto mounted = StartService();
    WebFolderTestClient mountedClient(*mounted);
    EXPECT_EQ(mountedClient.Download("demo", "demo1234", kKey1)->body, "one");
}

TEST_P(RobustnessTest, ASecondServiceTakesNoPortInUseAndAStoreOnlyWhenItIsShared) {
    const ToolResult second =
        RunWebFolderTool({"serve", "--data", (dir / "other").string(), "--listen",
                          "127.0.0.1:" + std::to_string(service->Port())},
                         20);
    EXPECT_EQ(second.exitCode, 1) << second.output;
    EXPECT_NE(second.output.find("cannot listen"), std::string::npos) << second.output;

    if (!store->Shared()) {
        // Nor the data folder of a running one: its start clears uploads/ under running uploads.
        const ToolResult sameData =
            RunWebFolderTool(store->Command("serve", {"--listen", "127.0.0.1:0"}), 20);
        EXPECT_EQ(sameData.exitCode, 1) << sameData.output;
        EXPECT_NE(sameData.output.find("another tidewell-webfolder"), std::string::npos);
    } else {
        // The distributed store takes any number: both serve the same account.
        const auto other = StartService();
        WebFolderTestClient otherClient(*other);
        ASSERT_TRUE(
            otherClient
                .Upload("demo", "demo1234", kKey1, "상사", "20240101120000.bck", "from the other")
                .Ok());
        EXPECT_EQ(client->Download("demo", "demo1234", kKey1)->body, "from the other");
    }
    EXPECT_TRUE(client->Command("userprofile", "demo", "demo1234").Ok());
}

TEST_P(RobustnessTest, WebPagesAndUnknownRequests) {
    auto& http = client->http();
    for (const char* path : {"/", "/member/pay_member_2.asp", "/support/tidewell.asp"}) {
        const auto page = http.Get(path);
        ASSERT_TRUE(page) << path;
        EXPECT_EQ(page->status, 200) << path;
        EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
        EXPECT_NE(page->body.find("<html lang=\"ko\">"), std::string::npos);
    }
    EXPECT_EQ(http.Get("/tidewellweb/missing.asp")->status, 404);
    EXPECT_EQ(http.Post("/elsewhere", std::string(100000, 'x'), "text/plain")->status, 404);
    EXPECT_EQ(http.Put("/tidewellweb/gateway.asp", "x", "text/plain")->status, 405);
    EXPECT_TRUE(client->Command("userprofile", "demo", "demo1234").Ok());
}

// Operators move the archives to a bigger disk with a link; a new company's folder is flushed
// where it really lives instead of being refused for the link.
TEST_P(RobustnessTest, ArchivesLinkedToAnotherDiskTakeNewCompanies) {
    TIDEWELL_ONLY_ON(Embedded, "only a data folder has archives/ and uploads/ to link");
    ASSERT_EQ(service->Stop(), 0);
    const fs::path disk = dir / "bigger-disk";
    fs::create_directory(disk);
    for (const char* name : {"archives", "uploads"}) {
        fs::rename(dir / "data" / name, disk / name);
        fs::create_directory_symlink(disk / name, dir / "data" / name);
    }
    const auto moved = StartService();
    WebFolderTestClient movedClient(*moved);
    ASSERT_TRUE(
        movedClient.Upload("demo", "demo1234", kKey2, "지점", "20240101120000.bck", "two").Ok());
    EXPECT_EQ(movedClient.Download("demo", "demo1234", kKey2)->body, "two");
}

}  // namespace
}  // namespace tidewell::test
