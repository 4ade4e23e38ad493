#include <gtest/gtest.h>

#include "WebFolderTestClient.h"

namespace fs = std::filesystem;

namespace tidewell::test {
namespace {

class TransferTest : public WebFolderFixture {
protected:
    std::int64_t Cost(std::int64_t size) const { return store->Cost(size); }
};
TIDEWELL_ON_EVERY_BACKEND(TransferTest);

TEST_P(TransferTest, UploadShowsInCompanyInfoListAndUsage) {
    const std::string first = RandomBytes(70000, 1);
    const TextReply upload = client->Upload("demo", "demo1234", kKey1, "가나다 상사",
                                            ClientPath("20240102103000.bck"), first);
    ASSERT_TRUE(upload.Ok()) << upload.body;
    ASSERT_TRUE(client
                    ->Upload("demo", "demo1234", kKey2, "라마 상회", "20231231235959.bck",
                             RandomBytes(5000, 2))
                    .Ok());

    const TextReply list = client->Command("companylist", "demo", "demo1234");
    EXPECT_EQ(list.Number("CompanyCount"), 2);
    EXPECT_EQ(list.Value("C000"), kKey1);
    EXPECT_EQ(list.Value("C001"), kKey2);

    const TextReply info = client->Command("companyinfo", "demo", "demo1234", kKey1);
    ASSERT_TRUE(info.Ok()) << info.body;
    EXPECT_EQ(info.Value("CompanyKey"), kKey1);
    EXPECT_EQ(info.Value("CompanyName"), "가나다 상사");
    EXPECT_EQ(info.Value("LatestFile"), "20240102103000.bck");
    EXPECT_EQ(info.Number("LatestFileSize"), 70000);
    EXPECT_GT(info.Number("Created"), 0);

    EXPECT_EQ(client->Command("diskusage", "demo", "demo1234").Number("DiskUsed"),
              Cost(70000) + Cost(5000) + 2 * kCompanyCharge);
    // Another account sees none of it.
    service->AddUser("other", "pw-other", "다른 사용자");
    EXPECT_EQ(client->Command("companylist", "other", "pw-other").Number("CompanyCount"), 0);
    EXPECT_FALSE(client->Command("companyinfo", "other", "pw-other", kKey1).Ok());
    store->ExpectConsistent();
}

TEST_P(TransferTest, KeepsTheThreeArchivesStoredLast) {
    const char* names[] = {"20240101090000.bck", "20240102090000.bck", "20240103090000.bck",
                           "20240104090000.bck"};
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(client
                        ->Upload("demo", "demo1234", kKey1, "상사", ClientPath(names[i]),
                                 RandomBytes(1000 * (i + 1), i))
                        .Ok());
    }
    std::vector<std::string> kept;
    for (const IndexRow& row : store->ReadIndex()) kept.push_back(row.name);
    EXPECT_EQ(kept, (std::vector<std::string>{names[1], names[2], names[3]}));
    EXPECT_EQ(store->StoredObjects().size(), 3u);
    EXPECT_EQ(client->Command("diskusage", "demo", "demo1234").Number("DiskUsed"),
              Cost(2000) + Cost(3000) + Cost(4000) + kCompanyCharge);
    EXPECT_EQ(client->Command("companyinfo", "demo", "demo1234", kKey1).Value("LatestFile"),
              names[3]);

    // Older data sent on purpose is kept and becomes the newest; the oldest stored one goes.
    ASSERT_TRUE(client->Upload("demo", "demo1234", kKey1, "상사", names[0], "old").Ok());
    EXPECT_EQ(client->Command("companyinfo", "demo", "demo1234", kKey1).Value("LatestFile"),
              names[0]);
    EXPECT_EQ(client->Command("diskusage", "demo", "demo1234").Number("DiskUsed"),
              Cost(3000) + Cost(4000) + Cost(3) + kCompanyCharge);

    // The same name again replaces that archive instead of adding one, and is the newest.
    ASSERT_TRUE(
        client->Upload("demo", "demo1234", kKey1, "새 이름", names[3], RandomBytes(10, 9)).Ok());
    EXPECT_EQ(client->Command("diskusage", "demo", "demo1234").Number("DiskUsed"),
              Cost(3000) + Cost(3) + Cost(10) + kCompanyCharge);
    const TextReply info = client->Command("companyinfo", "demo", "demo1234", kKey1);
    EXPECT_EQ(info.Value("LatestFile"), names[3]);
    EXPECT_EQ(info.Number("LatestFileSize"), 10);
    EXPECT_EQ(info.Value("CompanyName"), "새 이름");
    store->ExpectConsistent();
}

TEST_P(TransferTest, EndedPeriodRefusesUploadsButNotDownloads) {
    ASSERT_TRUE(
        client->Upload("demo", "demo1234", kKey1, "상사", "20240102103000.bck", "data").Ok());
    service->AddUser("demo", "demo1234", "데모 사용자", 0);
    const TextReply refused =
        client->Upload("demo", "demo1234", kKey1, "상사", "20240103103000.bck", "more");
    EXPECT_FALSE(refused.Ok());
    EXPECT_FALSE(refused.Value("MESSAGE").empty());
    const auto download = client->Download("demo", "demo1234", kKey1);
    ASSERT_TRUE(download);
    EXPECT_EQ(download->body, "data");
    store->ExpectConsistent();
}

TEST_P(TransferTest, QuotaCountsWhatAnUploadReplacesOrPushesOut) {
    // Room for one company and one block's archive.
    service->AddUser("demo", "demo1234", "데모 사용자", std::nullopt, Cost(1000) + kCompanyCharge);
    ASSERT_TRUE(
        client
            ->Upload("demo", "demo1234", kKey1, "상사", "20240101000000.bck", std::string(600, 'a'))
            .Ok());
    const TextReply over = client->Upload("demo", "demo1234", kKey2, "상회", "20240101000000.bck",
                                          std::string(401, 'b'));
    EXPECT_FALSE(over.Ok());
    EXPECT_FALSE(over.Value("MESSAGE").empty());
    // Replacing the 600 bytes leaves room for 1000.
    ASSERT_TRUE(client
                    ->Upload("demo", "demo1234", kKey1, "상사", "20240101000000.bck",
                             std::string(1000, 'c'))
                    .Ok());
    EXPECT_EQ(client->Command("diskusage", "demo", "demo1234").Number("DiskUsed"),
              Cost(1000) + kCompanyCharge);
    EXPECT_FALSE(client->Upload("demo", "demo1234", kKey1, "상사", "20240102000000.bck", "d").Ok());
    EXPECT_EQ(store->ReadIndex().size(), 1u);
    store->ExpectConsistent();
}

TEST_P(TransferTest, FileNamesMustEndInATimeAndNeverLeaveTheirPlace) {
    for (const char* name :
         {"../../../escaped.bck", "..\\..\\20240102103000.bck\\..", "20240102103000.bck/",
          "C:\\Temp\\20241302103000.bck", "20240102103000", "20240102103000.bck.exe", ""}) {
        const TextReply reply = client->Upload("demo", "demo1234", kKey1, "상사", name, "payload");
        EXPECT_TRUE(reply.Has("STATUS")) << name;
        EXPECT_FALSE(reply.Ok()) << name;
    }
    EXPECT_TRUE(store->ReadIndex().empty());
    EXPECT_TRUE(store->StoredObjects().empty());
    EXPECT_FALSE(fs::exists(dir / "escaped.bck"));
    EXPECT_FALSE(fs::exists(service->DataFolder().parent_path().parent_path() / "escaped.bck"));

    // The folder part of a path, dots and all, is simply dropped.
    ASSERT_TRUE(
        client->Upload("demo", "demo1234", kKey1, "상사", "..\\..\\20240102103000.bck", "x").Ok());
    EXPECT_EQ(client->Command("companyinfo", "demo", "demo1234", kKey1).Value("LatestFile"),
              "20240102103000.bck");
    store->ExpectConsistent();
}

TEST_P(TransferTest, DownloadSendsTheNewestArchiveByteForByte) {
    // The archive stored last is the newest, even when its name carries an earlier time.
    const std::string earlier = RandomBytes(1000, 3);
    const std::string newest = RandomBytes(300000, 4);
    ASSERT_TRUE(
        client->Upload("demo", "demo1234", kKey1, "상사", "20240103103000.bck", earlier).Ok());
    ASSERT_TRUE(
        client->Upload("demo", "demo1234", kKey1, "상사", "20240102103000.bck", newest).Ok());

    const auto download = client->Download("demo", "demo1234", kKey1);
    ASSERT_TRUE(download);
    EXPECT_EQ(download->status, 200);
    EXPECT_EQ(download->get_header_value("Content-Type"), "application/octet-stream");
    EXPECT_EQ(download->get_header_value("Content-Disposition"),
              "attachment; filename=\"20240102103000.bck\"");
    EXPECT_TRUE(download->body == newest);

    for (const auto& [password, key] :
         {std::pair{"demo1234", kKey2}, std::pair{"demo1234", ""}, std::pair{"wrong", kKey1}}) {
        const auto refused = client->Download("demo", password, key);
        ASSERT_TRUE(refused);
        EXPECT_FALSE(refused->has_header("Content-Disposition"));
        const TextReply reply = ToTextReply(refused);
        EXPECT_TRUE(reply.Has("STATUS"));
        EXPECT_FALSE(reply.Ok());
    }
}

TEST_P(TransferTest, DeleteCompanyRemovesItAndItsFiles) {
    ASSERT_TRUE(
        client->Upload("demo", "demo1234", kKey1, "상사", "20240101103000.bck", "one").Ok());
    ASSERT_TRUE(
        client->Upload("demo", "demo1234", kKey1, "상사", "20240102103000.bck", "two").Ok());
    ASSERT_TRUE(
        client->Upload("demo", "demo1234", kKey2, "상회", "20240102103000.bck", "three").Ok());

    EXPECT_TRUE(client->Command("deletecompany", "demo", "demo1234", kKey1).Ok());
    const TextReply list = client->Command("companylist", "demo", "demo1234");
    EXPECT_EQ(list.Number("CompanyCount"), 1);
    EXPECT_EQ(list.Value("C000"), kKey2);
    EXPECT_FALSE(client->Command("companyinfo", "demo", "demo1234", kKey1).Ok());
    EXPECT_EQ(client->Command("diskusage", "demo", "demo1234").Number("DiskUsed"),
              Cost(5) + kCompanyCharge);
    EXPECT_EQ(store->StoredObjects().size(), 1u);
    EXPECT_FALSE(client->Command("deletecompany", "demo", "demo1234", kKey1).Ok());
    store->ExpectConsistent();

    // Uploading again starts the company afresh.
    ASSERT_TRUE(
        client->Upload("demo", "demo1234", kKey1, "상사", "20240101103000.bck", "back").Ok());
    EXPECT_EQ(client->Command("companylist", "demo", "demo1234").Value("C001"), kKey1);
}

}  // namespace
}  // namespace tidewell::test
