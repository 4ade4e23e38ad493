// Two instances of the service on one index and one bucket, as behind a load balancer: clients
// upload, download, delete and prune through both at once, and one instance is killed mid-upload.
// Every archive says in its own bytes what it is, so any download is checked alone: a mixed,
// cut or misplaced archive cannot pass. Bounded here; the full run (20 clients for a minute) is
// TIDEWELL_SOAK_CLIENTS=20 TIDEWELL_SOAK_SECONDS=60 with --gtest_filter=MultiInstance*.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <barrier>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "DistributedBackend.h"
#include "Engines.h"
#include "RawConnection.h"
#include "WebFolderTestClient.h"

namespace tidewell::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int FromEnvironment(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

// "TWARCH|account|company|name|seed|size\n" and then `size` random bytes from the seed.
std::string MakeArchive(const std::string& account, const std::string& key, const std::string& name,
                        std::uint32_t seed, std::size_t size) {
    return "TWARCH|" + account + "|" + key + "|" + name + "|" + std::to_string(seed) + "|" +
           std::to_string(size) + "\n" + RandomBytes(size, seed);
}

struct Identity {
    std::string account, key, name;
};

// What the archive says it is, when every byte agrees with it; nullopt otherwise.
std::optional<Identity> Check(const std::string& bytes) {
    const auto end = bytes.find('\n');
    if (end == std::string::npos || bytes.rfind("TWARCH|", 0) != 0) return std::nullopt;
    std::vector<std::string> fields;
    std::size_t at = 7;
    while (at <= end) {
        const auto bar = std::min(bytes.find('|', at), end);
        fields.push_back(bytes.substr(at, bar - at));
        at = bar + 1;
    }
    if (fields.size() != 5) return std::nullopt;
    const std::string expected =
        MakeArchive(fields[0], fields[1], fields[2],
                    static_cast<std::uint32_t>(std::stoul(fields[3])), std::stoul(fields[4]));
    if (expected != bytes) return std::nullopt;
    return Identity{fields[0], fields[1], fields[2]};
}

std::string ArchiveName(std::uint32_t n) {
    // A valid time for every n: day, hour, minute and second from it.
    char name[32];
    std::snprintf(name, sizeof name, "2024%02u%02u%02u%02u%02u.bck", 1 + n % 12, 1 + n / 12 % 28,
                  n / 336 % 24, n / 8064 % 60, n / 483840 % 60);
    return name;
}

class MultiInstance : public ::testing::Test {
protected:
    void SetUp() override {
        TIDEWELL_REQUIRE_ENGINES();
        store = TestStore::Make(Backend::Distributed, dir / "spool");
        for (int i = 0; i < 2; ++i) {
            instances.push_back(std::make_unique<WebFolderService>(store->Location()));
        }
    }

    // Every archive the index names, read through the back end as a download reads it, must be
    // whole and be the company's.
    void ExpectEveryArchiveWhole() {
        const auto backend = store->Open();
        auto& distributed = dynamic_cast<webfolder::DistributedBackend&>(*backend);
        for (const IndexRow& row : store->ReadIndex()) {
            std::string bytes(static_cast<std::size_t>(row.size), '\0');
            distributed.Objects().Client().GetRange(row.object, 0, row.size, bytes.data());
            const auto identity = Check(bytes);
            ASSERT_TRUE(identity) << row.object;
            EXPECT_EQ(identity->key, row.companyKey);
            EXPECT_EQ(identity->name, row.name);
        }
    }

    TempDir dir;
    std::unique_ptr<TestStore> store;
    std::vector<std::unique_ptr<WebFolderService>> instances;
};

TEST_F(MultiInstance, TwoInstancesServeTheSameAccountsThroughEveryKindOfRequest) {
    const int clients = FromEnvironment("TIDEWELL_SOAK_CLIENTS", 8);
    const auto duration = std::chrono::seconds(FromEnvironment("TIDEWELL_SOAK_SECONDS", 6));
    const std::vector<std::string> accounts{"shop0", "shop1", "shop2"};
    const std::vector<std::string> keys{kKey1, kKey2, std::string(32, 'c')};
    for (const auto& account : accounts) instances[0]->AddUser(account, "pw", account);
    // Room for the company and two small archives, one of them stored: two uploads racing
    // through the two instances each fit alone, and must never both get in.
    const auto small = [&](std::uint32_t n) {
        return MakeArchive("tight", kKey1, ArchiveName(n), n, 1000);
    };
    const std::int64_t tightQuota = kCompanyCharge + 2 * store->Cost(small(0).size());
    instances[1]->AddUser("tight", "pw", "빠듯한 가게", std::nullopt, tightQuota);
    ASSERT_TRUE(WebFolderTestClient(*instances[1])
                    .Upload("tight", "pw", kKey1, "상사", ArchiveName(999999), small(999999))
                    .Ok());

    std::atomic<bool> stop{false};
    std::atomic<int> uploaded{0}, verified{0}, rounds{0};
    std::mutex failuresMutex;
    std::vector<std::string> failures;
    auto fail = [&](const std::string& what) {
        std::lock_guard lock(failuresMutex);
        if (failures.size() < 20) failures.push_back(what);
    };
    std::atomic<std::uint32_t> names{0};

    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            std::mt19937 random(static_cast<std::uint32_t>(c) * 7919u + 1);
            std::vector<std::unique_ptr<WebFolderTestClient>> through;
            for (const auto& instance : instances) {
                through.push_back(std::make_unique<WebFolderTestClient>(*instance));
            }
            while (!stop) {
                auto& client = *through[random() % through.size()];
                const std::string account = accounts[random() % accounts.size()];
                const std::string key = keys[random() % keys.size()];
                const int roll = static_cast<int>(random() % 100);
                if (roll < 45) {
                    const std::uint32_t n = names++;
                    const std::size_t size = roll < 3 ? (12u << 20) : 1000 + random() % (2u << 20);
                    const TextReply reply =
                        client.Upload(account, "pw", key, "상사", ArchiveName(n),
                                      MakeArchive(account, key, ArchiveName(n), n, size));
                    if (reply.Ok()) {
                        ++uploaded;
                    } else {
                        fail("upload: " + reply.body);
                    }
                } else if (roll < 85) {
                    const auto download = client.Download(account, "pw", key);
                    if (!download) {
                        fail("download: no reply");
                    } else if (download->has_header("Content-Disposition")) {
                        const auto identity = Check(download->body);
                        if (!identity || identity->account != account || identity->key != key ||
                            download->get_header_value("Content-Disposition") !=
                                "attachment; filename=\"" + identity->name + "\"") {
                            fail("download: a mixed, cut or misplaced archive of " +
                                 std::to_string(download->body.size()) + " bytes");
                        } else {
                            ++verified;
                        }
                    } else {
                        // Deleted or pruned meanwhile: no such company, or no archive.
                        const std::string status = ToTextReply(download).Value("STATUS");
                        if (status != "3" && status != "7") fail("download: " + download->body);
                    }
                } else if (roll < 90) {
                    const TextReply reply = client.Command("deletecompany", account, "pw", key);
                    if (!reply.Ok() && reply.Value("STATUS") != "3") fail("delete: " + reply.body);
                } else {
                    const TextReply reply = client.Command("companyinfo", account, "pw", key);
                    if (!reply.Ok() && reply.Value("STATUS") != "3") fail("info: " + reply.body);
                }
            }
        });
    }
    // The tight account: one upload through each instance at the same moment, round after
    // round; then a prune leaves the company one archive again for the next round.
    std::barrier together(2);
    std::atomic<int> acceptedThisRound{0};
    for (int side = 0; side < 2; ++side) {
        threads.emplace_back([&, side] {
            WebFolderTestClient client(*instances[side]);
            for (int round = 0;; ++round) {
                together.arrive_and_wait();
                if (stop) {
                    together.arrive_and_drop();
                    return;
                }
                const auto n = static_cast<std::uint32_t>(1000000 + round * 2 + side);
                if (client.Upload("tight", "pw", kKey1, "상사", ArchiveName(n), small(n)).Ok()) {
                    ++acceptedThisRound;
                }
                together.arrive_and_wait();
                if (side == 0) {
                    if (acceptedThisRound > 1) fail("both uploads passed the quota together");
                    const std::int64_t used =
                        client.Command("diskusage", "tight", "pw").Number("DiskUsed");
                    if (used > tightQuota) fail("quota passed: " + std::to_string(used));
                    acceptedThisRound = 0;
                    const ToolResult pruned = RunWebFolderTool(
                        store->Command("prune", {"--account", "tight", "--keep", "1"}));
                    if (pruned.exitCode != 0) fail("prune: " + pruned.output);
                    ++rounds;
                }
            }
        });
    }
    // An operator prunes now and then meanwhile.
    threads.emplace_back([&] {
        while (!stop) {
            std::this_thread::sleep_for(700ms);
            const ToolResult pruned = RunWebFolderTool(store->Command("prune", {"--keep", "2"}));
            if (pruned.exitCode != 0) fail("prune: " + pruned.output);
        }
    });
    // For the time asked, and on a loaded machine until every kind has had its turns.
    const auto started = Clock::now();
    std::this_thread::sleep_for(duration);
    while ((uploaded < 2 * clients || verified < clients || rounds < 10) &&
           Clock::now() - started < duration + 60s) {
        std::this_thread::sleep_for(100ms);
    }
    stop = true;
    for (auto& thread : threads) thread.join();

    for (const auto& failure : failures) ADD_FAILURE() << failure;
    std::printf("%d clients for %lld s: %d uploads stored, %d downloads checked, %d quota races\n",
                clients, static_cast<long long>(duration.count()), uploaded.load(), verified.load(),
                rounds.load());
    EXPECT_GT(uploaded.load(), clients);
    EXPECT_GT(verified.load(), clients);
    EXPECT_GT(rounds.load(), 10);

    // Afterwards: each company's newest the same through either instance, every archive whole.
    for (const auto& account : accounts) {
        for (const auto& key : keys) {
            WebFolderTestClient first(*instances[0]), second(*instances[1]);
            const auto one = first.Download(account, "pw", key);
            const auto other = second.Download(account, "pw", key);
            ASSERT_TRUE(one && other);
            EXPECT_TRUE(one->body == other->body) << account << " " << key;
        }
    }
    ExpectEveryArchiveWhole();
    store->ExpectConsistent();
}

TEST_F(MultiInstance, AKillMidUploadLosesNothingAccepted) {
    const std::vector<std::string> keys{kKey1, kKey2, std::string(32, 'c'), std::string(32, 'd')};
    instances[0]->AddUser("demo", "pw", "데모");
    // The last archive each company got STATUS=0 for, as its client knows.
    std::vector<std::string> accepted(keys.size());
    std::atomic<bool> stop{false};
    std::vector<std::thread> uploaders;
    for (std::size_t c = 0; c < keys.size(); ++c) {
        uploaders.emplace_back([&, c] {
            std::mt19937 random(static_cast<std::uint32_t>(c) + 11);
            for (std::uint32_t n = 0; !stop; ++n) {
                const std::uint32_t id = static_cast<std::uint32_t>(c) * 100000 + n;
                const std::string archive = MakeArchive("demo", keys[c], ArchiveName(id), id,
                                                        100000 + random() % (6u << 20));
                // Through either instance; the dead one's refusal sends it to the other.
                for (int attempt = 0; attempt < 2; ++attempt) {
                    WebFolderTestClient client(*instances[(n + attempt) % 2]);
                    const auto reply =
                        client.TryUpload("demo", "pw", keys[c], "상사", ArchiveName(id), archive);
                    if (reply && ToTextReply(reply).Ok()) {
                        accepted[c] = archive;
                        break;
                    }
                }
            }
        });
    }
    // And one large upload that the first instance is in the middle of when it dies.
    RawConnection large(instances[0]->Port());
    const std::string b = "----kill";
    const std::string body =
        "--" + b + "\r\nContent-Disposition: form-data; name=\"userid\"\r\n\r\ndemo\r\n--" + b +
        "\r\nContent-Disposition: form-data; name=\"password\"\r\n\r\npw\r\n--" + b +
        "\r\nContent-Disposition: form-data; name=\"companykey\"\r\n\r\n" + std::string(32, 'e') +
        "\r\n--" + b +
        "\r\nContent-Disposition: form-data; name=\"file\"; "
        "filename=\"20240101000000.bck\"\r\n\r\n" +
        MakeArchive("demo", std::string(32, 'e'), "20240101000000.bck", 1, 40 << 20) + "\r\n--" +
        b + "--\r\n";
    ASSERT_TRUE(
        large.Send("POST /tidewellweb/gwupload.asp HTTP/1.0\r\nContent-Type: "
                   "multipart/form-data; boundary=" +
                   b + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                   body.substr(0, body.size() / 2)));
    std::this_thread::sleep_for(1500ms);
    ::kill(instances[0]->Pid(), SIGKILL);
    EXPECT_EQ(instances[0]->Stop(), 128 + SIGKILL);
    std::this_thread::sleep_for(1000ms);
    stop = true;
    for (auto& uploader : uploaders) uploader.join();

    // Every company's last accepted archive is its newest, whole, through the survivor.
    WebFolderTestClient survivor(*instances[1]);
    for (std::size_t c = 0; c < keys.size(); ++c) {
        ASSERT_FALSE(accepted[c].empty()) << "nothing accepted for " << keys[c];
        const auto download = survivor.Download("demo", "pw", keys[c]);
        ASSERT_TRUE(download);
        EXPECT_TRUE(download->body == accepted[c]) << keys[c];
    }
    EXPECT_EQ(survivor.Command("companyinfo", "demo", "pw", std::string(32, 'e')).Value("STATUS"),
              "3")
        << "half an upload became visible";
    ExpectEveryArchiveWhole();

    // What the dead instance left mid-upload is in the ledger, and goes with a sweep.
    const auto backend = store->Open();
    dynamic_cast<webfolder::DistributedBackend&>(*backend).Objects().Sweep(0, 100);
    store->ExpectConsistent();
}

}  // namespace
}  // namespace tidewell::test
