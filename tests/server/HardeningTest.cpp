// Small faults an operator or a client could meet: the body's own boundary inside an archive,
// a request with two lengths, a file-size limit on the service, and the cap per address.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <thread>

#include "RawConnection.h"
#include "WebFolderTestClient.h"

namespace tidewell::test {
namespace {

using namespace std::chrono_literals;
class HardeningTest : public WebFolderFixture {};
TIDEWELL_ON_EVERY_BACKEND(HardeningTest);

constexpr char kBoundary[] = "----hardening-7f3a";

std::string Part(const std::string& name, const std::string& value) {
    return std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name +
           "\"\r\n\r\n" + value + "\r\n";
}

std::string UploadBody(const std::string& archive) {
    return Part("userid", "demo") + Part("password", "demo1234") + Part("companykey", kKey1) +
           Part("companyname", "boundary") + "--" + kBoundary +
           "\r\nContent-Disposition: form-data; name=\"file\"; "
           "filename=\"C:\\Temp\\20240101000000.bck\"\r\nContent-Type: "
           "application/octet-stream\r\n\r\n" +
           archive + "\r\n--" + kBoundary + "--\r\n";
}

std::string Send(int port, const std::string& request) {
    RawConnection connection(port);
    if (!connection.Send(request)) return {};
    return connection.ReadAll(5s);
}

TEST_P(HardeningTest, BoundaryTextInsideAnArchiveIsStoredAsData) {
    const std::string b = std::string("--") + kBoundary;
    // Everything but a real delimiter line: the boundary at the very start, after a lone LF,
    // followed by other text, by part headers, by the closing dashes without CR LF before it.
    const std::string archive = b + "\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\n" +
                                RandomBytes(3000, 1) + "\n" + b + "\r\n\r\n" + "\r\n" + b +
                                "x\r\n" + "\r\n" + b + " tail" + "\r" + b + "--\r\n" +
                                RandomBytes(70000, 2) + "\r\n" + b.substr(0, b.size() - 1);
    const std::string body = UploadBody(archive);
    const std::string reply = Send(
        service->Port(), std::string("POST /tidewellweb/gwupload.asp HTTP/1.0\r\nContent-Type: "
                                     "multipart/form-data; boundary=") +
                             kBoundary + "\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\n\r\n" + body);
    ASSERT_NE(reply.find("STATUS=0\r\n"), std::string::npos) << reply;
    const auto download = client->Download("demo", "demo1234", kKey1);
    ASSERT_TRUE(download);
    EXPECT_EQ(download->body.size(), archive.size());
    EXPECT_TRUE(download->body == archive);
}

TEST_P(HardeningTest, TwoContentLengthsAreRefused) {
    const std::string form = "cmd=userprofile&userid=demo&password=demo1234";
    for (const std::string& second :
         {std::to_string(form.size() - 8), std::to_string(form.size())}) {
        const std::string reply = Send(
            service->Port(),
            "POST /tidewellweb/gateway.asp HTTP/1.1\r\nHost: x\r\nContent-Type: "
            "application/x-www-form-urlencoded\r\nContent-Length: " +
                std::to_string(form.size()) + "\r\nContent-Length: " + second + "\r\n\r\n" + form);
        EXPECT_EQ(reply.rfind("HTTP/1.1 400", 0), 0u) << reply;
        EXPECT_EQ(reply.find("STATUS=0"), std::string::npos) << reply;
    }
    EXPECT_TRUE(client->Command("userprofile", "demo", "demo1234").Ok());
}

TEST_P(HardeningTest, AFileSizeLimitRefusesTheUploadAndTheServiceGoesOn) {
    // As `ulimit -f` in the operator's shell would set it: 1 MiB.
    const rlimit limit{1 << 20, 1 << 20};
    ASSERT_EQ(::prlimit(service->Pid(), RLIMIT_FSIZE, &limit, nullptr), 0);
    const TextReply refused = client->Upload("demo", "demo1234", kKey1, "상사",
                                             "20240101000000.bck", RandomBytes(3 << 20, 3));
    EXPECT_EQ(refused.Value("STATUS"), "9") << refused.body;
    EXPECT_FALSE(refused.Value("MESSAGE").empty());
    const std::string small = RandomBytes(100000, 4);
    EXPECT_TRUE(
        client->Upload("demo", "demo1234", kKey1, "상사", "20240102000000.bck", small).Ok());
    EXPECT_TRUE(client->Download("demo", "demo1234", kKey1)->body == small);
    store->ExpectConsistent();
}

class HardeningCap : public BackendTest {};
TIDEWELL_ON_EVERY_BACKEND(HardeningCap);

TEST_P(HardeningCap, APlaceOfTheCapPerAddressIsFreedWhenItsRequestEnds) {
    const auto service = StartService({"--per-address", "4"});
    service->AddUser("demo", "demo1234", "데모");
    const std::string form = "cmd=userprofile&userid=demo&password=demo1234";
    const std::string request =
        "POST /tidewellweb/gateway.asp HTTP/1.0\r\nContent-Type: "
        "application/x-www-form-urlencoded\r\nContent-Length: " +
        std::to_string(form.size()) + "\r\n\r\n" + form;
    // Four at a time from one address, one after another as fast as they are answered.
    std::atomic<int> answered{0}, cut{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 4; ++i) {
        clients.emplace_back([&] {
            for (int n = 0; n < 100; ++n) {
                const std::string reply = Send(service->Port(), request);
                (reply.find("STATUS=0\r\n") != std::string::npos ? answered : cut)++;
            }
        });
    }
    for (auto& thread : clients) thread.join();
    EXPECT_EQ(cut.load(), 0);
    EXPECT_EQ(answered.load(), 400);
}

}  // namespace
}  // namespace tidewell::test
