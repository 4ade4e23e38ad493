// What only the distributed store has: a schema its instances bring up together, a ledger of
// the objects no archive names that the sweep works from, and downloads that keep their
// object while another instance lets it go.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <thread>

#include "DistributedBackend.h"
#include "Engines.h"
#include "RawConnection.h"
#include "WebFolderTestClient.h"
#include "platform/FileHandle.h"

namespace tidewell::test {
namespace {

using namespace std::chrono_literals;

class DistributedTest : public ::testing::Test {
protected:
    void SetUp() override {
        TIDEWELL_REQUIRE_ENGINES();
        store = TestStore::Make(Backend::Distributed, dir / "spool");
    }
    const std::string& IndexUri() const { return store->Location().arguments[1]; }

    TempDir dir;
    std::unique_ptr<TestStore> store;
};

TEST_F(DistributedTest, InstancesStartingTogetherBringTheSchemaUpOnceAndANewerOneIsRefused) {
    constexpr int kInstances = 6;
    std::barrier start(kInstances);
    std::vector<std::string> errors(kInstances);
    std::vector<std::thread> instances;
    for (int i = 0; i < kInstances; ++i) {
        instances.emplace_back([&, i] {
            try {
                webfolder::PgConnection connection(IndexUri());
                start.arrive_and_wait();
                webfolder::MigrateSchema(connection);
            } catch (const std::exception& error) {
                errors[i] = error.what();
            }
        });
    }
    for (auto& instance : instances) instance.join();
    for (const auto& error : errors) EXPECT_EQ(error, "");
    webfolder::PgConnection index(IndexUri());
    EXPECT_EQ(index.Exec("SELECT COUNT(*) FROM tidewell_schema").Int(0, 0),
              static_cast<std::int64_t>(webfolder::PgMigrations().size()));

    index.Exec("INSERT INTO tidewell_schema(version, name) VALUES(9999, 'from the future')");
    const ToolResult refused =
        RunWebFolderTool(store->Command("serve", {"--listen", "127.0.0.1:0"}));
    EXPECT_EQ(refused.exitCode, 1) << refused.output;
    EXPECT_NE(refused.output.find("newer version"), std::string::npos) << refused.output;
}

TEST_F(DistributedTest, TheSweepRemovesUploadsCutOffOnlyWhenOldAndAtMostItsCapAtATime) {
    const auto backend = store->Open();
    auto& distributed = dynamic_cast<webfolder::DistributedBackend&>(*backend);
    webfolder::PgIndex& ledger = distributed.Pg();
    webfolder::S3Client& client = distributed.Objects().Client();
    const std::string under = distributed.Objects().ArchivesPrefix() + "9/";
    // What instances killed mid-upload leave: objects whole but never named, and a multipart
    // upload with a part sent; the ledger knew each key before the first byte left.
    for (int i = 0; i < 3; ++i) {
        ledger.NoteUnnamed(under + "cut-" + std::to_string(i));
        client.PutSmallObject(under + "cut-" + std::to_string(i), "whole but unnamed");
    }
    WriteFile(dir / "part", RandomBytes(100000, 1));
    const FileHandle part(::open((dir / "part").c_str(), O_RDONLY | O_CLOEXEC));
    ledger.NoteUnnamed(under + "parts");
    const std::string id = client.CreateMultipartUpload(under + "parts");
    client.UploadPart(under + "parts", id, 1, {part.get(), 0, 100000}, "UNSIGNED-PAYLOAD");

    // Young, they may be uploads still under way: left alone.
    EXPECT_EQ(distributed.Objects().Sweep(3600, 100), 0u);
    EXPECT_EQ(store->ObjectSize(under + "cut-0"), 17);
    // Old enough: removed, parts and all, at most the cap at a time.
    EXPECT_EQ(distributed.Objects().Sweep(0, 3), 3u);
    EXPECT_EQ(distributed.Objects().Sweep(0, 3), 1u);
    EXPECT_EQ(distributed.Objects().Sweep(0, 3), 0u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(store->ObjectSize(under + "cut-" + std::to_string(i)), -1);
    EXPECT_TRUE(client.ListMultipartUploads(under).empty());
    store->ExpectConsistent();
}

TEST_F(DistributedTest, ADownloadUnderWayKeepsItsArchiveWhileAnotherInstanceLetsItGo) {
    WebFolderService first(store->Location()), second(store->Location());
    first.AddUser("demo", "demo1234", "데모");
    WebFolderTestClient toFirst(first);
    // Larger than what is fetched ahead and what the sockets hold together.
    const std::string archive = RandomBytes(40 << 20, 7);
    ASSERT_TRUE(
        toFirst.Upload("demo", "demo1234", kKey1, "상사", "20240101000000.bck", archive).Ok());
    const std::string object = store->ReadIndex().front().object;

    // A client downloads it from the second instance, slowly.
    RawConnection slow(second.Port());
    ASSERT_TRUE(slow.Send(FormRequest(
        "/tidewellweb/gwdownload.asp",
        EncodeForm({{"userid", "demo"}, {"password", "demo1234"}, {"companykey", kKey1}}))));
    std::string received = slow.ReadSome(64 * 1024, 10s);
    ASSERT_NE(received.find("200 OK"), std::string::npos) << received.substr(0, 200);

    // Meanwhile the first instance stores three newer ones: the archive is pushed out.
    for (int day = 2; day <= 4; ++day) {
        ASSERT_TRUE(toFirst
                        .Upload("demo", "demo1234", kKey1, "상사",
                                "2024010" + std::to_string(day) + "000000.bck", "newer")
                        .Ok());
    }
    EXPECT_EQ(store->ReadIndex().size(), 3u);
    EXPECT_EQ(store->ObjectSize(object), 40 << 20) << "removed under a download";

    received += slow.ReadAll(60s);
    const auto body = received.find("\r\n\r\n");
    ASSERT_NE(body, std::string::npos);
    EXPECT_EQ(received.size() - body - 4, archive.size());
    EXPECT_TRUE(received.compare(body + 4, std::string::npos, archive) == 0);

    // Once the read has ended, nothing keeps it: it goes with the next sweep.
    const auto backend = store->Open();
    auto& objects = dynamic_cast<webfolder::DistributedBackend&>(*backend).Objects();
    for (int i = 0; i < 100 && store->ObjectSize(object) >= 0; ++i) {
        objects.Sweep(3600, 100);
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(store->ObjectSize(object), -1);
    store->ExpectConsistent();
}

TEST_F(DistributedTest, DownloadsBeyondTheMemoryBudgetStillArriveWhole) {
    // No read-ahead to share: each download keeps to its one buffer, and all still arrive.
    WebFolderService service(store->Location(), {"--download-memory", "0"});
    service.AddUser("demo", "demo1234", "데모");
    WebFolderTestClient client(service);
    const std::string archive = RandomBytes(18 << 20, 3);
    ASSERT_TRUE(
        client.Upload("demo", "demo1234", kKey1, "상사", "20240101000000.bck", archive).Ok());
    std::vector<std::thread> downloads;
    std::atomic<int> whole{0};
    for (int i = 0; i < 6; ++i) {
        downloads.emplace_back([&] {
            WebFolderTestClient own(service);
            const auto download = own.Download("demo", "demo1234", kKey1);
            if (download && download->body == archive) ++whole;
        });
    }
    for (auto& download : downloads) download.join();
    EXPECT_EQ(whole.load(), 6);
}

}  // namespace
}  // namespace tidewell::test
