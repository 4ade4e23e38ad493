// tidewell-cli schedule: the systemd user units it writes, what it asks of systemctl, and
// removing them again. The runs see a private XDG_CONFIG_HOME and a systemctl of the test's
// own (or none), so the real user manager is never touched.
#include <gtest/gtest.h>

#include "CliRunner.h"
#include "DesktopSession.h"

namespace fs = std::filesystem;

namespace tidewell::test {
namespace {

void WriteScript(const fs::path& file, const std::string& text) {
    WriteFile(file, "#!/bin/sh\n" + text);
    fs::permissions(file, fs::perms::owner_all);
}

// systemd-analyze verify of the units in system mode: their syntax, the timer's calendar,
// the unit it starts and the program it runs. Empty when all is well.
std::string SystemdVerdict(const fs::path& folder) {
    ChildProcess verify({"systemd-analyze", "verify", (folder / "tidewell-sync.timer").string(),
                         (folder / "tidewell-sync.service").string()},
                        {"PATH=/usr/bin:/bin", "SYSTEMD_LOG_COLOR=0"}, "", folder / "verify.out",
                        folder / "verify.err");
    const int status = verify.Wait();
    const std::string errors = ReadFile(folder / "verify.err");
    return status == 0 && errors.empty() ? "" : "status " + std::to_string(status) + ": " + errors;
}

TEST(CliSchedule, InstallWritesUnitsSystemdAcceptsAndRemoveTakesThemAway) {
    MainFixture f;
    CliRunner cli(f);
    const fs::path units = cli.config / "systemd" / "user";
    const fs::path timer = units / "tidewell-sync.timer", service = units / "tidewell-sync.service";

    // No systemctl on PATH: the units are written and the user is told how to switch them on;
    // the timer is not on, so the command did not do all it was asked.
    CliOutcome run = cli.Run({"schedule", "install", "--daily", "18:45"});
    ASSERT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.out.find("systemctl --user enable --now tidewell-sync.timer"), std::string::npos)
        << run.out;
    EXPECT_NE(run.err.find("tidewell-cli login"), std::string::npos) << "no login kept yet";
    const std::string timerText = ReadFile(timer), serviceText = ReadFile(service);
    EXPECT_NE(timerText.find("\nOnCalendar=*-*-* 18:45:00\n"), std::string::npos) << timerText;
    EXPECT_NE(timerText.find("\nPersistent=true\n"), std::string::npos);
    // The shops of one service spread over half an hour, each at its own fixed moment.
    EXPECT_NE(timerText.find("\nRandomizedDelaySec=30min\nFixedRandomDelay=true\n"),
              std::string::npos)
        << timerText;
    EXPECT_NE(timerText.find("\nWantedBy=timers.target\n"), std::string::npos);
    EXPECT_NE(serviceText.find("\nExecStart=" + fs::canonical(TIDEWELL_CLI_PROGRAM).string() +
                               " sync --wait --scheduled\n"),
              std::string::npos)
        << serviceText;
    EXPECT_NE(serviceText.find("\nEnvironment=\"XDG_CONFIG_HOME=" + cli.config.string() + "\"\n"),
              std::string::npos)
        << "the scheduled run finds the same settings and login";
    if (fs::exists("/usr/bin/systemd-analyze") || fs::exists("/bin/systemd-analyze")) {
        EXPECT_EQ(SystemdVerdict(units), "");
    }
    run = cli.Run({"schedule", "status"});
    EXPECT_EQ(run.status, 1) << run.err;  // written, but off
    EXPECT_NE(run.out.find("예약이 꺼져 있어 실행되지 않습니다"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("예약: 매일 18:45"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("마지막 실행: 아직 없습니다"), std::string::npos) << run.out;

    // A systemctl that works: the manager is reloaded, the timer enabled and started.
    WriteScript(cli.bin / "systemctl",
                "echo \"$*\" >> \"$HOME/systemctl.log\"\n"
                "case \"$*\" in\n"
                "  *'show tidewell-sync.timer'*)\n"
                "    echo ActiveState=active; echo NextElapseUSecRealtime=Mon 2030-01-07 "
                "21:00:00 KST ;;\n"
                "  *'show tidewell-sync.service'*) echo ActiveState=inactive ;;\n"
                "esac\n");
    run = cli.Run({"schedule", "install", "--hourly", "--spread", "10"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(ReadFile(timer).find("\nOnCalendar=hourly\n"), std::string::npos);
    EXPECT_NE(ReadFile(timer).find("\nRandomizedDelaySec=10min\n"), std::string::npos);
    std::string calls = ReadFile(cli.home / "systemctl.log");
    EXPECT_NE(calls.find("--user daemon-reload\n--user enable --now tidewell-sync.timer\n"),
              std::string::npos)
        << calls;
    run = cli.Run({"schedule", "status"});
    EXPECT_NE(run.out.find("예약: 매시 정각"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("다음 실행: Mon 2030-01-07 21:00:00 KST"), std::string::npos) << run.out;

    run = cli.Run({"schedule", "remove"});
    ASSERT_EQ(run.status, 0) << run.err;
    calls = ReadFile(cli.home / "systemctl.log");
    EXPECT_NE(calls.find("--user disable --now tidewell-sync.timer\n"), std::string::npos) << calls;
    EXPECT_FALSE(fs::exists(timer));
    EXPECT_FALSE(fs::exists(service));
    EXPECT_EQ(cli.Run({"schedule", "status"}).status, 1);

    // A failing systemctl (no user manager): remove still takes the units away.
    WriteScript(cli.bin / "systemctl",
                "echo 'Failed to connect to bus: No medium found' >&2\nexit 1\n");
    ASSERT_EQ(cli.Run({"schedule", "install", "--spread", "0"}).status, 1);
    EXPECT_NE(ReadFile(timer).find("\nOnCalendar=*-*-* 21:00:00\n"), std::string::npos);
    EXPECT_EQ(ReadFile(timer).find("RandomizedDelaySec"), std::string::npos);
    run = cli.Run({"schedule", "remove"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(fs::exists(timer));
    EXPECT_NE(cli.Run({"schedule", "remove"}).out.find("예약된 백업이 없습니다"),
              std::string::npos);

    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{"schedule", "install", "--daily", "24:00"},
          {"schedule", "install", "--daily", "7:30"},
          {"schedule", "install", "--daily", "07:30", "--hourly"},
          {"schedule", "status", "--hourly"},
          {"schedule", "install", "--spread", "721"},
          {"schedule", "install", "--spread", "-5"},
          {"schedule", "install", "--hourly", "--spread", "60"},
          {"schedule", "status", "--spread", "5"},
          {"schedule", "start"},
          {"list", "--scheduled"}}) {
        EXPECT_EQ(cli.Run(wrong).status, 2) << wrong.back();
    }
}

}  // namespace
}  // namespace tidewell::test
