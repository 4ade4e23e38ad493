// tidewell-cli, driven through its command line against the loopback service.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <sstream>

#include "MainTestSupport.h"
#include "company/Common.h"
#include "company/LocalCompanyList.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

using test::kNewer;
using test::kOlder;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
protected:
    CliTest() : hive(f.core.dir / "xdg" / "QuenlowBarcode" / "registry.db") {}

    // Arguments are quoted for the shell; the tests use none with a single quote.
    CliRun Cli(const std::vector<std::string>& args, const std::string& password = "pw1234") {
        const fs::path dir = f.core.dir.path();
        std::string command = "env TIDEWELL_USERID=kim TIDEWELL_PASSWORD='" + password +
                              "' XDG_CONFIG_HOME='" + (dir / "xdg").string() + "' TMPDIR='" +
                              (dir / "tmp").string() + "' TIDEWELL_SERVICE_URL='" +
                              f.service.BaseUrl() + "' '" + TIDEWELL_CLI_PROGRAM + "'";
        for (const auto& arg : args) command += " '" + arg + "'";
        command += " </dev/null >'" + (dir / "cli.out").string() + "' 2>'" +
                   (dir / "cli.err").string() + "'";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::ReadFile(dir / "cli.out"),
                test::ReadFile(dir / "cli.err")};
    }

    void Register(int slot, const fs::path& folder, const std::string& name) {
        auto key = *hive.OpenKey(kProgramKey, true);
        key.WriteString(CompanySlotValue(slot, "Key"), ReadCompanyKey(folder.string()));
        key.WriteString(CompanySlotValue(slot, "Name"), name);
        key.WriteString(CompanySlotValue(slot, "Path"), folder.string());
    }

    static std::vector<std::vector<std::string>> Rows(const std::string& out) {
        std::vector<std::vector<std::string>> rows;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            std::vector<std::string> fields;
            std::istringstream cells(line);
            for (std::string cell; std::getline(cells, cell, '\t');) fields.push_back(cell);
            rows.push_back(fields);
        }
        return rows;
    }

    test::MainFixture f;
    SettingsHive hive;
};

TEST_F(CliTest, AccountListAndSyncInBothDirections) {
    // "내려받기" is newer in the web folder; "올리기" exists only here.
    const std::string downKey = f.MakeWebCompany("내려받기", kNewer);
    const auto down = f.MakeCompany("down", "내려받기", kOlder);
    ExecCompanySql(down.string(), "update [ver] set dbkey = '" + downKey + "'");
    SetFileModifiedTime((down / "default.mdb").string(), kOlder);
    const auto up = f.MakeCompany("up", "올리기", kNewer, 300);
    Register(0, down, "내려받기");
    Register(1, up, "올리기");

    CliRun run = Cli({"account"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("사용자명: 김철수\n웹폴더사용량: ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("사용기한: "), std::string::npos);

    run = Cli({"list"});
    ASSERT_EQ(run.status, 0) << run.err;
    auto rows = Rows(run.out);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{downKey, "내려받기", "download",
                                                 "2024-03-01 09:00:00", "2024-03-02 09:00:00",
                                                 down.string()}));
    EXPECT_EQ(rows[1][1], "올리기");
    EXPECT_EQ(rows[1][2], "upload");
    EXPECT_EQ(rows[1][4], "-");

    run = Cli({"sync"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("자료를 전송중입니다..."), std::string::npos);  // progress

    run = Cli({"list"});
    ASSERT_EQ(run.status, 0) << run.err;
    rows = Rows(run.out);
    ASSERT_EQ(rows.size(), 2u);
    for (const auto& row : rows) {
        EXPECT_EQ(row[2], "none") << row[1];
        EXPECT_EQ(row[3], row[4]) << row[1];
    }
    run = Cli({"sync"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("전송할 사업장이 없습니다."), std::string::npos);
}

TEST_F(CliTest, DownloadIntoANewFolderAddAndRemove) {
    const std::string key = f.MakeWebCompany("가게", kNewer);
    const fs::path target = f.core.dir / "new place";
    CliRun run = Cli({"download", key});
    EXPECT_EQ(run.status, 1);  // no folder yet
    run = Cli({"download", key, "--folder", target.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadCompanyKey(target.string()), key);

    const auto other = f.MakeCompany("other", "다른 가게", kOlder);
    run = Cli({"add", other.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, ReadCompanyKey(other.string()) + "\n");
    run = Cli({"add", (f.core.dir / "nothing").string()});
    EXPECT_EQ(run.status, 1);

    run = Cli({"remove", key});  // no --yes and no terminal: not removed
    EXPECT_EQ(run.status, 1);
    run = Cli({"remove", key, "--yes"});
    ASSERT_EQ(run.status, 0) << run.err;
    run = Cli({"list"});
    EXPECT_EQ(run.out.find(key), std::string::npos);
    EXPECT_TRUE(fs::exists(target / "default.mdb"));  // folders are never touched
}

TEST_F(CliTest, ExitStatusForRefusalsUsageAndFailures) {
    EXPECT_EQ(Cli({"list"}, "wrong").status, 3);
    EXPECT_EQ(Cli({}).status, 2);
    EXPECT_EQ(Cli({"frobnicate"}).status, 2);
    EXPECT_EQ(Cli({"upload"}).status, 2);
    EXPECT_EQ(Cli({"list", "--yes"}).status, 2);
    const CliRun unknown = Cli({"upload", "0123456789abcdef0123456789abcdef"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("0123456789abcdef0123456789abcdef"), std::string::npos);
}

}  // namespace
}  // namespace tidewell
