// Crowds on the real service over loopback: a login rush, a flood of wrong passwords and an
// attack of trickling bodies. Each is bounded in count and time; the bounds on answers are
// generous, for a loaded machine of two cores, yet far below what a service that works on its
// serving threads gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <thread>

#include "Backend.h"
#include "PasswordHash.h"
#include "RawConnection.h"
#include "WebFolderTestClient.h"

namespace fs = std::filesystem;

namespace tidewell::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kGateway[] = "/tidewellweb/gateway.asp";

std::string Profile(const std::string& id, const std::string& password) {
    return FormRequest(
        kGateway, EncodeForm({{"cmd", "userprofile"}, {"userid", id}, {"password", password}}));
}

// Accounts made straight in the store before the service starts, all with the same password
// record made with `iterations`: quicker than a process and a hash per account.
void AddShops(const TestStore& store, int count, int iterations) {
    const auto backend = store.Open();
    const std::string record = webfolder::HashPassword("pw-shop", iterations);
    for (int i = 0; i < count; ++i) {
        backend->Index().SaveAccount(
            {"shop" + std::to_string(i), "가게 " + std::to_string(i), record, 0, 1 << 30},
            std::time(nullptr));
    }
}

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

class LoadTest : public BackendTest {};
TIDEWELL_ON_EVERY_BACKEND(LoadTest);

TEST_P(LoadTest, ALoginRushIsAnsweredInFull) {
    constexpr int kShops = 200;
    AddShops(*store, kShops, 150000);
    // The first login of the day checks every password: real work. The heads all arrive at
    // once and must not wait for it.
    const auto service = StartService({"--password-iterations", "150000", "--head-timeout", "1"});
    std::barrier start(kShops);
    std::atomic<int> answered{0};
    std::vector<std::thread> shops;
    for (int i = 0; i < kShops; ++i) {
        shops.emplace_back([&, i] {
            const std::string from = "127.0.1." + std::to_string(1 + i / 25);
            start.arrive_and_wait();
            const std::string reply = Exchange(
                service->Port(), Profile("shop" + std::to_string(i), "pw-shop"), from, 60s);
            if (reply.find("STATUS=0\r\n") != std::string::npos) ++answered;
        });
    }
    for (auto& shop : shops) shop.join();
    EXPECT_EQ(answered.load(), kShops);
    EXPECT_EQ(service->LogText().find("head-timeout"), std::string::npos);
}

TEST_P(LoadTest, WrongPasswordsDoNotHoldUpALoggedInClient) {
    const auto service = StartService({"--password-iterations", "1000000"});
    service->AddUser("demo", "demo1234", "데모");
    ASSERT_NE(Exchange(service->Port(), Profile("demo", "demo1234")).find("STATUS=0"),
              std::string::npos);

    // Sixteen guessers, each from ever new addresses, so every guess costs a full check.
    std::atomic<bool> stop{false};
    std::atomic<int> guesses{0};
    std::vector<std::thread> guessers;
    for (int g = 0; g < 16; ++g) {
        guessers.emplace_back([&, g] {
            for (int n = 0; !stop && n < 1000; ++n) {
                const std::string from =
                    "127." + std::to_string(10 + g) + "." + std::to_string(n % 250) + ".1";
                Exchange(service->Port(), Profile("nobody" + std::to_string(n), "guess"), from,
                         30s);
                ++guesses;
            }
        });
    }
    std::this_thread::sleep_for(300ms);
    std::vector<double> times;
    for (int i = 0; i < 15; ++i) {
        const auto asked = Clock::now();
        const std::string reply = Exchange(service->Port(), Profile("demo", "demo1234"));
        times.push_back(Seconds(Clock::now() - asked));
        EXPECT_NE(reply.find("STATUS=0\r\n"), std::string::npos) << reply;
        std::this_thread::sleep_for(50ms);
    }
    stop = true;
    for (auto& guesser : guessers) guesser.join();
    std::sort(times.begin(), times.end());
    EXPECT_GT(guesses.load(), 16);
    EXPECT_LT(times[times.size() / 2], 0.5) << "median " << times[times.size() / 2];
}

// The head and the start of an upload whose body then comes one byte at a time.
std::string TricklingUpload() {
    const std::string b = "----trickle";
    auto field = [&](const char* name, const std::string& value) {
        return "--" + b + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
               value + "\r\n";
    };
    const std::string start = field("userid", "demo") + field("password", "demo1234") +
                              field("companykey", kKey1) + "--" + b +
                              "\r\nContent-Disposition: form-data; name=\"file\"; "
                              "filename=\"20240101000000.bck\"\r\n\r\nfirst bytes";
    return "POST /tidewellweb/gwupload.asp HTTP/1.0\r\nContent-Type: multipart/form-data; "
           "boundary=" +
           b + "\r\nContent-Length: 1000000\r\n\r\n" + start;
}

TEST_P(LoadTest, TricklingBodiesAreCutAndOthersAreServedMeanwhile) {
    // Forty connections in all, eight per address: five addresses could hold every one.
    const auto service = StartService({"--max-connections", "40", "--per-address", "8",
                                       "--body-window", "1", "--head-timeout", "2"});
    service->AddUser("demo", "demo1234", "데모");

    std::atomic<bool> stop{false};
    std::atomic<long> longestMs{0};
    std::vector<std::thread> attackers;
    for (int a = 0; a < 40; ++a) {
        attackers.emplace_back([&, a] {
            const std::string from = "127.0.5." + std::to_string(1 + a / 8);
            while (!stop) {
                const auto opened = Clock::now();
                try {
                    RawConnection connection(service->Port(), from);
                    bool open = connection.Send(TricklingUpload());
                    while (open && !stop)
                        open = connection.Send("x") && !connection.ClosedWithin(300ms);
                } catch (const std::exception&) {
                }
                const long ms = static_cast<long>(Seconds(Clock::now() - opened) * 1000);
                if (!stop) longestMs = std::max(longestMs.load(), ms);
                std::this_thread::sleep_for(200ms);
            }
        });
    }
    std::this_thread::sleep_for(500ms);
    int served = 0;
    for (int i = 0; i < 5; ++i) {
        const auto asked = Clock::now();
        const std::string reply = Exchange(service->Port(), Profile("demo", "demo1234"));
        served += reply.find("STATUS=0\r\n") != std::string::npos ? 1 : 0;
        EXPECT_LT(Seconds(Clock::now() - asked), 3.0);
        std::this_thread::sleep_for(500ms);
    }
    stop = true;
    for (auto& attacker : attackers) attacker.join();
    EXPECT_EQ(served, 5);
    EXPECT_LT(longestMs.load(), 4000) << "a trickling body was let be";

    // Their spool files went with them.
    const auto settled = Clock::now();
    while (store->UnfinishedUploads() != 0 && Clock::now() - settled < 5s) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(store->UnfinishedUploads(), 0u);
    const std::string log = service->LogText();
    EXPECT_NE(log.find("end=slow-body"), std::string::npos) << log.substr(0, 3000);
}

}  // namespace
}  // namespace tidewell::test
