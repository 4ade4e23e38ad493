#include <gtest/gtest.h>

#include <ctime>
#include <thread>

#include "RawConnection.h"
#include "WebFolderTestClient.h"
#include "platform/Sqlite.h"

namespace fs = std::filesystem;

namespace tidewell::test {
namespace {

std::string ArchiveName(int day) {
    char name[32];
    std::snprintf(name, sizeof name, "202401%02d000000.bck", day);
    return name;
}

class StorageRulesTest : public BackendTest {};
TIDEWELL_ON_EVERY_BACKEND(StorageRulesTest);

TEST_P(StorageRulesTest, CompaniesPerAccountAndNameLengthsAreBounded) {
    const auto service = StartService({"--max-companies", "2"});
    service->AddUser("demo", "demo1234", "데모");
    WebFolderTestClient client(*service);
    // 128 Hangul syllables are 256 bytes in CP949, one more than a name may have.
    std::string longName;
    for (int i = 0; i < 128; ++i) longName += "가";

    ASSERT_TRUE(client.Upload("demo", "demo1234", kKey1, "하나", ArchiveName(1), "1").Ok());
    EXPECT_EQ(
        client.Upload("demo", "demo1234", kKey2, longName, ArchiveName(1), "2").Value("STATUS"),
        "2");
    ASSERT_TRUE(client.Upload("demo", "demo1234", kKey2, "둘", ArchiveName(1), "2").Ok());
    const TextReply third =
        client.Upload("demo", "demo1234", std::string(32, 'c'), "셋", ArchiveName(1), "3");
    EXPECT_EQ(third.Value("STATUS"), "5");
    EXPECT_NE(third.Value("MESSAGE").find("사업장 수"), std::string::npos) << third.body;
    EXPECT_EQ(client.Command("companylist", "demo", "demo1234").Number("CompanyCount"), 2);

    // A stored company goes on taking archives; a name too long leaves it the one it has.
    EXPECT_TRUE(client.Upload("demo", "demo1234", kKey2, longName, ArchiveName(2), "2b").Ok());
    EXPECT_EQ(client.Command("companyinfo", "demo", "demo1234", kKey2).Value("CompanyName"), "둘");
    const std::string longest = longName.substr(0, 127 * 3);
    EXPECT_TRUE(client.Upload("demo", "demo1234", kKey1, longest, ArchiveName(2), "1b").Ok());
    EXPECT_EQ(client.Command("companyinfo", "demo", "demo1234", kKey1).Value("CompanyName"),
              longest);
}

TEST_P(StorageRulesTest, AppendOnlyKeepsEverythingUntilAnOperatorPrunes) {
    auto service = StartService({"--append-only"});
    service->AddUser("demo", "demo1234", "데모");
    auto client = std::make_unique<WebFolderTestClient>(*service);
    for (int day = 1; day <= 5; ++day) {
        ASSERT_TRUE(client
                        ->Upload("demo", "demo1234", kKey1, "상사", ArchiveName(day),
                                 "archive " + std::to_string(day))
                        .Ok());
    }
    EXPECT_EQ(store->ReadIndex().size(), 5u);
    EXPECT_EQ(client->Command("companyinfo", "demo", "demo1234", kKey1).Value("LatestFile"),
              ArchiveName(5));

    const TextReply deletion = client->Command("deletecompany", "demo", "demo1234", kKey1);
    EXPECT_EQ(deletion.Value("STATUS"), "8");
    EXPECT_NE(deletion.Value("MESSAGE").find("삭제할 수 없습니다"), std::string::npos);
    const TextReply overwrite =
        client->Upload("demo", "demo1234", kKey1, "상사", ArchiveName(3), "ransom");
    EXPECT_EQ(overwrite.Value("STATUS"), "8");
    EXPECT_EQ(client->Download("demo", "demo1234", kKey1)->body, "archive 5");
    client.reset();
    ASSERT_EQ(service->Stop(), 0);
    store->ExpectConsistent();

    const ToolResult pruned = RunWebFolderTool(store->Command("prune", {"--keep", "2"}));
    EXPECT_EQ(pruned.exitCode, 0) << pruned.output;
    EXPECT_NE(pruned.output.find("removed 3 archives"), std::string::npos) << pruned.output;
    std::vector<std::string> kept;
    for (const IndexRow& row : store->ReadIndex()) kept.push_back(row.name);
    EXPECT_EQ(kept, (std::vector<std::string>{ArchiveName(4), ArchiveName(5)}));
    store->ExpectConsistent();

    // Without the option the usual rules hold on the same store.
    const auto usual = StartService();
    WebFolderTestClient usualClient(*usual);
    EXPECT_TRUE(usualClient.Command("deletecompany", "demo", "demo1234", kKey1).Ok());
}

TEST_P(StorageRulesTest, AThiefWithThePasswordIsUndoneByArrival) {
    const auto service = StartService({"--append-only"});
    const std::int64_t small = store->Cost(100);
    service->AddUser("demo", "demo1234", "데모", std::nullopt, 2 * kCompanyCharge + 6 * small);
    WebFolderTestClient client(*service);
    for (int day = 1; day <= 3; ++day) {
        ASSERT_TRUE(client
                        .Upload("demo", "demo1234", kKey1, "상사", ArchiveName(day),
                                "good " + std::to_string(day))
                        .Ok());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    const std::string theft = "@" + std::to_string(std::time(nullptr));

    // The thief: a name from the future would stay the newest for every client; refused.
    const TextReply future =
        client.Upload("demo", "demo1234", kKey1, "상사", "20991231235959.bck", "evil");
    EXPECT_EQ(future.Value("STATUS"), "6") << future.body;
    // Plausible names fill the quota; a company of his own too.
    ASSERT_TRUE(client.Upload("demo", "demo1234", kKey2, "가짜", ArchiveName(9), "evil").Ok());
    int stolen = 0;
    while (
        stolen < 10 &&
        client.Upload("demo", "demo1234", kKey1, "상사", ArchiveName(20 + stolen), "evil").Ok()) {
        ++stolen;
    }
    EXPECT_GT(stolen, 0);
    EXPECT_EQ(client.Download("demo", "demo1234", kKey1)->body, "evil");
    EXPECT_EQ(
        client.Upload("demo", "demo1234", kKey1, "상사", ArchiveName(4), "good 4").Value("STATUS"),
        "5");

    // The remedy in the README: a new password, then everything that arrived since the theft
    // goes, by arrival, whatever names it carries.
    service->AddUser("demo", "new-secret", "데모", std::nullopt, 2 * kCompanyCharge + 6 * small);
    EXPECT_FALSE(client.Command("userprofile", "demo", "demo1234").Ok());
    const ToolResult pruned =
        RunWebFolderTool(store->Command("prune", {"--account", "demo", "--keep-before", theft}));
    ASSERT_EQ(pruned.exitCode, 0) << pruned.output;
    EXPECT_NE(pruned.output.find("removed " + std::to_string(stolen + 1) + " archives"),
              std::string::npos)
        << pruned.output;
    const TextReply list = client.Command("companylist", "demo", "new-secret");
    EXPECT_EQ(list.Number("CompanyCount"), 1);
    EXPECT_EQ(client.Command("companyinfo", "demo", "new-secret", kKey1).Value("LatestFile"),
              ArchiveName(3));
    EXPECT_EQ(client.Download("demo", "new-secret", kKey1)->body, "good 3");
    EXPECT_TRUE(client.Upload("demo", "new-secret", kKey1, "상사", ArchiveName(4), "good 4").Ok());
    store->ExpectConsistent();
}

// An upload's head and body; the archive comes last.
std::pair<std::string, std::string> RawUpload(const std::string& name, const std::string& archive) {
    const std::string b = "----race";
    auto field = [&](const char* field, const std::string& value) {
        return "--" + b + "\r\nContent-Disposition: form-data; name=\"" + field + "\"\r\n\r\n" +
               value + "\r\n";
    };
    const std::string body = field("userid", "demo") + field("password", "demo1234") +
                             field("companykey", kKey1) + "--" + b +
                             "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
                             name + "\"\r\n\r\n" + archive + "\r\n--" + b + "--\r\n";
    return {
        "POST /tidewellweb/gwupload.asp HTTP/1.0\r\nContent-Type: multipart/form-data; "
        "boundary=" +
            b + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n",
        body};
}

TEST_P(StorageRulesTest, TwoUploadsThatFitEachAloneDoNotBothGetIn) {
    const auto service = StartService();
    const std::int64_t cost = store->Cost(50000);
    service->AddUser("demo", "demo1234", "데모", std::nullopt, kCompanyCharge + cost + cost / 2);
    // Both are let in before either stores: the room is weighed again when each is stored.
    std::vector<std::unique_ptr<RawConnection>> uploads;
    std::vector<std::string> rests;
    for (int day = 1; day <= 2; ++day) {
        auto [head, body] = RawUpload(ArchiveName(day), RandomBytes(50000, day));
        uploads.push_back(std::make_unique<RawConnection>(service->Port()));
        ASSERT_TRUE(uploads.back()->Send(head + body.substr(0, body.size() - 20000)));
        rests.push_back(body.substr(body.size() - 20000));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int stored = 0, refused = 0;
    for (std::size_t i = 0; i < uploads.size(); ++i) ASSERT_TRUE(uploads[i]->Send(rests[i]));
    for (auto& upload : uploads) {
        const std::string reply = upload->ReadAll(std::chrono::seconds(10));
        stored += reply.find("STATUS=0\r\n") != std::string::npos ? 1 : 0;
        refused += reply.find("STATUS=5\r\n") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(stored, 1);
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(store->ReadIndex().size(), 1u);
    store->ExpectConsistent();
}

TEST_P(StorageRulesTest, AStoreTheIndexCannotCommitLetsNoArchiveGo) {
    const auto service = StartService();
    service->AddUser("demo", "demo1234", "데모");
    WebFolderTestClient client(*service);
    for (int day = 1; day <= 3; ++day) {
        ASSERT_TRUE(client
                        .Upload("demo", "demo1234", kKey1, "상사", ArchiveName(day),
                                "kept " + std::to_string(day))
                        .Ok());
    }
    const auto before = store->ReadIndex();
    // The fourth would push the first out, but the index cannot take it.
    store->FailArchiveRows(true);
    const TextReply failed =
        client.Upload("demo", "demo1234", kKey1, "상사", ArchiveName(4), "the fourth");
    EXPECT_EQ(failed.Value("STATUS"), "9") << failed.body;
    store->FailArchiveRows(false);
    const auto after = store->ReadIndex();
    ASSERT_EQ(after.size(), 3u);
    for (std::size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i].object, before[i].object);
        EXPECT_EQ(store->ObjectSize(after[i].object), after[i].size) << "let go before the commit";
    }
    EXPECT_EQ(client.Download("demo", "demo1234", kKey1)->body, "kept 3");
    store->Sweep();
    store->ExpectConsistent();
}

constexpr char kFolderBackups[] =
    "backups are the data folder's; PostgreSQL and the bucket have their own (pg_dump, versioning)";

TEST_P(StorageRulesTest, BackupIsAFolderThatCanBeServed) {
    TIDEWELL_ONLY_ON(Embedded, kFolderBackups);
    const auto service = StartService();
    service->AddUser("demo", "demo1234", "데모");
    WebFolderTestClient client(*service);
    const std::string one = RandomBytes(70000, 1), two = RandomBytes(5000, 2);
    ASSERT_TRUE(client.Upload("demo", "demo1234", kKey1, "상사", ArchiveName(1), one).Ok());
    ASSERT_TRUE(client.Upload("demo", "demo1234", kKey2, "상회", ArchiveName(1), two).Ok());

    // Taken while the service runs.
    const ToolResult backup = RunWebFolderTool(
        {"backup", "--data", service->DataFolder().string(), (dir / "copy").string()});
    ASSERT_EQ(backup.exitCode, 0) << backup.output;
    EXPECT_NE(backup.output.find("2 archives"), std::string::npos) << backup.output;
    EXPECT_EQ(RunWebFolderTool(
                  {"backup", "--data", service->DataFolder().string(), (dir / "copy").string()})
                  .exitCode,
              1);
    for (const auto& entry : fs::directory_iterator(service->DataFolder())) {
        EXPECT_EQ(entry.path().filename().string().rfind("backup-staging", 0), std::string::npos);
    }
    ASSERT_TRUE(client.Command("deletecompany", "demo", "demo1234", kKey1).Ok());

    EXPECT_TRUE(fs::exists(dir / "copy" / "backup-complete"));
    const ToolResult restore = RunWebFolderTool(
        {"restore-backup", "--data", (dir / "restored").string(), (dir / "copy").string()});
    ASSERT_EQ(restore.exitCode, 0) << restore.output;

    for (const char* folder : {"copy", "restored"}) {
        WebFolderService restored(dir / folder);
        WebFolderTestClient restoredClient(restored);
        EXPECT_TRUE(restoredClient.Download("demo", "demo1234", kKey1)->body == one);
        EXPECT_TRUE(restoredClient.Download("demo", "demo1234", kKey2)->body == two);
        TestStore::Make(Backend::Embedded, restored.DataFolder())->ExpectConsistent();
    }
}

TEST_P(StorageRulesTest, ABackupCutOffMidwayIsNeverTakenForAWholeOne) {
    TIDEWELL_ONLY_ON(Embedded, kFolderBackups);
    const auto service = StartService();
    service->AddUser("demo", "demo1234", "데모");
    WebFolderTestClient client(*service);
    for (int day = 1; day <= 3; ++day) {
        ASSERT_TRUE(client
                        .Upload("demo", "demo1234", std::string(31, 'a' + day) + "0", "상사",
                                ArchiveName(day), RandomBytes(20000, day))
                        .Ok());
    }
    const auto backup = [&](const std::string& name) {
        const ToolResult made = RunWebFolderTool(
            {"backup", "--data", service->DataFolder().string(), (dir / name).string()});
        EXPECT_EQ(made.exitCode, 0) << made.output;
        return dir / name;
    };
    // Where a kill could leave it: before the last word, with archives still missing, or
    // before the index was even copied; and a whole one whose index was changed since.
    const fs::path noWord = backup("no-word");
    fs::remove(noWord / "backup-complete");
    const fs::path missing = backup("missing");
    fs::remove(missing / "backup-complete");
    fs::remove(missing / "archives" /
               TestStore::Make(Backend::Embedded, missing)->ReadIndex().front().object);
    const fs::path early = dir / "early";
    fs::create_directory(early);
    WriteFile(early / "backup-unfinished", "");
    const fs::path changed = backup("changed");
    {
        SqliteDatabase db(changed / "webfolder.db", SQLITE_OPEN_READWRITE);
        db.Execute("DELETE FROM archives WHERE id = (SELECT MIN(id) FROM archives)");
    }
    for (const fs::path& cut : {noWord, missing, early, changed}) {
        const ToolResult serve =
            RunWebFolderTool({"serve", "--data", cut.string(), "--listen", "127.0.0.1:0"}, 20);
        EXPECT_EQ(serve.exitCode, 1) << cut << ": " << serve.output;
        EXPECT_NE(serve.output.find("backup"), std::string::npos) << serve.output;
        const ToolResult restore = RunWebFolderTool(
            {"restore-backup", "--data", (dir / "from-cut").string(), cut.string()});
        EXPECT_EQ(restore.exitCode, 1) << cut << ": " << restore.output;
        fs::remove_all(dir / "from-cut");
    }
}

}  // namespace
}  // namespace tidewell::test
