// tidewell-cli login and logout: the password kept in the desktop's keyring (a Secret Service
// on a private session bus) or, on a computer without one and only when asked, in a file.
#include <gtest/gtest.h>

#include <cctype>

#include "CliRunner.h"
#include "DesktopSession.h"

namespace fs = std::filesystem;

namespace tidewell::test {
namespace {

fs::path LoginFile(const CliRunner& cli) {
    return cli.config / "QuenlowBarcode" / "tidewell-cli-login";
}

TEST(CliLogin, TheKeyringKeepsThePasswordForLaterRunsUntilLogout) {
    MainFixture f;
    CliRunner cli(f);
    PrivateSessionBus bus(cli.home / "bus");
    if (bus.Address().empty()) GTEST_SKIP() << "dbus-daemon did not start";
    TestKeyring keyring(bus, cli.home);
    if (!keyring.Ready()) GTEST_SKIP() << "gnome-keyring-daemon did not start";
    cli.environment["DBUS_SESSION_BUS_ADDRESS"] = bus.Address();
    cli.Register(0, f.MakeCompany("shop", "가게", kOlder), "가게");

    EXPECT_EQ(cli.Run({"login", "kim"}, "wrong\n").status, 3);  // checked first: nothing kept
    EXPECT_FALSE(fs::exists(LoginFile(cli)));

    CliOutcome run = cli.Run({"login", "kim"}, "pw1234\n");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string record = ReadFile(LoginFile(cli));
    EXPECT_NE(record.find("UserID=kim\n"), std::string::npos) << record;
    EXPECT_EQ(record.find("pw1234"), std::string::npos) << "the password is in the keyring only";

    // Neither TIDEWELL_USERID nor TIDEWELL_PASSWORD: both come from what login kept.
    run = cli.Run({"list"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\t가게\t"), std::string::npos) << run.out;

    // The entry names the service and the ID: another ID or another service finds nothing.
    cli.environment["TIDEWELL_USERID"] = "lee";
    EXPECT_EQ(cli.Run({"list"}).status, 2);
    cli.environment["TIDEWELL_USERID"] = "kim";
    const std::string sameHostOtherName = "http://localhost:" + std::to_string(f.service.Port());
    EXPECT_EQ(cli.Run({"--service", sameHostOtherName, "list"}).status, 2);
    EXPECT_EQ(cli.Run({"list"}).status, 0);
    cli.environment.erase("TIDEWELL_USERID");

    run = cli.Run({"logout"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(fs::exists(LoginFile(cli)));
    cli.environment["TIDEWELL_USERID"] = "kim";
    run = cli.Run({"list"});
    EXPECT_EQ(run.status, 2) << "the keyring's entry went too";
    EXPECT_NE(run.err.find("kim의 비밀번호가 저장되어 있지 않습니다"), std::string::npos)
        << run.err;
}

TEST(CliLogin, WithoutAKeyringOnlyAFileOfTheUsersOwnAndOnlyWhenAskedFor) {
    MainFixture f;
    CliRunner cli(f);
    cli.Register(0, f.MakeCompany("shop", "가게", kOlder), "가게");

    // A headless box: no session bus at all.
    cli.environment.erase("DBUS_SESSION_BUS_ADDRESS");
    // The libraries' own English (two lower-case words in a row) stays out of the Korean text.
    // (std::regex is avoided: GCC 12 warns inside it in the sanitizer build.)
    const auto english = [](const std::string& text) {
        const auto letter = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; };
        const auto lower = [](char c) { return c >= 'a' && c <= 'z'; };
        for (std::size_t space = 3; space + 3 < text.size(); ++space) {
            if (text[space] != ' ') continue;
            if (letter(text[space - 1]) && letter(text[space - 2]) && letter(text[space - 3]) &&
                lower(text[space + 1]) && lower(text[space + 2]) && lower(text[space + 3])) {
                return true;
            }
        }
        return false;
    };
    CliOutcome run = cli.Run({"login", "kim"}, "pw1234\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("--file"), std::string::npos) << run.err;
    EXPECT_FALSE(english(run.err)) << run.err;
    EXPECT_FALSE(fs::exists(LoginFile(cli)));
    // A session bus, but nothing on it keeps secrets.
    PrivateSessionBus bus(cli.home / "bus");
    if (!bus.Address().empty()) {
        cli.environment["DBUS_SESSION_BUS_ADDRESS"] = bus.Address();
        run = cli.Run({"login", "kim"}, "pw1234\n");
        EXPECT_EQ(run.status, 1);
        EXPECT_FALSE(english(run.err)) << run.err;
        EXPECT_FALSE(fs::exists(LoginFile(cli)));
    }

    EXPECT_EQ(cli.Run({"login", "kim", "--file"}, "wrong\n").status, 3);
    EXPECT_FALSE(fs::exists(LoginFile(cli)));
    run = cli.Run({"login", "kim", "--file"}, "pw1234\n");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("암호화하지 않은 채"), std::string::npos) << run.err;
    EXPECT_EQ(fs::status(LoginFile(cli)).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    run = cli.Run({"list"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\t가게\t"), std::string::npos);

    // Once others can read it, the password is no secret and is not used.
    fs::permissions(LoginFile(cli), fs::perms::group_read, fs::perm_options::add);
    run = cli.Run({"list"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("다른 사용자도 읽을 수"), std::string::npos) << run.err;

    run = cli.Run({"logout"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(fs::exists(LoginFile(cli)));
    EXPECT_EQ(cli.Run({"list"}).status, 2);
}

}  // namespace
}  // namespace tidewell::test
