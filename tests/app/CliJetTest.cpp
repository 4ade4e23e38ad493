// Jet 4 company databases of the home platform through tidewell-cli, against the loopback
// service: carried byte for byte, never while the host holds them, never converted unasked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "CliRunner.h"
#include "HostProgram.h"
#include "JetFixture.h"
#include "company/Common.h"

namespace fs = std::filesystem;
using testing::HasSubstr;
using testing::Not;

namespace tidewell::test {
namespace {

const std::string kKey = "0123456789abcdef0123456789abcdef";

// tidewell-cli of a computer of its own, logged in as the fixture's account.
CliRunner Computer(MainFixture& f, const std::string& name) {
    CliRunner cli(f, name);
    cli.environment["TIDEWELL_USERID"] = "kim";
    cli.environment["TIDEWELL_PASSWORD"] = "pw1234";
    return cli;
}

// A Jet company goes up from one computer and down to another byte for byte, and neither side
// touches it while the host holds it: the upload is refused with nothing sent, the download
// waits with the data as it was, and the data it replaces is kept byte for byte.
TEST(CliJet, AJetCompanyTravelsByteForByteAndNeverWhileTheHostHoldsIt) {
    MainFixture f;
    const CliRunner first = Computer(f, "first");
    const CliRunner second = Computer(f, "second");
    const fs::path shop = f.core.dir / "jet-shop";
    fs::create_directories(shop);
    const std::string original = MakeJetCompany(kKey, "물결 상회");
    WriteFile(shop / "default.mdb", original);
    ASSERT_EQ(MdbSqlValue(shop / "default.mdb", "select dbkey from ver"), kKey);

    CliOutcome run = first.Run({"add", shop.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, kKey + "\n");
    {
        HostProgram host = HostProgram::JetUser(shop / "default.mdb", "ldb");
        run = first.Run({"upload", kKey});
        EXPECT_EQ(run.status, 1);
        EXPECT_THAT(run.err,
                    HasSubstr("물결 상회: 다른 프로그램이 데이터베이스를 사용하고 있습니다"));
    }
    EXPECT_TRUE(f.StoredArchives().empty()) << "nothing was sent";
    EXPECT_EQ(ReadFile(shop / "default.mdb"), original);
    run = first.Run({"upload", kKey});
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(f.StoredArchives().size(), 1u);
    EXPECT_EQ(ArchiveMember(f.StoredArchives().back(), f.core.dir / "unpacked"), original);

    const fs::path there = f.core.dir / "jet-there";
    run = second.Run({"download", kKey, "--folder", there.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFile(there / "default.mdb"), original);
    const auto row = second.ListRow(kKey);
    ASSERT_EQ(row.size(), 6u);
    EXPECT_EQ(row[1], "물결 상회");
    EXPECT_EQ(row[2], "none");
    EXPECT_EQ(row[5], there.string());

    // The first computer's newer data; the second has its copy open in the host meanwhile.
    const std::string newer = MakeJetCompany(kKey, "물결 상회 본점");
    WriteFile(shop / "default.mdb", newer);
    ASSERT_EQ(first.Run({"upload", kKey}).status, 0);
    {
        HostProgram host = HostProgram::JetUser(there / "default.mdb", "open");
        run = second.Run({"sync"});
        EXPECT_EQ(run.status, 1);
        EXPECT_THAT(run.err, HasSubstr("사용하고 있습니다"));
        EXPECT_EQ(ReadFile(there / "default.mdb"), original);
    }
    run = second.Run({"sync"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFile(there / "default.mdb"), newer);
    EXPECT_EQ(second.ListRow(kKey).at(2), "none");
    std::vector<fs::path> kept;
    for (const auto& entry : fs::directory_iterator(there / "Backup")) kept.push_back(entry.path());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(ArchiveMember(kept[0], f.core.dir / "kept"), original);
}

// Members of formats no company keeps, and damaged Jet 4 files, are refused naming what the
// archive holds (never the staging file); nothing here changes and the run goes on to the
// other companies. A Jet file where an SQLite company's data is waits for --prefer web.
TEST(CliJet, OtherFormatsAreRefusedByNameAndTheRunGoesOn) {
    MainFixture f;
    CliRunner cli = Computer(f, "home");
    const std::string company = MakeJetCompany(kKey, "물결");
    std::string flipped = company;
    flipped[4 * 4096 + 16] ^= 0x04;  // the row count in ver's definition
    const auto bytes = [](std::string member) {
        return [member](const std::string&) { return member; };
    };
    struct Case {
        const char* tag;
        std::function<std::string(const std::string& key)> member;
        const char* told;
    };
    const std::vector<Case> cases = {
        {"jet3", bytes(MakeJetHeaderVariant(false, 0)), "Jet 3 데이터베이스(옛 형식)입니다"},
        {"accdb", bytes(MakeJetHeaderVariant(true, 2)), "ACE 데이터베이스(.accdb 형식)입니다"},
        {"garbage", bytes(std::string(8192, 'x')), "데이터베이스가 아닌 파일입니다"},
        {"cut", bytes(company.substr(0, 3 * 4096 + 100)), "Jet 4 데이터베이스"},
        {"flipped", bytes(flipped), "Jet 4 데이터베이스의 ver 테이블을 읽을 수 없습니다"},
        // The company's own data, as a Jet 4 file where its SQLite database is.
        {"engine", [](const std::string& key) { return MakeJetCompany(key, "물결"); },
         "복원할 자료(Jet 4 데이터베이스)가 이 컴퓨터의 자료(SQLite 데이터베이스)와"},
    };
    std::vector<std::string> before;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const fs::path folder = f.MakeCompany(cases[i].tag, cases[i].tag, kOlder);
        cli.Register(static_cast<int>(i), folder, cases[i].tag);
        before.push_back(ReadFile(folder / "default.mdb"));
    }
    const fs::path good = f.MakeCompany("good", "good", kOlder);
    cli.Register(static_cast<int>(cases.size()), good, "good");
    // This computer and the web folder agree first; then the web folder's side changes.
    ASSERT_EQ(cli.Run({"sync"}).status, 0);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string key = ReadCompanyKey((f.core.dir / cases[i].tag).string());
        f.PutInWebFolder(key, cases[i].member(key), kNewer, cases[i].tag);
    }
    const fs::path goodElsewhere = f.core.dir / "good-elsewhere";
    fs::create_directories(goodElsewhere);
    fs::copy_file(good / "default.mdb", goodElsewhere / "default.mdb");
    ExecCompanySql(goodElsewhere.string(), "DELETE FROM inventory");
    f.PutInWebFolder(ReadCompanyKey(good.string()), ReadFile(goodElsewhere / "default.mdb"), kNewer,
                     "good");

    CliOutcome run = cli.Run({"sync"});
    EXPECT_EQ(run.status, 1);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].tag);
        EXPECT_THAT(run.err, HasSubstr(std::string(cases[i].tag) + ": "));
        EXPECT_THAT(run.err, HasSubstr(cases[i].told));
        EXPECT_EQ(ReadFile(f.core.dir / cases[i].tag / "default.mdb"), before[i]);
    }
    EXPECT_THAT(run.err, HasSubstr("20240302090000.bck의 default.mdb"));
    EXPECT_THAT(run.err, Not(HasSubstr(".restoring"))) << run.err;
    EXPECT_THAT(run.err, HasSubstr("--prefer web"));
    EXPECT_EQ(ReadFile(good / "default.mdb"), ReadFile(goodElsewhere / "default.mdb"));

    const std::string engineKey = ReadCompanyKey((f.core.dir / "engine").string());
    run = cli.Run({"download", engineKey, "--prefer", "web"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(MdbSqlValue(f.core.dir / "engine" / "default.mdb", "select dbkey from ver"),
              engineKey);
}

}  // namespace
}  // namespace tidewell::test
