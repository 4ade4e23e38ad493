// The window's logic with Jet 4 company databases of the home platform.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "JetFixture.h"
#include "MainTestSupport.h"
#include "archive/backup.h"
#include "company/Common.h"

namespace fs = std::filesystem;
using testing::HasSubstr;
using testing::Not;

namespace tidewell::test {
namespace {

// A company folder holding database as its default.mdb.
fs::path Folder(MainFixture& f, const std::string& name, const std::string& database) {
    const fs::path folder = f.core.dir / name;
    fs::create_directories(folder);
    WriteFile(folder / "default.mdb", database);
    return folder;
}

// A Jet folder is added under the key and name its database holds; one without a key (or
// without the company's tables) is refused, saying why, and nothing is registered.
TEST(MainAdd, AJetFolderIsAddedByItsKeyAndOneWithoutAKeyIsRefused) {
    MainFixture f;
    f.LogIn();
    struct Case {
        const char* folder;
        std::string database;
        const char* told;
    };
    const std::vector<Case> refused = {
        {"no-key", MakeJetCompany(std::nullopt, "키 없는 가게"), "사업장 키가 없습니다"},
        {"reference", ReadFile(JetReferenceFile()), "사업장 정보(ver 테이블)가 없습니다"},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.folder);
        f.core.ui.boxes.clear();
        f.form->AddCompanyFolder(Folder(f, c.folder, c.database).string());
        ASSERT_EQ(f.Messages().size(), 1u);
        EXPECT_EQ(f.Messages()[0].rfind("사업장 추가: ", 0), 0u) << f.Messages()[0];
        EXPECT_THAT(f.Messages()[0], HasSubstr(c.told));
        EXPECT_THAT(f.Messages()[0], Not(HasSubstr("다른 프로그램"))) << "no wait helps here";
        EXPECT_FALSE(f.ProgramKey().ValueExists("Company00Path"));
        EXPECT_EQ(ReadFile(f.core.dir / c.folder / "default.mdb"), c.database);
    }

    const std::string key = "00112233445566778899aabbccddeeff";
    f.core.ui.boxes.clear();
    f.form->AddCompanyFolder(Folder(f, "jet", MakeJetCompany(key, "물결 상회")).string());
    EXPECT_TRUE(f.Messages().empty());
    ASSERT_EQ(f.form->RowCount(), 1);
    EXPECT_EQ(f.form->Row(0).Company->CompanyKey, key);
    EXPECT_EQ(f.form->Row(0).Company->CompanyName, "물결 상회");
    EXPECT_EQ(f.form->Row(0).Company->SyncMode, smUpload);
}

// The web folder holds the company's data as a Jet 4 file where this computer has an SQLite
// database: the download asks first, naming both, with No the default; No keeps the data here,
// Yes puts the Jet file in place with the SQLite data kept in the safety archive.
TEST(MainTransfer, ADownloadOfTheOtherJetOrSqliteEngineAsksFirstAndNoKeepsTheData) {
    MainFixture f;
    const fs::path folder = f.MakeCompany("shop", "가게", kOlder);
    f.Register(0, folder, "가게");
    const std::string key = ReadCompanyKey(folder.string());
    const std::string here = ReadFile(folder / "default.mdb");
    f.LogIn();
    f.form->btnSyncSelectedClick();  // this computer and the web folder agree first
    const std::string jet = MakeJetCompany(key, "가게");
    f.PutInWebFolder(key, jet, kNewer, "jet");
    f.form->RefreshCompanyList();
    ASSERT_EQ(f.form->Row(0).Company->SyncMode, smDownload);

    f.core.ui.boxes.clear();
    f.core.ui.answers = {MessageResult::No};
    f.form->btnSyncSelectedClick();
    ASSERT_EQ(f.core.ui.boxes.size(), 2u) << "the question, then the summary";
    const MessageBoxRequest& question = f.core.ui.boxes[0];
    EXPECT_THAT(question.text, HasSubstr("Jet 4 데이터베이스"));
    EXPECT_THAT(question.text, HasSubstr("SQLite 데이터베이스"));
    EXPECT_EQ(question.buttons, MessageButtons::YesNo);
    EXPECT_EQ(question.defaultButton, MessageResult::No);
    // The user's No passes the company over; it is no failure to report.
    EXPECT_EQ(f.core.ui.boxes[1].text.rfind("전송을 마쳤습니다. (건너뜀 1)", 0), 0u)
        << f.core.ui.boxes[1].text;
    EXPECT_THAT(f.core.ui.boxes[1].text, HasSubstr(": 데이터베이스 형식을 바꾸지 않기로"));
    EXPECT_EQ(ReadFile(folder / "default.mdb"), here);
    EXPECT_FALSE(fs::exists(folder / "Backup"));

    f.core.ui.boxes.clear();
    f.core.ui.answers = {MessageResult::Yes};
    f.form->btnSyncSelectedClick();
    EXPECT_EQ(f.core.ui.boxes.size(), 2u) << "the question, then the summary";
    EXPECT_EQ(ReadFile(folder / "default.mdb"), jet);
    EXPECT_EQ(f.form->Row(0).Company->SyncMode, smNone);
    std::vector<fs::path> kept;
    for (const auto& entry : fs::directory_iterator(folder / "Backup")) kept.push_back(entry);
    ASSERT_EQ(kept.size(), 1u);
    TBackupFile reader;
    ASSERT_TRUE(reader.Restore(kept[0].string(), (f.core.dir / "kept").string()));
    EXPECT_EQ(ReadCompanyKey((f.core.dir / "kept").string()), key) << "the SQLite data, whole";

    // The way back to that SQLite data asks the same; No leaves the Jet file, and no error
    // follows the answer.
    f.view->OnChooseSafetyArchive = [](const std::string&, const std::vector<TSafetyArchive>&,
                                       const std::string&) { return 0; };
    f.view->PointerRow = 0;
    f.core.ui.boxes.clear();
    f.core.ui.answers = {MessageResult::No};
    f.form->menuRestoreClick();
    ASSERT_EQ(f.core.ui.boxes.size(), 1u) << f.core.ui.boxes.back().text;
    EXPECT_THAT(f.core.ui.boxes[0].text, HasSubstr("되돌릴 자료는 SQLite 데이터베이스"));
    EXPECT_EQ(ReadFile(folder / "default.mdb"), jet);
}

}  // namespace
}  // namespace tidewell::test
