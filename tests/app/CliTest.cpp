// tidewell-cli, driven through its command line against the loopback service.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <sstream>

#include "MainTestSupport.h"
#include "TestServers.h"
#include "company/BackupCompany.h"
#include "company/Common.h"
#include "company/LocalCompanyList.h"
#include "gateway/TidewellGateway.h"

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

    // The command line of one run; arguments are quoted for the shell (the tests use none with
    // a single quote). Output goes to cli<tag>.out and cli<tag>.err.
    std::string Command(const std::vector<std::string>& args, const std::string& password,
                        const std::string& tag = "") {
        const fs::path dir = f.core.dir.path();
        std::string command = "exec env TIDEWELL_USERID=kim TIDEWELL_PASSWORD='" + password +
                              "' XDG_CONFIG_HOME='" + (dir / "xdg").string() + "' TMPDIR='" +
                              (dir / "tmp").string() + "' XDG_RUNTIME_DIR='" +
                              (dir / "run").string() + "' TIDEWELL_SERVICE_URL='" +
                              f.service.BaseUrl() + "' '" + TIDEWELL_CLI_PROGRAM + "'";
        for (const auto& arg : args) command += " '" + arg + "'";
        return command + " </dev/null >'" + (dir / ("cli" + tag + ".out")).string() + "' 2>'" +
               (dir / ("cli" + tag + ".err")).string() + "'";
    }

    CliRun Cli(const std::vector<std::string>& args, const std::string& password = "pw1234") {
        const int status = std::system(Command(args, password).c_str());
        return Result(status);
    }

    // A run in the background, for signals; its pid is the program's own.
    pid_t Start(const std::vector<std::string>& args, const std::string& tag = "") {
        const std::string command = Command(args, "pw1234", tag);
        const pid_t pid = fork();
        if (pid == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    }

    CliRun Finish(pid_t pid, const std::string& tag = "") {
        int status = 0;
        waitpid(pid, &status, 0);
        return Result(status, tag);
    }

    CliRun Result(int status, const std::string& tag = "") const {
        const fs::path dir = f.core.dir.path();
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
                test::ReadFile(dir / ("cli" + tag + ".out")),
                test::ReadFile(dir / ("cli" + tag + ".err"))};
    }

    // Waits until the run's progress names a stage.
    void AwaitProgress(const std::string& text, const std::string& tag = "") {
        const fs::path err = f.core.dir / ("cli" + tag + ".err");
        for (int i = 0; i < 3000; ++i) {
            if (fs::exists(err) && test::ReadFile(err).find(text) != std::string::npos) return;
            usleep(2000);
        }
        FAIL() << "no progress: " << text;
    }

    std::vector<fs::path> WorkingFiles() const {
        std::vector<fs::path> files;
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(f.core.WorkFolder(), ignored)) {
            if (entry.path().filename() != ".lock") files.push_back(entry.path());
        }
        return files;
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
    // Never agreed here, and the times differ: which side stays is the user's word.
    EXPECT_EQ(rows[0], (std::vector<std::string>{downKey, "내려받기", "conflict download",
                                                 "2024-03-01 09:00:00", "2024-03-02 09:00:00",
                                                 down.string()}));
    EXPECT_EQ(rows[1][1], "올리기");
    EXPECT_EQ(rows[1][2], "upload");
    EXPECT_EQ(rows[1][4], "-");

    run = Cli({"sync", "--prefer", "web"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("자료를 전송중입니다..."), std::string::npos);  // progress
    EXPECT_NE(run.err.find("\n전송을 마쳤습니다. (전송 2)\n"), std::string::npos) << run.err;

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

// A transfer logs in once and asks the service for nothing it does not use: the disk usage is
// asked for only where it is shown.
TEST_F(CliTest, ATransferLogsInOnceAndAsksOnlyWhatItUses) {
    Register(0, f.MakeCompany("up", "올리기", kNewer, 300), "올리기");
    const auto count = [&](const std::string& command) {
        const std::string log = f.service.LogText();
        std::size_t n = 0;
        for (std::size_t at = 0; (at = log.find(command, at)) != std::string::npos; ++at) ++n;
        return n;
    };
    CliRun run = Cli({"sync"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(count("userprofile"), 1u) << f.service.LogText();
    EXPECT_EQ(count("diskusage"), 0u);
    run = Cli({"account"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(count("diskusage"), 1u);
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

// A branch computer holds only its own company: a plain sync sends it, passes the account's other
// company over (named once, not a failure). Its folder unplugged, the company is listed as missing
// and never downloaded; forgetting it here keeps the web folder's archives.
TEST_F(CliTest, ABranchComputerSendsItsOwnAndPassesTheOthersOver) {
    f.MakeWebCompany("본점", kNewer);
    const auto branch = f.MakeCompany("branch", "강남 지점", kOlder);
    const std::string key = ReadCompanyKey(branch.string());
    Register(0, branch, "강남 지점");
    CliRun run = Cli({"sync"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto first = run.err.find("본점");
    ASSERT_NE(first, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("본점", first + 1), std::string::npos) << run.err;
    EXPECT_EQ(Rows(Cli({"list"}).out).at(1).at(2), "none");

    const fs::path unplugged = f.core.dir / "unplugged";
    fs::rename(branch, unplugged);
    auto rows = Rows(Cli({"list"}).out);
    EXPECT_EQ(rows.at(1), (std::vector<std::string>{key, "강남 지점", "missing", "-",
                                                    rows.at(1).at(4), branch.string()}));
    run = Cli({"sync"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(branch.string()), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(branch));

    ASSERT_EQ(Cli({"forget", key, "--yes"}).status, 0);
    rows = Rows(Cli({"list"}).out);
    EXPECT_EQ(rows.at(1).at(2), "download");  // the web folder's archives stay
    EXPECT_FALSE(hive.OpenKey(kProgramKey, true)->ValueExists("Company00Path"));
    EXPECT_TRUE(fs::exists(unplugged / "default.mdb"));
}

// --help is the answer on standard output; a command line that can't be run is one Korean line
// and a hint on standard error, status 2.
TEST_F(CliTest, HelpGoesToStandardOutputAndAUsageErrorIsOneLineAndAHint) {
    CliRun run = Cli({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("사용법: tidewell-cli", 0), 0u) << run.out;
    EXPECT_EQ(run.err, "");
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{"frobnicate"},
                                                  {"sync", "--prefer", "both"},
                                                  {"forget"},
                                                  {"list", "--folder"}}) {
        run = Cli(wrong);
        EXPECT_EQ(run.status, 2) << wrong.front();
        EXPECT_EQ(run.out, "");
        const auto lines = std::count(run.err.begin(), run.err.end(), '\n');
        EXPECT_EQ(lines, 2) << run.err;
        EXPECT_NE(run.err.find("\n사용법은 tidewell-cli --help로 볼 수 있습니다.\n"),
                  std::string::npos)
            << run.err;
    }
}

// Both sides changed since they last agreed: passed over unless the user says which to keep;
// the way back to the state before the download then goes through history and restore.
TEST_F(CliTest, BothSidesChangedNeedsAPreferenceAndHistoryGoesBack) {
    const auto a = f.MakeCompany("a", "가게", kOlder, 200);
    const std::string key = ReadCompanyKey(a.string());
    Register(0, a, "가게");
    ASSERT_EQ(Cli({"sync"}).status, 0);
    // Another computer sends newer data; this one changed too.
    f.UploadFromElsewhere(a, kNewer + 1, "delete from inventory where rowid < 50");
    ExecCompanySql(a.string(), "delete from inventory where rowid > 150");
    SetFileModifiedTime((a / "default.mdb").string(), kNewer);

    EXPECT_EQ(Rows(Cli({"list"}).out).at(0).at(2), "conflict download");
    CliRun run = Cli({"sync"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("--prefer"), std::string::npos) << run.err;
    EXPECT_EQ(Rows(Cli({"list"}).out).at(0).at(2), "conflict download");  // nothing moved
    run = Cli({"sync", "--prefer", "web"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(OpenCompanyQuery(a.string(), "select count(*) from inventory").AsInteger(0), 151);

    run = Cli({"history", key});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto history = Rows(run.out);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0][1], "2024-03-02 09:00:00");  // the time of the data it holds
    run = Cli({"restore", key, fs::path(history[0][0]).filename().string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(OpenCompanyQuery(a.string(), "select count(*) from inventory").AsInteger(0), 150);
    EXPECT_EQ(Rows(Cli({"history", key}).out).size(), 2u);
    EXPECT_EQ(Rows(Cli({"list"}).out).at(0).at(2), "upload");  // the way back is a local change
    // It is this computer's newest change by its time too; without the agreement (a slot an
    // older version wrote) nothing says which side is newer: the user says it.
    for (const char* value : {"Company00Synced", "Company00SyncedFile", "Company00SyncedArchive"}) {
        hive.OpenKey(kProgramKey, true)->DeleteValue(value);
    }
    EXPECT_EQ(Rows(Cli({"list"}).out).at(0).at(2), "conflict upload");
    ASSERT_EQ(Cli({"sync", "--prefer", "local"}).status, 0);
    EXPECT_EQ(OpenCompanyQuery(a.string(), "select count(*) from inventory").AsInteger(0), 150);
    EXPECT_EQ(Rows(Cli({"list"}).out).at(0).at(2), "none");
}

// The service takes the login but refuses the company list: list shows this computer's
// companies and fails with the service's reason; sync sends nothing and fails too.
TEST_F(CliTest, ARefusedCompanyListIsAFailureWithTheServicesReason) {
    const auto a = f.MakeCompany("a", "가게", kNewer);
    Register(0, a, "가게");
    test::ListRefusingProxy proxy(f.service.BaseUrl(), "계정 정보가 바뀌었습니다.");
    CliRun run = Cli({"--service", proxy.url(), "list"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("계정 정보가 바뀌었습니다."), std::string::npos) << run.err;
    EXPECT_EQ(Rows(run.out).at(0).at(5), a.string());
    run = Cli({"--service", proxy.url(), "sync"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("계정 정보가 바뀌었습니다."), std::string::npos) << run.err;
    EXPECT_EQ(f.service.LogText().find("gwupload"), std::string::npos);
}

// The same folder added three times is one company in one slot; the later adds say so.
TEST_F(CliTest, AFolderAddedAgainChangesNothing) {
    const auto a = f.MakeCompany("a", "가게", kOlder);
    const std::string key = ReadCompanyKey(a.string());
    for (int i = 0; i < 3; ++i) {
        const CliRun run = Cli({"add", a.string()});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, key + "\n");
        EXPECT_EQ(run.err.find("이미 추가된 사업장입니다") != std::string::npos, i > 0) << run.err;
    }
    auto program = *hive.OpenKey(kProgramKey, true);
    EXPECT_EQ(program.ReadString("Company00Path"), a.string());
    EXPECT_FALSE(program.ValueExists("Company01Path"));
}

// The first company of a sync is refused (the web folder holds another company's data under
// its key); the two after it are sent all the same, and the run fails naming the refused one.
TEST_F(CliTest, ARefusedCompanyIsNamedAndTheOthersStillGo) {
    const auto a = f.MakeCompany("a", "가게 가", kOlder, 200);
    const std::string key = ReadCompanyKey(a.string());
    Register(0, a, "가게 가");
    TBackupCompany pack(f.core.WorkFolder().string());
    pack.SourceFolder = f.MakeCompany("stranger", "남의 가게", kNewer, 50).string();
    std::string archive;
    pack.Backup("", archive);
    TAnswerList answer;
    ASSERT_TRUE(TTidewellGateway(f.service.BaseUrl())
                    .UploadFile("kim", "pw1234", key, "가게 가", archive, answer));
    Register(1, f.MakeCompany("b", "가게 나", kNewer), "가게 나");
    Register(2, f.MakeCompany("c", "가게 다", kNewer), "가게 다");

    const CliRun run = Cli({"sync", "--prefer", "web"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("가게 가: 복원할 자료가 다른 사업장(남의 가게)의 자료여서"),
              std::string::npos)
        << run.err;
    const auto rows = Rows(Cli({"list"}).out);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][2], "conflict download");  // still the mix-up: nothing was replaced
    EXPECT_EQ(rows[1][2], "none");
    EXPECT_EQ(rows[2][2], "none");
}

// Another company's data served under this company's key (a mixed-up service, or anyone on a
// plain-HTTP path): nothing is replaced, both companies are named, the run fails, and the
// company keeps its folder in the list.
TEST_F(CliTest, AnotherCompanysDataUnderThisKeyIsRefused) {
    const auto a = f.MakeCompany("a", "가게", kOlder, 200);
    const std::string key = ReadCompanyKey(a.string());
    Register(0, a, "가게");
    ASSERT_EQ(Cli({"sync"}).status, 0);
    const auto stranger = f.MakeCompany("stranger", "남의 가게", kNewer, 50);
    TBackupCompany pack(f.core.WorkFolder().string());
    pack.SourceFolder = stranger.string();
    std::string archive;
    pack.Backup("", archive);
    TAnswerList answer;
    ASSERT_TRUE(TTidewellGateway(f.service.BaseUrl())
                    .UploadFile("kim", "pw1234", key, "가게", archive, answer));
    const std::string before = test::ReadFile(a / "default.mdb");

    const CliRun run = Cli({"sync"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("가게: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("다른 사업장(남의 가게)"), std::string::npos) << run.err;
    EXPECT_EQ(test::ReadFile(a / "default.mdb"), before);
    EXPECT_EQ(Rows(Cli({"list"}).out).at(0).at(5), a.string());
}

// A shop in a time zone with daylight saving time edits its data in the hour that repeats when
// the clocks go back: on the wall clock the change is earlier than the agreement, yet the
// scheduled sync sends it instead of taking the web folder's older data over it.
TEST_F(CliTest, AChangeInTheRepeatedHourIsSentNotOverwritten) {
    const test::ScopedEnvironment berlin("TZ", "Europe/Berlin");
    tzset();
    const auto a = f.MakeCompany("a", "가게", kOlder, 200);
    const std::string database = (a / "default.mdb").string();
    const auto stamp = [&](std::time_t utc) {
        const timespec times[2] = {{0, UTIME_OMIT}, {utc, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, database.c_str(), times, 0), 0);
    };
    Register(0, a, "가게");
    stamp(1729989900);  // 2024-10-27 02:45 summer time (00:45 UTC)
    ASSERT_EQ(Cli({"sync"}).status, 0);
    ExecCompanySql(a.string(), "delete from inventory where rowid < 20");
    stamp(1729992600);  // 02:30 again, winter time (01:30 UTC): 45 minutes later
    const auto rows = Rows(Cli({"list"}).out);
    EXPECT_EQ(rows.at(0).at(2), "upload");
    EXPECT_EQ(rows.at(0).at(3), "2024-10-27 02:30:00");
    EXPECT_EQ(rows.at(0).at(4), "2024-10-27 02:45:00");
    ASSERT_EQ(Cli({"sync", "--scheduled"}).status, 0);
    EXPECT_EQ(OpenCompanyQuery(a.string(), "select count(*) from inventory").AsInteger(0), 181);
    EXPECT_EQ(Rows(Cli({"list"}).out).at(0).at(4), "2024-10-27 02:30:00");
}

// Two runs that upload two companies at nearly the same time, as the window and a scheduled
// sync would: each company's web-folder copy holds its own database.
TEST_F(CliTest, TwoRunsAtOnceNeverMixCompanies) {
    const auto a = f.MakeCompany("a", "가게 가", kNewer, 20000);
    const auto b = f.MakeCompany("b", "가게 나", kNewer, 20000);
    const std::string keyA = ReadCompanyKey(a.string()), keyB = ReadCompanyKey(b.string());
    Register(0, a, "가게 가");
    Register(1, b, "가게 나");
    for (const int gapMs : {50, 300}) {
        SetFileModifiedTime((a / "default.mdb").string(), kNewer + gapMs);
        SetFileModifiedTime((b / "default.mdb").string(), kNewer + gapMs);
        const pid_t first = Start({"upload", keyA}, "a");
        usleep(gapMs * 1000);
        const pid_t second = Start({"upload", keyB}, "b");
        const CliRun runA = Finish(first, "a"), runB = Finish(second, "b");
        EXPECT_EQ(runA.status, 0) << runA.err;
        EXPECT_EQ(runB.status, 0) << runB.err;
    }
    TTidewellUser elsewhere(f.AccountSetup());
    ASSERT_TRUE(elsewhere.Login("kim", "pw1234"));
    elsewhere.LoadCompanies();
    ASSERT_EQ(elsewhere.CompanyCount(), 2);
    for (int i = 0; i < 2; ++i) {
        const auto company = elsewhere.GetCompany(i);
        company->LocalPath = (f.core.dir / ("copy" + std::to_string(i))).string();
        elsewhere.DownloadCompany(company->CompanyKey);
        EXPECT_EQ(ReadCompanyString(company->LocalPath, "select legalname from userinfo"),
                  company->CompanyKey == keyA ? "가게 가" : "가게 나");
    }
    EXPECT_TRUE(WorkingFiles().empty());
}

TEST_F(CliTest, AStopSignalEndsTheRunCleanly) {
    const auto a = f.MakeCompany("a", "가게", kNewer, 60000);
    Register(0, a, "가게");
    const std::string before = test::ReadFile(a / "default.mdb");
    for (const int signal : {SIGINT, SIGTERM}) {
        const pid_t run = Start({"upload", ReadCompanyKey(a.string())});
        AwaitProgress("백업중입니다");
        kill(run, signal);
        const CliRun stopped = Finish(run);
        EXPECT_EQ(stopped.status, 128 + signal) << stopped.err;
        EXPECT_NE(stopped.err.find("작업을 취소했습니다."), std::string::npos);
        EXPECT_TRUE(WorkingFiles().empty());
    }
    EXPECT_EQ(test::ReadFile(a / "default.mdb"), before);
    EXPECT_EQ(Cli({"list"}).out.find("\tnone\t"), std::string::npos);  // nothing went up
}

// A download killed at any point, then run again: nothing of the killed run is left, and every
// safety archive in the company's folder is whole.
TEST_F(CliTest, KilledDownloadsLeaveNothingOnceRunAgain) {
    const std::string key = f.MakeWebCompany("가게", kNewer);
    const auto local = f.MakeCompany("local", "가게", kOlder, 30000);
    ExecCompanySql(local.string(), "update [ver] set dbkey = '" + key + "'");
    SetFileModifiedTime((local / "default.mdb").string(), kOlder);
    Register(0, local, "가게");
    for (const int delayMs : {0, 150, 400}) {
        const pid_t run = Start({"download", key, "--prefer", "web"});
        AwaitProgress("전송");
        usleep(delayMs * 1000);
        kill(run, SIGKILL);
        Finish(run);
        SetFileModifiedTime((local / "default.mdb").string(), kOlder);  // in case it got through
    }
    const CliRun again = Cli({"download", key, "--prefer", "web"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(WorkingFiles().empty());
    for (const auto& entry : fs::recursive_directory_iterator(local)) {
        const std::string name = entry.path().filename().string();
        EXPECT_FALSE(name.ends_with(".restoring") || name.find(".partial-") != std::string::npos)
            << name;
        if (entry.path().extension() == ".bck") {
            TBackupFile reader;
            EXPECT_TRUE(reader.Restore(entry.path().string(), (f.core.dir / "check").string()))
                << name;
        }
    }
}

}  // namespace
}  // namespace tidewell
