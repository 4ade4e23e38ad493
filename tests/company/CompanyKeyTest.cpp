#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "CompanyMaker.h"
#include "JetFixture.h"
#include "TestSupport.h"
#include "company/Common.h"

namespace fs = std::filesystem;
using testing::HasSubstr;

namespace tidewell {
namespace {

// 32 characters of "0123456789abcdef".
bool IsCompanyKey(const std::string& key) {
    return key.size() == 32 && key.find_first_not_of("0123456789abcdef") == std::string::npos;
}

class CompanyKeyTest : public testing::Test {
protected:
    std::string Folder(const std::string& name, const CompanyRecipe& recipe = {}) {
        const std::string folder = (core.dir / name).string();
        MakeCompanyFolder(folder, recipe);
        return folder;
    }
    // Every stored dbkey, in row order.
    std::vector<std::string> StoredKeys(const std::string& folder) {
        std::vector<std::string> keys;
        for (auto rows = OpenCompanyQuery(folder, "select dbkey from ver"); !rows.Eof();
             rows.Next()) {
            keys.push_back(rows.IsNull(0) ? "(null)" : rows.AsString(0));
        }
        return keys;
    }
    test::CoreFixture core;
};

TEST_F(CompanyKeyTest, NewKeysAreLowerHexAndDifferWithinOneMillisecond) {
    std::set<std::string> keys;
    for (int i = 0; i < 2000; ++i) {
        const std::string key = NewCompanyKey();
        ASSERT_TRUE(IsCompanyKey(key)) << key;
        keys.insert(key);
    }
    EXPECT_EQ(keys.size(), 2000u);
}

TEST_F(CompanyKeyTest, AVerWithoutTheColumnGetsColumnAndKeyOnceThenIsOnlyRead) {
    const std::string folder = Folder("a");
    EXPECT_FALSE(CompanyFieldExists(folder, "[ver]", "dbkey"));
    EXPECT_EQ(ReadCompanyKey(folder), "");

    const std::string key = EnsureCompanyKey(folder);
    EXPECT_TRUE(IsCompanyKey(key));
    EXPECT_TRUE(CompanyFieldExists(folder, "[ver]", "DBKEY"));
    EXPECT_EQ(ReadCompanyKey(folder), key);

    const std::string file = CompanyDatabaseFile(folder);
    const std::string bytes = test::ReadFile(file);
    const auto time = fs::last_write_time(file);
    EXPECT_EQ(EnsureCompanyKey(folder), key);
    EXPECT_EQ(test::ReadFile(file), bytes);  // nothing written the second time
    EXPECT_EQ(fs::last_write_time(file), time);
    EXPECT_TRUE(core.ui.boxes.empty());
}

TEST_F(CompanyKeyTest, AStoredKeyIsReturnedAsStoredAndEveryRowGetsANewOne) {
    const std::string upper = "0123456789ABCDEF0123456789ABCDEF";
    const std::string folder = Folder("upper", {.withKey = true, .key = upper});
    EXPECT_EQ(EnsureCompanyKey(folder), upper);
    EXPECT_EQ(ReadCompanyKey(folder), upper);

    // Null and empty keys count as none; a new key goes into every row of ver.
    for (const char* missing : {"null", "''"}) {
        const std::string other = Folder(std::string("empty") + missing, {.withKey = true});
        ExecCompanySql(other, std::string("update ver set dbkey = ") + missing);
        ExecCompanySql(other, "insert into ver (version) values ('5.11')");
        const std::string key = EnsureCompanyKey(other);
        EXPECT_TRUE(IsCompanyKey(key));
        EXPECT_THAT(StoredKeys(other), testing::ElementsAre(key, key));
    }
    EXPECT_TRUE(core.ui.boxes.empty());  // the column existed: no ALTER, no message
}

TEST_F(CompanyKeyTest, AVerWithoutARowReturnsAKeyThatIsNotKept) {
    const std::string folder = Folder("norow", {.verRow = false});
    const std::string first = EnsureCompanyKey(folder);
    EXPECT_TRUE(IsCompanyKey(first));
    EXPECT_EQ(ReadCompanyKey(folder), "");
    EXPECT_NE(EnsureCompanyKey(folder), first);
    EXPECT_TRUE(core.ui.boxes.empty());
}

TEST_F(CompanyKeyTest, AFolderWithoutADatabaseReadsEmptyAndShowsNothing) {
    const std::string folder = (core.dir / "nothing").string();
    fs::create_directory(folder);
    EXPECT_EQ(ReadCompanyKey(folder), "");
    EXPECT_EQ(ReadCompanyStringDef(folder, "select legalname from userinfo", "none"), "none");
    EXPECT_FALSE(fs::exists(CompanyDatabaseFile(folder)));  // not created by reading
    EXPECT_TRUE(core.ui.boxes.empty());

    // Routines without a default raise instead.
    EXPECT_THROW(ReadCompanyString(folder, "select 1"), CompanyDatabaseError);
    EXPECT_THROW(ExecCompanySql(folder, "delete from ver"), CompanyDatabaseError);
    EXPECT_THROW(CompanyFieldExists(folder, "[ver]", "dbkey"), CompanyDatabaseError);
    EXPECT_THROW(EnsureCompanyKey(folder), CompanyDatabaseError);
    EXPECT_TRUE(core.ui.boxes.empty());
}

TEST_F(CompanyKeyTest, AFailingStatementShowsOneMessageAndReturns) {
    const std::string folder = Folder("fail", {.withKey = true});
    ExecCompanySql(folder, "alter table [ver] add dbkey nvarchar(32)");  // already there
    ASSERT_EQ(core.ui.boxes.size(), 1u);
    const MessageBoxRequest& box = core.ui.boxes[0];
    EXPECT_EQ(box.title, "Tidewell");
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
    EXPECT_THAT(box.text, testing::StartsWith("Error(Dbacc.ExecQuery):\n\n"));
    EXPECT_THAT(box.text, HasSubstr("duplicate column name"));
    EXPECT_THAT(box.text, testing::EndsWith("\n\nalter table [ver] add dbkey nvarchar(32)\n"));
}

TEST_F(CompanyKeyTest, StringsAreReadFromTheFirstRowOrRefused) {
    const std::string folder = Folder("names", {.name = "다온 마트"});
    EXPECT_EQ(ReadCompanyString(folder, "select legalname from userinfo"), "다온 마트");
    EXPECT_EQ(ReadCompanyString(folder, "select null"), "");
    try {
        ReadCompanyString(folder, "select legalname from userinfo where 0");
        ADD_FAILURE() << "an empty result must raise";
    } catch (const Exception& error) {
        EXPECT_STREQ(error.what(), "데이터베이스에서 문자열값을 읽는 도중 오류가 발생하였습니다.");
    }
    EXPECT_THROW(ReadCompanyString(folder, "select nothing from userinfo"), CompanyDatabaseError);
    EXPECT_EQ(ReadCompanyStringDef(folder, "select nothing from userinfo", "d"), "d");

    auto rows = OpenCompanyQuery(folder, "userinfo", cmdTable);
    EXPECT_EQ(rows.AsString(0), "다온 마트");
    EXPECT_THROW(OpenCompanyQuery(folder, "select * from missing"), CompanyDatabaseError);
}

// A Jet 4 database of the host product is read by the same routines, and only read: the key and
// name come from it, other questions get their defaults (so does a damaged file), and nothing
// is ever written into it, a missing key least of all.
TEST_F(CompanyKeyTest, AJetDatabaseIsReadByTheSameRoutinesAndNeverWritten) {
    const auto jetFolder = [&](const std::string& name, const std::string& bytes) {
        fs::create_directories(core.dir / name);
        test::WriteFile(core.dir / name / "default.mdb", bytes);
        return (core.dir / name).string();
    };
    const std::string key = "00112233445566778899aabbccddeeff";
    const std::string bytes = test::MakeJetCompany(key, "물결 상회");
    const std::string folder = jetFolder("jet", bytes);
    EXPECT_EQ(ReadCompanyKey(folder), key);
    EXPECT_EQ(EnsureCompanyKey(folder), key);
    EXPECT_EQ(ReadCompanyStringDef(folder, "select legalname from [userinfo]", "d"), "물결 상회");
    EXPECT_EQ(ReadCompanyStringDef(folder, "select legalname from userinfo where 0", "d"), "d");
    EXPECT_EQ(ReadCompanyStringDef(folder, "select nothing from userinfo", "d"), "d");
    EXPECT_TRUE(CompanyFieldExists(folder, "[VER]", "DBKEY"));
    EXPECT_FALSE(CompanyFieldExists(folder, "ver", "nothing"));
    ExecCompanySql(folder, "update [ver] set dbkey = 'x'");
    EXPECT_EQ(core.ui.boxes.size(), 1u) << "a statement fails as any failing statement does";

    const std::string cut = jetFolder("cut", bytes.substr(0, 3 * 4096 + 100));
    EXPECT_EQ(ReadCompanyKey(cut), "");
    EXPECT_EQ(ReadCompanyStringDef(cut, "select legalname from userinfo", "d"), "d");

    const std::string noKey = jetFolder("no-key", test::MakeJetCompany(std::nullopt, "가게"));
    try {
        EnsureCompanyKey(noKey);
        ADD_FAILURE() << "no key may be made up for a Jet database";
    } catch (const CompanyDatabaseError& error) {
        EXPECT_EQ(error.problem(), DatabaseProblem::ReadOnly);
        EXPECT_THAT(error.what(), HasSubstr("사업장 키가 없습니다"));
    }
    EXPECT_EQ(test::ReadFile(core.dir / "jet" / "default.mdb"), bytes);
    EXPECT_EQ(ReadCompanyKey(noKey), "");
}

}  // namespace
}  // namespace tidewell
