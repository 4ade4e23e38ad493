#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "RawConnection.h"
#include "WebFolderTestClient.h"

namespace tidewell::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kBoundary[] = "----abuse-boundary";

// An upload's head and body as the client lays them out, the archive last.
std::pair<std::string, std::string> UploadRequest(const std::string& archive) {
    const std::string b = kBoundary;
    auto field = [&](const char* name, const std::string& value) {
        return "--" + b + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
               value + "\r\n";
    };
    const std::string body =
        field("userid", "demo") + field("password", "demo1234") + field("companykey", kKey1) +
        field("companyname", "abuse") + "--" + b +
        "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"20240101000000.bck\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n" +
        archive + "\r\n--" + b + "--\r\n";
    const std::string head =
        "POST /tidewellweb/gwupload.asp HTTP/1.0\r\nContent-Type: "
        "multipart/form-data; boundary=" +
        b + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    return {head, body};
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A request's line is written when its connection is done, a moment after the client sees it.
bool WaitForLog(const WebFolderService& service, const std::string& text) {
    const auto start = Clock::now();
    while (service.LogText().find(text) == std::string::npos) {
        if (SecondsSince(start) > 3) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

class AbuseTest : public BackendTest {};
TIDEWELL_ON_EVERY_BACKEND(AbuseTest);

TEST_P(AbuseTest, AnEndlessHeadIsRefusedEarlyAndCostsNoMemory) {
    const auto service = StartService();
    service->AddUser("demo", "demo1234", "데모");

    RawConnection flood(service->Port());
    ASSERT_TRUE(flood.Send("POST /tidewellweb/gateway.asp HTTP/1.1\r\nHost: x\r\n"));
    int lines = 0;
    while (lines < 200000) {
        std::string batch;
        for (int i = 0; i < 1000; ++i) batch += "X-Filler-" + std::to_string(lines + i) + ": v\r\n";
        if (!flood.Send(batch)) break;
        lines += 1000;
    }
    EXPECT_LT(lines, 200000) << "the service read the whole flood";
    EXPECT_LT(PeakResidentKib(service->Pid()), 64 * 1024);

    // Within the bytes a head may take, the number of headers is bounded too.
    RawConnection many(service->Port());
    std::string head = "GET / HTTP/1.1\r\nHost: x\r\n";
    for (int i = 0; i < 150; ++i) head += "X-" + std::to_string(i) + ": v\r\n";
    ASSERT_TRUE(many.Send(head + "\r\n"));
    EXPECT_EQ(many.ReadAll(3s).rfind("HTTP/1.1 431", 0), 0u);

    WebFolderTestClient client(*service);
    EXPECT_TRUE(client.Command("userprofile", "demo", "demo1234").Ok());
}

TEST_P(AbuseTest, SlowAndSilentClientsDoNotDelayOthersAndAddressesHaveACap) {
    // A head time longer than any wait below: only the cap may close the crowd's connections.
    const auto service = StartService({"--per-address", "10", "--head-timeout", "60"});
    service->AddUser("demo", "demo1234", "데모");

    // Ten addresses with ten connections each stay within the cap per address.
    std::vector<std::unique_ptr<RawConnection>> silent, slow;
    for (int i = 0; i < 50; ++i) {
        const std::string from = "127.0.0." + std::to_string(10 + i / 10);
        silent.push_back(std::make_unique<RawConnection>(service->Port(), from));
        slow.push_back(std::make_unique<RawConnection>(service->Port(),
                                                       "127.0.1." + std::to_string(10 + i / 10)));
        slow.back()->Send("POST /tidewellweb/gateway.asp HTTP/1.1\r\n");
    }
    std::atomic<bool> done{false};
    std::thread trickle([&] {
        while (!done) {
            for (auto& connection : slow) connection->Send("X");
            std::this_thread::sleep_for(100ms);
        }
    });

    WebFolderTestClient client(*service);
    const auto start = Clock::now();
    const TextReply reply = client.Command("userprofile", "demo", "demo1234");
    const double seconds = SecondsSince(start);
    done = true;
    trickle.join();
    EXPECT_TRUE(reply.Ok());
    EXPECT_LT(seconds, 2.0);
    silent.clear();
    slow.clear();

    // Beyond the cap, connections from one address are closed at once.
    std::vector<std::unique_ptr<RawConnection>> crowd;
    for (int i = 0; i < 14; ++i) {
        crowd.push_back(std::make_unique<RawConnection>(service->Port(), "127.0.0.30"));
    }
    std::vector<bool> closed(crowd.size(), false);
    const auto opened = Clock::now();
    // Ends as soon as four are closed; the long bound only matters on a machine under load.
    while (std::count(closed.begin(), closed.end(), true) < 4 && SecondsSince(opened) < 20) {
        for (std::size_t i = 0; i < crowd.size(); ++i) {
            if (!closed[i]) closed[i] = crowd[i]->ClosedWithin(10ms);
        }
    }
    std::this_thread::sleep_for(200ms);
    for (std::size_t i = 0; i < crowd.size(); ++i) {
        if (!closed[i]) closed[i] = crowd[i]->ClosedWithin(0ms);
    }
    EXPECT_EQ(std::count(closed.begin(), closed.end(), true), 4);
}

TEST_P(AbuseTest, AHeadMustArriveWithinItsTime) {
    const auto service = StartService({"--head-timeout", "1"});

    // A byte every 100 ms keeps an idle timer happy but not the deadline of the whole head.
    RawConnection trickler(service->Port(), "127.0.0.20");
    const auto start = Clock::now();
    bool open = trickler.Send("POST / HTTP/1.1\r\n");
    while (open && SecondsSince(start) < 5) {
        open = trickler.Send("X") && !trickler.ClosedWithin(100ms);
    }
    EXPECT_FALSE(open);
    EXPECT_LT(SecondsSince(start), 3.0);
    EXPECT_TRUE(WaitForLog(*service, "127.0.0.20 \"\" / account=\"\" status=0"));

    // A kept-alive connection gets the same time for its next head.
    RawConnection keptAlive(service->Port(), "127.0.0.22");
    const auto asked = Clock::now();
    ASSERT_TRUE(keptAlive.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_EQ(keptAlive.ReadAll(5s).rfind("HTTP/1.1 200", 0), 0u);
    EXPECT_LT(SecondsSince(asked), 3.0);
    EXPECT_NE(service->LogText().find("end=head-timeout"), std::string::npos) << service->LogText();
}

TEST_P(AbuseTest, ASteadySenderIsNeverCutAStalledOneIs) {
    const auto service = StartService({"--head-timeout", "1", "--idle-timeout", "1"});
    service->AddUser("demo", "demo1234", "데모");

    // 50 KiB/s for three seconds, longer than both deadlines.
    const std::string archive = RandomBytes(150 * 1024, 5);
    const auto [head, body] = UploadRequest(archive);
    RawConnection steady(service->Port());
    ASSERT_TRUE(steady.Send(head));
    for (std::size_t at = 0; at < body.size(); at += 5 * 1024) {
        ASSERT_TRUE(steady.Send(std::string_view(body).substr(at, 5 * 1024)));
        std::this_thread::sleep_for(100ms);
    }
    const std::string reply = steady.ReadAll(5s);
    EXPECT_NE(reply.find("STATUS=0\r\n"), std::string::npos) << reply;

    RawConnection stalled(service->Port());
    ASSERT_TRUE(stalled.Send(head + body.substr(0, body.size() / 2)));
    const auto start = Clock::now();
    EXPECT_TRUE(stalled.ClosedWithin(5s));
    EXPECT_LT(SecondsSince(start), 3.5);

    WebFolderTestClient client(*service);
    const auto download = client.Download("demo", "demo1234", kKey1);
    ASSERT_TRUE(download);
    EXPECT_TRUE(download->body == archive);
    store->ExpectConsistent();
}

TEST_P(AbuseTest, BehindATrustedProxyTheClientIsTheForwardedAddress) {
    const auto service = StartService({"--trusted-proxy", "127.0.0.1"});
    service->AddUser("demo", "demo1234", "데모");
    const std::string form = "cmd=userprofile&userid=demo&password=wrong";
    auto post = [&](const std::string& from, const std::string& realIp) {
        RawConnection connection(service->Port(), from);
        connection.Send("POST /tidewellweb/gateway.asp HTTP/1.0\r\nX-Real-IP: " + realIp +
                        "\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                        "Content-Length: " +
                        std::to_string(form.size()) + "\r\n\r\n" + form);
        return connection.ReadAll(3s);
    };
    post("127.0.0.1", "203.0.113.7");
    post("127.0.0.2", "203.0.113.8");  // not the proxy: its header counts for nothing
    EXPECT_TRUE(WaitForLog(*service, " 127.0.0.2 "));
    const std::string log = service->LogText();
    EXPECT_NE(log.find(" 203.0.113.7 POST"), std::string::npos) << log;
    EXPECT_EQ(log.find("203.0.113.8"), std::string::npos) << log;
}

}  // namespace
}  // namespace tidewell::test
