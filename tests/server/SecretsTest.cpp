#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "RawConnection.h"
#include "WebFolderTestClient.h"
#include "platform/CodePage.h"

namespace fs = std::filesystem;

namespace tidewell::test {
namespace {

class SecretsTest : public WebFolderFixture {};
TIDEWELL_ON_EVERY_BACKEND(SecretsTest);

unsigned Mode(const fs::path& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// The log's line for the request whose text holds `marker`, split into its fields; a quoted
// value stays one field, escapes and all.
std::vector<std::string> LogFieldsOf(const std::string& log, const std::string& marker) {
    const auto at = log.find(marker);
    if (at == std::string::npos) return {};
    const auto begin = log.rfind('\n', at) + 1;
    const std::string line = log.substr(begin, log.find('\n', at) - begin);
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && quoted) {
            fields.back() += line.substr(i, 2);
            ++i;
        } else if (line[i] == '"') {
            quoted = !quoted;
            fields.back() += '"';
        } else if (line[i] == ' ' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += line[i];
        }
    }
    return fields;
}

int CountStartingWith(const std::vector<std::string>& fields, const std::string& prefix) {
    int count = 0;
    for (const auto& field : fields) count += field.rfind(prefix, 0) == 0 ? 1 : 0;
    return count;
}

TEST_P(SecretsTest, TheDataFolderIsPrivateAndOlderModesAreTightened) {
    TIDEWELL_ONLY_ON(Embedded, "no data folder: uploads are spooled to files no one can open");
    ASSERT_TRUE(client->Upload("demo", "demo1234", kKey1, "상사", "20240101000000.bck", "x").Ok());
    ASSERT_EQ(service->Stop(), 0);
    const fs::path data = service->DataFolder();
    // As an older version, or a careless copy, left them.
    for (const auto& entry : fs::recursive_directory_iterator(data)) {
        ::chmod(entry.path().c_str(), entry.is_directory() ? 0755 : 0644);
    }
    ::chmod(data.c_str(), 0755);

    WebFolderService again(data);
    EXPECT_EQ(Mode(data), 0700u);
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(data)) {
        EXPECT_EQ(Mode(entry.path()), entry.is_directory() ? 0700u : 0600u) << entry.path();
        files += entry.is_regular_file() ? 1 : 0;
    }
    EXPECT_GE(files, 4);  // the database, its -wal and -shm, the archive
    EXPECT_NE(again.LogText().find("private to the service's user"), std::string::npos);
}

TEST_P(SecretsTest, AddUserTakesThePasswordFromTheEnvironmentOrStandardInput) {
    const std::vector<std::string> base = store->Command(
        "adduser", {"--name", "이름", "--password-iterations", kTestPasswordIterations});
    auto with = [&](std::initializer_list<std::string> extra) {
        auto arguments = base;
        arguments.insert(arguments.end(), extra);
        return arguments;
    };

    ToolRun fromInput;
    fromInput.input = "입력 암호\n";
    const ToolResult input = RunWebFolderTool(with({"--id", "input"}), fromInput);
    EXPECT_EQ(input.exitCode, 0) << input.output;
    EXPECT_TRUE(client->Command("userprofile", "input", "입력 암호").Ok());

    ToolRun fromEnvironment;
    fromEnvironment.environment = {"TIDEWELL_WEBFOLDER_PASSWORD=env-secret"};
    fromEnvironment.input = "ignored\n";
    EXPECT_EQ(RunWebFolderTool(with({"--id", "env"}), fromEnvironment).exitCode, 0);
    EXPECT_TRUE(client->Command("userprofile", "env", "env-secret").Ok());

    const ToolResult none = RunWebFolderTool(with({"--id", "none"}));
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.output.find("TIDEWELL_WEBFOLDER_PASSWORD"), std::string::npos) << none.output;

    // Still accepted, with a warning, for scripts that have not moved on yet.
    const ToolResult old = RunWebFolderTool(with({"--id", "old", "--password", "visible"}));
    EXPECT_EQ(old.exitCode, 0);
    EXPECT_NE(old.output.find("warning"), std::string::npos) << old.output;
}

TEST_P(SecretsTest, OlderHashesAreUpgradedAtTheNextLogin) {
    // New records take the full count.
    ToolRun run;
    run.environment = {"TIDEWELL_WEBFOLDER_PASSWORD=strong"};
    ASSERT_EQ(
        RunWebFolderTool(store->Command("adduser", {"--id", "new", "--name", "새 사용자"}), run)
            .exitCode,
        0);
    EXPECT_EQ(store->PasswordRecord("new").rfind("pbkdf2-sha256$600000$", 0), 0u);

    ASSERT_EQ(service->Stop(), 0);
    WebFolderService stronger(store->Location(), {"--password-iterations", "2000"});
    stronger.AddUser("kim", "pw-kim", "김");  // made with 1000
    WebFolderTestClient kim(stronger);
    const std::string before = store->PasswordRecord("kim");
    ASSERT_EQ(before.rfind("pbkdf2-sha256$1000$", 0), 0u);

    EXPECT_FALSE(kim.Command("userprofile", "kim", "wrong").Ok());
    EXPECT_EQ(store->PasswordRecord("kim"), before);
    EXPECT_TRUE(kim.Command("userprofile", "kim", "pw-kim").Ok());
    EXPECT_EQ(store->PasswordRecord("kim").rfind("pbkdf2-sha256$2000$", 0), 0u);
    EXPECT_TRUE(kim.Command("companylist", "kim", "pw-kim").Ok());
    EXPECT_FALSE(kim.Command("companylist", "kim", "pw-kim2").Ok());
}

TEST_P(SecretsTest, FailedLoginsSlowTheAccountDown) {
    service->AddUser("kim", "pw-kim", "김");
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(
            client->Command("userprofile", "demo", "guess" + std::to_string(i)).Value("MESSAGE"),
            "아이디 또는 비밀번호가 올바르지 않습니다.");
    }
    const TextReply sixth = client->Command("userprofile", "demo", "guess5");
    EXPECT_NE(sixth.Value("MESSAGE").find("1초 후"), std::string::npos) << sixth.body;
    // While the account waits even its password is refused, unchecked; others are not held up.
    const TextReply waiting = client->Command("userprofile", "demo", "demo1234");
    EXPECT_FALSE(waiting.Ok());
    EXPECT_NE(waiting.Value("MESSAGE").find("초 후"), std::string::npos);
    EXPECT_TRUE(client->Command("userprofile", "kim", "pw-kim").Ok());

    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_TRUE(client->Command("userprofile", "demo", "demo1234").Ok());
    const std::string log = service->LogText();
    EXPECT_NE(log.find("account=demo status=200 bytes="), std::string::npos);
    EXPECT_NE(log.find("login=failed wait=1"), std::string::npos) << log;
    EXPECT_NE(log.find("login=refused wait=1"), std::string::npos) << log;
}

std::string Profile(const std::string& id, const std::string& password) {
    return FormRequest(
        "/tidewellweb/gateway.asp",
        EncodeForm({{"cmd", "userprofile"}, {"userid", id}, {"password", password}}));
}

TEST_P(SecretsTest, AGuesserElsewhereNeverLocksTheOwnerOut) {
    // Someone who knows the ID guesses from another address until he is locked out himself.
    std::string last;
    for (int i = 0; i < 12; ++i) {
        last = Exchange(service->Port(), Profile("demo", "guess" + std::to_string(i)), "127.0.4.1");
    }
    EXPECT_NE(last.find("STATUS=1\r\n"), std::string::npos);
    EXPECT_NE(Exchange(service->Port(), Profile("demo", "demo1234"), "127.0.4.1")
                  .find(Utf8ToAnsi("초 후")),
              std::string::npos)
        << "locked: even the right password is refused there";
    // The owner's scheduled sync goes on.
    EXPECT_TRUE(client->Command("userprofile", "demo", "demo1234").Ok());

    // An ID longer than any account's is refused before anything is looked up or kept.
    const std::string huge(15000, 'u');
    for (int i = 0; i < 30; ++i) {
        EXPECT_NE(Exchange(service->Port(), Profile(huge + std::to_string(i), "x"), "127.0.4.2")
                      .find("STATUS=1\r\n"),
                  std::string::npos);
    }
    EXPECT_NE(service->LogText().find("account=" + std::string(64, 'u') + "..."),
              std::string::npos);
}

class SecretsTiming : public BackendTest {};
TIDEWELL_ON_EVERY_BACKEND(SecretsTiming);

TEST_P(SecretsTiming, AWrongPasswordCostsTheSameForAnOldRecordAsForAnUnknownUser) {
    const auto service = StartService({"--password-iterations", "400000"});
    service->AddUser("old", "pw-old", "예전 기록");  // made with far fewer iterations
    auto seconds = [&](const std::string& id, const std::string& from) {
        const auto start = std::chrono::steady_clock::now();
        Exchange(service->Port(), Profile(id, "wrong"), from);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    double unknown = 0, old = 0;
    for (int i = 0; i < 3; ++i) {
        unknown += seconds("nobody", "127.0.6." + std::to_string(i + 1));
        old += seconds("old", "127.0.7." + std::to_string(i + 1));
    }
    EXPECT_GT(old, unknown / 2) << old << " s against " << unknown << " s";
}

TEST_P(SecretsTest, PasswordsCompareAsTheBytesReceived) {
    service->AddUser("q", "pa?ss", "물음표");
    // 0xFF is no CP949 byte; a lenient reading would turn it into the "?" of the password.
    EXPECT_FALSE(
        client->PostForm("/tidewellweb/gateway.asp", "cmd=userprofile&userid=q&password=pa%FFss")
            .Ok());
    EXPECT_FALSE(
        client->PostForm("/tidewellweb/gateway.asp", "cmd=userprofile&userid=%FF&password=pa%3Fss")
            .Ok());
    EXPECT_TRUE(
        client->PostForm("/tidewellweb/gateway.asp", "cmd=userprofile&userid=q&password=pa%3Fss")
            .Ok());
}

TEST_P(SecretsTest, ClientTextCannotFakeLogFields) {
    const std::string fake = "x account=admin status=200 result=0 file=20240101000000.bck";
    EXPECT_FALSE(client->Upload("demo", "demo1234", kKey1, "상사", fake, "data").Ok());
    EXPECT_FALSE(client->Command("userprofile", "demo\r\n2024-01-01T00:00:00Z forged", "x").Ok());
    ASSERT_EQ(service->Stop(), 0);
    const std::string log = service->LogText();

    const auto upload = LogFieldsOf(log, "gwupload.asp");
    EXPECT_EQ(CountStartingWith(upload, "account="), 1) << log;
    EXPECT_EQ(CountStartingWith(upload, "status="), 1);
    EXPECT_EQ(CountStartingWith(upload, "result="), 1);
    EXPECT_EQ(CountStartingWith(upload, "file="), 1);
    EXPECT_NE(std::find(upload.begin(), upload.end(), "file=\"" + fake + "\""), upload.end());

    EXPECT_EQ(log.find("\nforged"), std::string::npos);
    EXPECT_EQ(log.find("\n2024-01-01T00:00:00Z forged"), std::string::npos);
    EXPECT_NE(log.find("account=\"demo\\x0D\\x0A2024-01-01T00:00:00Z forged\""), std::string::npos)
        << log;
}

}  // namespace
}  // namespace tidewell::test
