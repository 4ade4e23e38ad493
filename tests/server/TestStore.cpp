#include "TestStore.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

#include "DataFolder.h"
#include "DistributedBackend.h"
#include "Engines.h"
#include "PgConnection.h"
#include "S3Bytes.h"
#include "S3Client.h"
#include "SystemRandom.h"
#include "platform/Sqlite.h"

namespace fs = std::filesystem;

namespace tidewell::test {
namespace {

// A data folder: SQLite and the files beside it.
class EmbeddedStore : public TestStore {
public:
    explicit EmbeddedStore(const fs::path& data)
        : TestStore(Backend::Embedded, ServiceStore::Folder(data)), data_(data) {}

    std::vector<IndexRow> ReadIndex() const override {
        SqliteDatabase db(data_ / "webfolder.db", SQLITE_OPEN_READONLY);
        auto rows = db.Prepare(
            "SELECT c.company_key, a.name, a.file, a.size FROM archives a "
            "JOIN companies c ON a.company_id = c.id ORDER BY c.company_key, a.name");
        std::vector<IndexRow> index;
        while (rows.Step()) {
            index.push_back(
                {rows.ColumnText(0), rows.ColumnText(1), rows.ColumnText(2), rows.ColumnInt(3)});
        }
        return index;
    }

    std::vector<std::string> StoredObjects() const override {
        std::vector<std::string> files;
        const fs::path root = data_ / "archives";
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (entry.is_directory() || entry.path().filename() == ".tidewell-archives") continue;
            files.push_back(fs::relative(entry.path(), root).string());
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    std::int64_t ObjectSize(const std::string& object) const override {
        std::error_code error;
        const auto size = fs::file_size(data_ / "archives" / object, error);
        return error ? -1 : static_cast<std::int64_t>(size);
    }

    std::string PasswordRecord(const std::string& userId) const override {
        SqliteDatabase db(data_ / "webfolder.db", SQLITE_OPEN_READONLY);
        auto find = db.Prepare("SELECT password FROM accounts WHERE user_id = ?");
        find.Bind(1, userId);
        return find.Step() ? find.ColumnText(0) : std::string();
    }

    std::string IndexBytes() const override {
        std::string stored;
        for (const char* file : {"webfolder.db", "webfolder.db-wal"}) {
            if (fs::exists(data_ / file)) stored += ReadFile(data_ / file);
        }
        return stored;
    }

    std::int64_t Cost(std::int64_t size) const override {
        struct statvfs st {};
        EXPECT_EQ(::statvfs((data_ / "archives").c_str(), &st), 0);
        const auto block = static_cast<std::int64_t>(st.f_frsize);
        return (size + block - 1) / block * block + webfolder::kIndexRowCharge;
    }

    std::size_t UnfinishedUploads() const override {
        std::error_code error;
        return static_cast<std::size_t>(std::distance(
            fs::directory_iterator(data_ / "uploads", error), fs::directory_iterator()));
    }

    void RemoveObject(const std::string& object) override {
        fs::remove(data_ / "archives" / object);
    }

    std::string PlantStray(const std::string& bytes) override {
        const std::string folder = fs::path(ReadIndex().front().object).parent_path().string();
        const std::string stray = folder + "/20240103120000-stray.bck";
        WriteFile(data_ / "archives" / stray, bytes);
        return "archives/" + stray;
    }

    void PlantUnfinishedUpload() override { WriteFile(data_ / "uploads" / "upload-half", "half"); }
    void FailArchiveRows(bool fail) override {
        SqliteDatabase db(data_ / "webfolder.db", SQLITE_OPEN_READWRITE);
        db.Execute(fail ? "CREATE TRIGGER test_fail BEFORE INSERT ON archives BEGIN SELECT "
                          "RAISE(ABORT, 'the disk is failing'); END"
                        : "DROP TRIGGER test_fail");
    }
    void Sweep() override {}
    std::string LostName(const std::string& object) const override {
        return "file gone: archives/" + object;
    }
    bool KeptAsOrphan(const std::string& stray) const override {
        return fs::exists(data_ / "orphans" / stray.substr(std::string("archives/").size()));
    }
    bool ComparesAtStart() const override { return true; }
    bool Shared() const override { return false; }

    std::vector<std::function<void()>> WaysToHideArchives() override {
        const fs::path archives = data_ / "archives", away = data_.parent_path() / "archives-away";
        fs::rename(archives, away);
        // Another index's archives folder, as another data folder has it.
        const fs::path other = data_.parent_path() / "other-data";
        const ToolResult made = RunWebFolderTool(
            {"adduser", "--data", other.string(), "--id", "x", "--name", "x", "--password", "x"});
        EXPECT_EQ(made.exitCode, 0) << made.output;
        return {[archives] { fs::remove_all(archives); },
                [archives] {
                    fs::remove_all(archives);
                    fs::create_directory(archives);
                },
                [archives, other] {
                    fs::remove_all(archives);
                    fs::copy(other / "archives", archives);
                }};
    }

    void RestoreArchives() override {
        fs::remove_all(data_ / "archives");
        fs::rename(data_.parent_path() / "archives-away", data_ / "archives");
    }

private:
    fs::path data_;
};

// A database of its own in the test cluster and a prefix of its own in the test bucket.
class DistributedStore : public TestStore {
public:
    DistributedStore(const fs::path& spool, const std::string& database, const std::string& uri,
                     const std::string& prefix)
        : TestStore(Backend::Distributed,
                    ServiceStore{
                        {"--index", uri, "--archives",
                         "s3://" + Engines::Get().bucket + "/" + prefix, "--spool", spool.string()},
                        {},
                        spool.parent_path() / (spool.filename().string() + ".log")}),
          spool_(spool),
          database_(database),
          uri_(uri),
          prefix_(prefix),
          client_(Engines::Get().s3, Engines::Get().bucket) {}

    ~DistributedStore() override {
        try {
            webfolder::PgConnection admin(Engines::Get().pgUri);
            admin.Exec("DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)");
            client_.ListObjects(prefix_, [&](const std::vector<webfolder::S3Object>& page) {
                for (const auto& object : page) client_.DeleteObject(object.key);
            });
            for (const auto& upload : client_.ListMultipartUploads(prefix_)) {
                client_.AbortMultipartUpload(upload.key, upload.uploadId);
            }
        } catch (const std::exception& error) {
            ADD_FAILURE() << "cannot clear the test's store: " << error.what();
        }
    }

    webfolder::PgConnection Index() const { return webfolder::PgConnection(uri_); }

    std::vector<IndexRow> ReadIndex() const override {
        const auto rows = Index().Exec(
            "SELECT c.company_key, a.name, a.object, a.size FROM archives a JOIN companies c ON "
            "a.company_id = c.id ORDER BY c.company_key, a.name");
        std::vector<IndexRow> index;
        for (int i = 0; i < rows.Rows(); ++i) {
            index.push_back({rows.Text(i, 0), rows.Text(i, 1), rows.Text(i, 2), rows.Int(i, 3)});
        }
        return index;
    }

    std::vector<std::string> StoredObjects() const override {
        std::vector<std::string> keys;
        client_.ListObjects(prefix_ + "archives/",
                            [&](const std::vector<webfolder::S3Object>& page) {
                                for (const auto& object : page) keys.push_back(object.key);
                            });
        std::sort(keys.begin(), keys.end());
        return keys;
    }

    std::int64_t ObjectSize(const std::string& object) const override {
        return client_.HeadObject(object).value_or(-1);
    }

    std::string PasswordRecord(const std::string& userId) const override {
        const auto row = Index().Exec("SELECT password FROM accounts WHERE user_id = $1", {userId});
        return row.Rows() ? row.Text(0, 0) : std::string();
    }

    std::string IndexBytes() const override {
        std::string text;
        auto index = Index();
        for (const char* table : {"accounts", "companies", "archives", "settings",
                                  "unnamed_objects", "object_reads", "login_failures"}) {
            const auto rows =
                index.Exec(std::string("SELECT string_agg(t::text, E'\\n') FROM ") + table + " t");
            text += rows.Text(0, 0) + "\n";
        }
        return text;
    }

    std::int64_t Cost(std::int64_t size) const override {
        return webfolder::Charges{4096}.Cost(size);
    }

    // Unfinished uploads are unnamed objects still in the ledger, or multipart uploads; both
    // are cleared in the background a moment after the upload ends, so wait for that.
    std::size_t UnfinishedUploads() const override {
        std::size_t left = 0;
        for (int i = 0; i < 100; ++i) {
            left = static_cast<std::size_t>(
                       Index().Exec("SELECT COUNT(*) FROM unnamed_objects").Int(0, 0)) +
                   client_.ListMultipartUploads(prefix_).size();
            std::error_code error;
            for (const auto& entry : fs::directory_iterator(spool_, error)) {
                (void)entry;
                ++left;  // spool files are unlinked at once; one with a name is a leak
            }
            if (left == 0) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return left;
    }

    void RemoveObject(const std::string& object) override { client_.DeleteObject(object); }

    std::string PlantStray(const std::string& bytes) override {
        const std::string key = prefix_ + "archives/1/20240103120000-stray.bck";
        client_.PutSmallObject(key, bytes);
        return key;
    }

    void PlantUnfinishedUpload() override {}
    void FailArchiveRows(bool fail) override {
        Index().Script(fail ? "CREATE FUNCTION test_fail() RETURNS trigger LANGUAGE plpgsql AS "
                              "$$BEGIN RAISE EXCEPTION 'the disk is failing'; END$$; CREATE "
                              "TRIGGER test_fail BEFORE INSERT ON archives FOR EACH ROW EXECUTE "
                              "FUNCTION test_fail()"
                            : "DROP TRIGGER test_fail ON archives; DROP FUNCTION test_fail()");
    }
    void Sweep() override {
        const auto backend = Open();
        dynamic_cast<webfolder::DistributedBackend&>(*backend).Objects().Sweep(0, 1000);
    }
    std::string LostName(const std::string& object) const override {
        return "object gone: " + object;
    }
    bool KeptAsOrphan(const std::string& stray) const override {
        return client_.HeadObject(prefix_ + "orphans/" + stray.substr(prefix_.size())).has_value();
    }
    bool ComparesAtStart() const override { return false; }
    bool Shared() const override { return true; }

    std::vector<std::function<void()>> WaysToHideArchives() override {
        const std::string mark = prefix_ + webfolder::S3Bytes::kMarkName;
        mark_ = client_.GetSmallObject(mark, 1024).value_or("");
        EXPECT_FALSE(mark_.empty());
        // A prefix without the mark (a typing slip, a bucket emptied), and one that another
        // index marked.
        return {[this, mark] { client_.DeleteObject(mark); },
                [this, mark] { client_.PutSmallObject(mark, "another index\n"); }};
    }

    void RestoreArchives() override {
        client_.PutSmallObject(prefix_ + webfolder::S3Bytes::kMarkName, mark_);
    }

private:
    fs::path spool_;
    std::string database_;
    std::string uri_;
    std::string prefix_;
    mutable webfolder::S3Client client_;
    std::string mark_;
};

}  // namespace

std::unique_ptr<TestStore> TestStore::Make(Backend backend, const fs::path& folder) {
    if (backend == Backend::Embedded) return std::make_unique<EmbeddedStore>(folder);
    const std::string name = "t_" + webfolder::RandomHex(6);
    {
        webfolder::PgConnection admin(Engines::Get().pgUri);
        admin.Exec("CREATE DATABASE " + name);
    }
    const std::string base = Engines::Get().pgUri;
    const std::string uri = base.substr(0, base.rfind('/') + 1) + name;
    fs::create_directories(folder);
    return std::make_unique<DistributedStore>(folder, name, uri, "t-" + name.substr(2) + "/");
}

std::unique_ptr<webfolder::Backend> TestStore::Open() const {
    webfolder::StoreLocation location;
    const auto& words = location_.arguments;
    for (std::size_t i = 0; i + 1 < words.size(); i += 2) {
        if (words[i] == "--data") location.dataFolder = words[i + 1];
        if (words[i] == "--index") location.index = words[i + 1];
        if (words[i] == "--archives") location.archives = words[i + 1];
        if (words[i] == "--spool") location.spool = words[i + 1];
    }
    return webfolder::OpenBackend(location);
}

void TestStore::ExpectConsistent() const {
    std::set<std::string> named;
    for (const IndexRow& row : ReadIndex()) {
        EXPECT_EQ(ObjectSize(row.object), row.size) << row.object;
        named.insert(row.object);
    }
    for (const std::string& object : StoredObjects()) {
        EXPECT_EQ(named.count(object), 1u) << "kept but named by no archive: " << object;
    }
    EXPECT_EQ(UnfinishedUploads(), 0u) << "an upload was left behind";
}

void BackendTest::SetUp() {
    if (GetParam() == Backend::Distributed) TIDEWELL_REQUIRE_ENGINES();
    store = TestStore::Make(GetParam(), dir / "data");
}

std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
    return info.param == Backend::Embedded ? "Embedded" : "Distributed";
}

}  // namespace tidewell::test
