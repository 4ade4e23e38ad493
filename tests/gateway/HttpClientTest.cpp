#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "TestServers.h"
#include "TestSupport.h"
#include "gateway/HttpClient.h"

namespace tidewell {
namespace {

using test::HttpReply;
using test::RawReply;
using test::RawServer;

const std::string kAccept = "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n";
const std::string kUserAgent = "User-Agent: Mozilla/4.0 (compatible; ICS)\r\n";

std::string ExpectedRequest(const std::string& path, const std::string& host,
                            const std::string& body) {
    return "POST " + path + " HTTP/1.0\r\n" + kAccept +
           "Content-Type: application/x-www-form-urlencoded\r\n" + kUserAgent + "Host: " + host +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

class HttpClientTest : public ::testing::Test {
protected:
    test::CoreFixture fixture;
    HttpClient client;
    MemorySink reply;

    void Prepare(const std::string& url, RequestBody* body = nullptr) {
        client.URL = url;
        client.ContentType = "application/x-www-form-urlencoded";
        client.SendStream = body;
        client.RcvdStream = &reply;
    }
};

TEST_F(HttpClientTest, EmptyBodyGoesOutWithExactlyTheFixedHeaderSet) {
    RawServer server([](const std::string&) {
        return RawReply{HttpReply("200 OK", {"X-One: 1", "Content-Length: 8"}, "STATUS=0")};
    });
    Prepare(server.url() + "/tidewellweb/gateway.asp");
    client.Post();
    client.Close();
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0],
              ExpectedRequest("/tidewellweb/gateway.asp",
                              "127.0.0.1:" + std::to_string(server.port()), ""));
    EXPECT_EQ(reply.Bytes(), "STATUS=0");
    EXPECT_EQ(client.StatusCode(), 200);
    EXPECT_EQ(client.ReplyHeaders(), (std::vector<std::string>{"X-One: 1", "Content-Length: 8"}));
}

TEST_F(HttpClientTest, HostOnPort80CarriesTheNameAlone) {
    RawServer server([](const std::string&) { return RawReply{HttpReply("200 OK", {}, "")}; }, 80);
    if (!server.listening()) GTEST_SKIP() << "port 80 is not available here";
    MemoryBody body("a=1");
    Prepare("http://127.0.0.1/p", &body);
    client.Post();
    EXPECT_EQ(server.requests().at(0), ExpectedRequest("/p", "127.0.0.1", "a=1"));
}

TEST_F(HttpClientTest, RefusalsRaiseWithStatusAndReasonAndKeepTheirBodyOut) {
    test::HttplibServer server;
    server.server.Post("/missing", [](const httplib::Request&, httplib::Response& r) {
        r.status = 404;
        r.set_content("STATUS=0", "text/plain");
    });
    server.server.Post("/broken", [](const httplib::Request&, httplib::Response& r) {
        r.status = 500;
        r.set_content("STATUS=0", "text/plain");
    });
    for (const int status : {401, 407}) {
        server.server.Post("/" + std::to_string(status),
                           [status](const httplib::Request&, httplib::Response& r) {
                               r.status = status;
                               r.set_content("<html>denied</html>", "text/html");
                           });
    }
    server.Start();
    const std::pair<const char*, const char*> refusals[] = {{"/missing", "Not Found"},
                                                            {"/broken", "Internal Server Error"}};
    for (const auto& [path, reason] : refusals) {
        Prepare(server.url() + path);
        const auto error = test::RaisedHttpError([&] { client.Post(); });
        ASSERT_TRUE(error) << path;
        EXPECT_EQ(error->StatusCode(), std::string(path) == "/missing" ? 404 : 500);
        EXPECT_EQ(error->ReasonPhrase(), reason);
        EXPECT_NE(std::string(error->what()).find(reason), std::string::npos);
        client.Close();
    }
    EXPECT_EQ(reply.Bytes(), "");
    // 401 and 407 complete: the caller judges the body.
    Prepare(server.url() + "/401");
    client.Post();
    Prepare(server.url() + "/407");
    client.Post();
    EXPECT_EQ(reply.Bytes(), "<html>denied</html><html>denied</html>");
    EXPECT_EQ(client.StatusCode(), 407);
}

TEST_F(HttpClientTest, RedirectsAreFollowedAndOnlyTheFinalReplyCounts) {
    test::HttplibServer server;
    std::string repostedBody;
    server.server.Post("/moved", [](const httplib::Request&, httplib::Response& r) {
        r.set_redirect("/landing", 302);
        r.set_content("not this", "text/plain");
    });
    server.server.Get("/landing", [](const httplib::Request&, httplib::Response& r) {
        r.set_header("X-Final", "yes");
        r.set_content("STATUS=0", "text/plain");
    });
    server.server.Post("/again", [](const httplib::Request&, httplib::Response& r) {
        r.set_redirect("/target", 307);
    });
    server.server.Post("/target", [&](const httplib::Request& request, httplib::Response& r) {
        repostedBody = request.body;
        r.set_content("STATUS=7", "text/plain");
    });
    server.Start();

    MemoryBody body("userid=a&password=b");
    Prepare(server.url() + "/moved", &body);
    client.Post();
    EXPECT_EQ(reply.Bytes(), "STATUS=0");
    EXPECT_EQ(client.StatusCode(), 200);
    EXPECT_NE(std::find(client.ReplyHeaders().begin(), client.ReplyHeaders().end(), "X-Final: yes"),
              client.ReplyHeaders().end());

    // 307 asks for the same POST again, body included.
    body.Seek(0);
    Prepare(server.url() + "/again", &body);
    client.Post();
    EXPECT_EQ(repostedBody, "userid=a&password=b");
    EXPECT_EQ(reply.Bytes(), "STATUS=0STATUS=7");
}

TEST_F(HttpClientTest, BlocksAreReportedOnTheCallingThreadWhileMessagesKeepFlowing) {
    const std::string payload = test::RandomBytes(3 << 20, 5);
    RawServer server([&](const std::string& request) {
        const std::string received = request.substr(request.find("\r\n\r\n") + 4);
        // Answer slowly, so the client has to wait and pump.
        return RawReply{HttpReply("200 OK", {}, received == payload ? payload : "mismatch"), false,
                        300};
    });
    MemoryBody body(payload);
    Prepare(server.url() + "/echo", &body);
    std::size_t sent = 0;
    std::size_t received = 0;
    const auto caller = std::this_thread::get_id();
    bool elsewhere = false;
    client.OnDataSent = [&](HttpClient* sender, const char*, std::size_t len) {
        EXPECT_EQ(sender, &client);
        elsewhere |= std::this_thread::get_id() != caller;
        sent += len;
    };
    client.OnDataReceived = [&](HttpClient*, const char*, std::size_t len) {
        elsewhere |= std::this_thread::get_id() != caller;
        received += len;
    };
    client.Post();
    EXPECT_EQ(reply.Bytes().size(), payload.size());
    EXPECT_TRUE(reply.Bytes() == payload);
    EXPECT_EQ(sent, payload.size());
    EXPECT_EQ(received, payload.size());
    EXPECT_FALSE(elsewhere);
    EXPECT_GT(fixture.pump.count, 5);
}

TEST_F(HttpClientTest, SilentServerFailsAfterTheStallTimeAndShutdownAbortsAWait) {
    RawServer server([](const std::string&) { return RawReply{"", true}; });
    Prepare(server.url() + "/silent");
    client.StallTimeout = std::chrono::milliseconds(300);
    const auto start = std::chrono::steady_clock::now();
    const auto error = test::RaisedHttpError([&] { client.Post(); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->StatusCode(), 0);
    EXPECT_NE(std::string(error->what()).find("300밀리초"), std::string::npos) << error->what();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    client.Close();

    client.StallTimeout = std::chrono::minutes(2);
    fixture.pump.terminated = true;
    EXPECT_THROW(client.Post(), HttpError);
}

TEST_F(HttpClientTest, ConnectionFailuresAreToldInKoreanWithWhereTo) {
    int port = 0;
    {
        RawServer closed([](const std::string&) { return RawReply{}; });
        port = closed.port();
    }
    Prepare("http://127.0.0.1:" + std::to_string(port) + "/x");
    const auto error = test::RaisedHttpError([&] { client.Post(); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->StatusCode(), 0);
    EXPECT_EQ(std::string(error->what()),
              "서버에 연결할 수 없습니다. (127.0.0.1:" + std::to_string(port) + ")");
}

TEST_F(HttpClientTest, AFailingSinkEndsTheRequestWithItsOwnError) {
    MemorySink small(4);  // a runaway reply
    RawServer server([](const std::string&) { return RawReply{HttpReply("200 OK", {}, "data!")}; });
    Prepare(server.url() + "/x");
    client.RcvdStream = &small;
    try {
        client.Post();
        ADD_FAILURE() << "the sink's error was lost";
    } catch (const HttpError& error) {
        ADD_FAILURE() << "the sink's error was replaced by " << error.what();
    } catch (const Exception& error) {
        EXPECT_NE(std::string(error.what()).find("너무 깁니다"), std::string::npos) << error.what();
    }
}

// A service behind https: its certificate is checked, and a service signed by an authority of
// its own is reached once the configuration names that authority.
TEST_F(HttpClientTest, HttpsServicesHaveTheirCertificatesChecked) {
    std::string certificate, key;
    if (!test::MakeLoopbackCertificate(fixture.dir.str(), certificate, key)) {
        GTEST_SKIP() << "no openssl program to make a certificate";
    }
    test::TlsServer server(certificate, key, HttpReply("200 OK", {}, "STATUS=0\r\n"));
    Prepare(server.url() + "/tidewellweb/gateway.asp");
    const auto error = test::RaisedHttpError([&] { client.Post(); });
    ASSERT_TRUE(error);
    EXPECT_NE(std::string(error->what()).find("인증서"), std::string::npos) << error->what();

    client.CAFile = certificate;
    client.Post();
    EXPECT_EQ(reply.Bytes(), "STATUS=0\r\n");
}

}  // namespace
}  // namespace tidewell
