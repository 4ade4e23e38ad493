// The object store's requests against the real gateway script/engines starts: what the service
// sends must be signed the way the store checks it, whatever the key, and the store's refusals
// must come back with their code.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>

#include "Engines.h"
#include "S3Client.h"
#include "SystemRandom.h"
#include "TestSupport.h"
#include "platform/FileHandle.h"

namespace tidewell::test {
namespace {

using webfolder::FileRange;
using webfolder::S3Client;
using webfolder::S3Error;

TEST(S3Request, QueriesAndPathsAreWrittenAsTheSignatureWantsThem) {
    EXPECT_EQ(S3Client::CanonicalQuery({{"uploads", ""}}), "uploads=");
    EXPECT_EQ(S3Client::CanonicalQuery(
                  {{"prefix", "a/b c"}, {"list-type", "2"}, {"continuation-token", "x+y=z"}}),
              "continuation-token=x%2By%3Dz&list-type=2&prefix=a%2Fb%20c");
    EXPECT_EQ(S3Client::EscapePath("p/한 글+=~.bck"), "p/%ED%95%9C%20%EA%B8%80%2B%3D~.bck");
}

TEST(S3Request, TheKeysComeFromAPrivateFileOrTheEnvironment) {
    TempDir dir;
    const auto file = dir / "s3.conf";
    WriteFile(file,
              "# the store\nendpoint = http://127.0.0.1:9/\nregion=default\n"
              "access_key = AK\nsecret_key = SK\n");
    ::chmod(file.c_str(), 0644);
    EXPECT_THROW(webfolder::LoadS3Config(file), Exception);
    ::chmod(file.c_str(), 0600);
    const auto config = webfolder::LoadS3Config(file);
    EXPECT_EQ(config.endpoint, "http://127.0.0.1:9");
    EXPECT_EQ(config.region, "default");
    EXPECT_EQ(config.accessKey, "AK");
    EXPECT_EQ(config.secretKey, "SK");

    WriteFile(file, "endpoint = http://127.0.0.1:9\n");
    const ScopedEnvironment access("TIDEWELL_S3_ACCESS_KEY", "from-env");
    const ScopedEnvironment secret("TIDEWELL_S3_SECRET_KEY", "secret-env");
    EXPECT_EQ(webfolder::LoadS3Config(file).accessKey, "from-env");
    WriteFile(file, "endpoint = http://127.0.0.1:9\nsecret = typo\n");
    EXPECT_THROW(webfolder::LoadS3Config(file), Exception);
    EXPECT_EQ(webfolder::ParseS3Place("s3://bucket/some/prefix").prefix, "some/prefix/");
    EXPECT_EQ(webfolder::ParseS3Place("s3://bucket").prefix, "");
}

class S3ClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        TIDEWELL_REQUIRE_ENGINES();
        client = std::make_unique<S3Client>(Engines::Get().s3, Engines::Get().bucket);
        prefix = "s3-client-" + webfolder::RandomHex(6) + "/";
    }

    // The bytes as a file the client sends from.
    FileRange Spool(const std::string& bytes) {
        WriteFile(dir / "spool", bytes);
        spool = FileHandle(::open((dir / "spool").c_str(), O_RDONLY | O_CLOEXEC));
        return {spool.get(), 0, static_cast<std::int64_t>(bytes.size())};
    }

    std::string Get(const std::string& key, std::int64_t offset, std::int64_t length) {
        std::string out(static_cast<std::size_t>(length), '\0');
        client->GetRange(key, offset, length, out.data());
        return out;
    }

    TempDir dir;
    FileHandle spool;
    std::unique_ptr<S3Client> client;
    std::string prefix;
};

TEST_F(S3ClientTest, EveryRequestTheServiceMakesIsSignedAsTheStoreChecks) {
    // Keys as an operator's prefix or a future naming could make them.
    for (const std::string name : {"plain.bck", "with space+plus=eq~.bck", "한글/깊은 곳.bck"}) {
        const std::string key = prefix + name;
        const std::string bytes = RandomBytes(300000, 1);
        client->PutObject(key, Spool(bytes), "UNSIGNED-PAYLOAD");
        EXPECT_EQ(client->HeadObject(key), 300000) << name;
        EXPECT_EQ(Get(key, 1000, 5000), bytes.substr(1000, 5000)) << name;
        client->CopyObject(key, key + ".copy");
        EXPECT_EQ(Get(key + ".copy", 0, 300000), bytes) << name;
    }
    std::set<std::string> listed;
    client->ListObjects(prefix, [&](const auto& page) {
        for (const auto& object : page) listed.insert(object.key.substr(prefix.size()));
    });
    EXPECT_EQ(listed,
              (std::set<std::string>{"plain.bck", "plain.bck.copy", "with space+plus=eq~.bck",
                                     "with space+plus=eq~.bck.copy", "한글/깊은 곳.bck",
                                     "한글/깊은 곳.bck.copy"}));

    // Multipart: a part of the minimum size, then the last one; reads across their border.
    const std::string big = RandomBytes(5 * 1024 * 1024 + 70000, 2);
    const FileRange whole = Spool(big);
    const std::string key = prefix + "multi part.bck";
    const std::string id = client->CreateMultipartUpload(key);
    const auto uploads = client->ListMultipartUploads(prefix);
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].key, key);
    EXPECT_EQ(uploads[0].uploadId, id);
    const std::int64_t first = 5 * 1024 * 1024;
    std::vector<std::pair<int, std::string>> parts;
    parts.emplace_back(1, client->UploadPart(key, id, 1, {whole.fd, 0, first}, "UNSIGNED-PAYLOAD"));
    parts.emplace_back(
        2, client->UploadPart(key, id, 2, {whole.fd, first, 70000}, "UNSIGNED-PAYLOAD"));
    client->CompleteMultipartUpload(key, id, parts);
    EXPECT_TRUE(client->ListMultipartUploads(prefix).empty());
    EXPECT_EQ(Get(key, first - 10, 20), big.substr(first - 10, 20));
    EXPECT_EQ(client->HeadObject(key), static_cast<std::int64_t>(big.size()));

    // One that is given up leaves nothing behind.
    const std::string abandoned = client->CreateMultipartUpload(prefix + "abandoned");
    client->AbortMultipartUpload(prefix + "abandoned", abandoned);
    EXPECT_TRUE(client->ListMultipartUploads(prefix).empty());

    client->PutSmallObject(prefix + "mark", "id\n");
    EXPECT_EQ(client->GetSmallObject(prefix + "mark", 100), "id\n");
    client->ListObjects(prefix, [&](const auto& page) {
        for (const auto& object : page) client->DeleteObject(object.key);
    });
    EXPECT_FALSE(client->HeadObject(key));
    EXPECT_FALSE(client->GetSmallObject(prefix + "mark", 100));
    EXPECT_NO_THROW(client->DeleteObject(key));  // gone already: still fine
}

TEST_F(S3ClientTest, RefusalsComeBackWithTheStoresCodeAndStoreNothing) {
    // A body that does not match the hash it was signed with is not stored.
    const std::string key = prefix + "mismatch.bck";
    try {
        client->PutObject(key, Spool("abc"),
                          "0000000000000000000000000000000000000000000000000000000000000000");
        ADD_FAILURE() << "stored";
    } catch (const S3Error& error) {
        EXPECT_EQ(error.Code(), "XAmzContentSHA256Mismatch") << error.what();
    }
    EXPECT_FALSE(client->HeadObject(key));

    try {
        char out[10];
        client->GetRange(prefix + "missing", 0, 10, out);
        ADD_FAILURE() << "read";
    } catch (const S3Error& error) {
        EXPECT_EQ(error.HttpStatus(), 404);
    }

    auto wrong = Engines::Get().s3;
    wrong.secretKey += "x";
    S3Client forger(wrong, Engines::Get().bucket);
    try {
        forger.PutSmallObject(prefix + "forged", "x");
        ADD_FAILURE() << "stored with a wrong key";
    } catch (const S3Error& error) {
        EXPECT_EQ(error.HttpStatus(), 403);
        EXPECT_EQ(error.Code(), "SignatureDoesNotMatch") << error.what();
    }
}

}  // namespace
}  // namespace tidewell::test
