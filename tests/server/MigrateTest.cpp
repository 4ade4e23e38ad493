// Moving an embedded data folder into PostgreSQL and the object store: accounts, companies,
// archives, the order they arrived in and what each account is charged, all the same after.
#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>

#include "ArchiveBytes.h"
#include "Engines.h"
#include "WebFolderTestClient.h"

namespace fs = std::filesystem;

namespace tidewell::test {
namespace {

// An archive's bytes read through the back end's reader, as a download's reply reads them.
std::string ReadThrough(webfolder::ArchiveBytes& bytes, const IndexRow& row) {
    class Waiter : public webfolder::ReadWaiter {
    public:
        void Suspend() override {
            std::lock_guard lock(mutex_);
            ready_ = false;
        }
        void Resume() override {
            {
                std::lock_guard lock(mutex_);
                ready_ = true;
            }
            changed_.notify_all();
        }
        void Wait() {
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, std::chrono::seconds(30), [this] { return ready_; });
        }

    private:
        std::mutex mutex_;
        std::condition_variable changed_;
        bool ready_ = true;
    };
    const auto waiter = std::make_shared<Waiter>();
    const auto reader = bytes.Open({row.name, row.size, row.object, {}});
    std::string out;
    std::vector<char> buffer(256 * 1024);
    while (static_cast<std::int64_t>(out.size()) < reader->Size()) {
        const std::int64_t got = reader->Read(out.size(), buffer.data(), buffer.size(), waiter);
        if (got < 0) break;
        if (got == 0) {
            waiter->Wait();
            continue;
        }
        out.append(buffer.data(), static_cast<std::size_t>(got));
    }
    return out;
}

std::string Name(int day, int hour) {
    char name[32];
    std::snprintf(name, sizeof name, "202403%02d%02d0000.bck", day, hour);
    return name;
}

TEST(Migrate, ADataFolderMovesWholeInTheOrderItArrivedAndServesTheSame) {
    TIDEWELL_REQUIRE_ENGINES();
    TempDir dir;
    const fs::path data = dir / "data";
    struct Shop {
        std::string id, password, name;
        std::optional<std::int64_t> days, quota;
        std::vector<std::string> companies;
    };
    const std::vector<Shop> shops{
        {"kim", "pw-kim", "김 사장", 365, 1000000000, {kKey1, kKey2, std::string(32, 'c')}},
        {"lee",
         "이 암호",
         "이 상회",
         std::nullopt,
         500000000,
         {std::string(32, 'b'), std::string(32, 'd')}},
        {"park", "pw-park", "박", 0, std::nullopt, {std::string(32, 'e')}}};
    // 50 archives over six companies, kept all (append-only), their names out of time order so
    // that the order they arrived in is what tells the newest.
    std::map<std::pair<std::string, std::string>, std::string> contents;  // (account, name)
    std::map<std::string, std::map<std::string, std::string>> latest;     // account -> key -> name
    std::map<std::string, TextReply> before;
    {
        WebFolderService embedded(data, {"--append-only"});
        for (const Shop& shop : shops) {
            embedded.AddUser(shop.id, shop.password, shop.name, shop.days, shop.quota);
        }
        WebFolderTestClient client(embedded);
        // The ended period refuses uploads: park's archives arrive before it ends.
        embedded.AddUser("park", "pw-park", "박", 30);
        int stored = 0;
        for (int round = 0; stored < 50; ++round) {
            for (const Shop& shop : shops) {
                for (std::size_t c = 0; c < shop.companies.size() && stored < 50; ++c) {
                    const std::string name =
                        Name(20 - round, static_cast<int>((c * 7 + round) % 24));
                    const std::string bytes =
                        RandomBytes(1000 + static_cast<std::size_t>(stored) * 9000, stored);
                    ASSERT_TRUE(client
                                    .Upload(shop.id, shop.password, shop.companies[c],
                                            "상사 " + std::to_string(c), name, bytes)
                                    .Ok());
                    contents[{shop.id, name}] = bytes;
                    latest[shop.id][shop.companies[c]] = name;
                    ++stored;
                }
            }
        }
        embedded.AddUser("park", "pw-park", "박", 0);
        for (const Shop& shop : shops) {
            before[shop.id + "profile"] = client.Command("userprofile", shop.id, shop.password);
            before[shop.id + "usage"] = client.Command("diskusage", shop.id, shop.password);
            before[shop.id + "list"] = client.Command("companylist", shop.id, shop.password);
        }
        // Not while it serves: the copy would mix two moments.
        const auto target = TestStore::Make(Backend::Distributed, dir / "refused");
        const auto& to = target->Location().arguments;
        const ToolResult busy = RunWebFolderTool(
            {"migrate", "--data", data.string(), "--to-index", to[1], "--to-archives", to[3]});
        EXPECT_EQ(busy.exitCode, 1) << busy.output;
        EXPECT_NE(busy.output.find("another tidewell-webfolder"), std::string::npos) << busy.output;
        EXPECT_FALSE(target->Open()->Index().FindAccount("kim"));
    }

    const auto target = TestStore::Make(Backend::Distributed, dir / "spool");
    const auto& to = target->Location().arguments;
    const std::vector<std::string> migrate{"migrate",    "--data",  data.string(),
                                           "--to-index", to[1],     "--to-archives",
                                           to[3],        "--spool", to[5]};
    // An archive cut short stops the move before the index takes anything; once it is whole
    // again the same command moves everything.
    const auto rows = TestStore::Make(Backend::Embedded, data)->ReadIndex();
    ASSERT_EQ(rows.size(), 50u);
    const fs::path damaged = data / "archives" / rows[7].object;
    const std::string whole = ReadFile(damaged);
    WriteFile(damaged, whole.substr(0, whole.size() / 2));
    const ToolResult cut = RunWebFolderTool(migrate, 120);
    EXPECT_EQ(cut.exitCode, 1) << cut.output;
    EXPECT_NE(cut.output.find("fsck"), std::string::npos) << cut.output;
    EXPECT_FALSE(target->Open()->Index().FindAccount("kim"));
    WriteFile(damaged, whole);
    const ToolResult moved = RunWebFolderTool(migrate, 120);
    ASSERT_EQ(moved.exitCode, 0) << moved.output;
    EXPECT_NE(moved.output.find("moved 3 accounts, 6 companies and 50 archives"), std::string::npos)
        << moved.output;
    EXPECT_EQ(RunWebFolderTool(migrate, 60).exitCode, 1) << "a second move into a full index";

    // Every archive, read through the new back end, byte for byte.
    const auto backend = target->Open();
    const auto index = target->ReadIndex();
    ASSERT_EQ(index.size(), 50u);
    for (const IndexRow& row : index) {
        const auto account = std::find_if(shops.begin(), shops.end(), [&](const Shop& shop) {
            return std::find(shop.companies.begin(), shop.companies.end(), row.companyKey) !=
                       shop.companies.end() &&
                   contents.count({shop.id, row.name}) != 0;
        });
        ASSERT_NE(account, shops.end()) << row.name;
        EXPECT_TRUE((ReadThrough(backend->Bytes(), row) == contents[{account->id, row.name}]))
            << row.object;
    }

    // The service on the new place answers as the old one did: logins with the same
    // passwords, profiles, usage, company order, and the newest by arrival for download.
    const auto service = std::make_unique<WebFolderService>(
        target->Location(), std::vector<std::string>{"--append-only"});
    WebFolderTestClient client(*service);
    for (const Shop& shop : shops) {
        for (const char* command : {"profile", "usage", "list"}) {
            const std::string word = std::string(command) == "profile" ? "userprofile"
                                     : std::string(command) == "usage" ? "diskusage"
                                                                       : "companylist";
            EXPECT_EQ(client.Command(word, shop.id, shop.password).body,
                      before[shop.id + command].body)
                << shop.id << " " << word;
        }
        for (const std::string& key : shop.companies) {
            const auto download = client.Download(shop.id, shop.password, key);
            ASSERT_TRUE(download);
            EXPECT_EQ(download->get_header_value("Content-Disposition"),
                      "attachment; filename=\"" + latest[shop.id][key] + "\"");
            EXPECT_TRUE((download->body == contents[{shop.id, latest[shop.id][key]}]));
        }
    }
    // New archives go on after the moved ones.
    ASSERT_TRUE(client.Upload("kim", "pw-kim", kKey1, "상사", Name(1, 1), "after the move").Ok());
    EXPECT_EQ(client.Download("kim", "pw-kim", kKey1)->body, "after the move");
    target->ExpectConsistent();
}

}  // namespace
}  // namespace tidewell::test
