#include "platform/DatabaseFormat.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "JetFixture.h"
#include "TestSupport.h"
#include "platform/Error.h"

namespace tidewell {
namespace {

using test::TempDir;

std::string SqliteFileBytes(const TempDir& dir) {
    const auto file = dir / "real.sqlite";
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE ver(dbkey TEXT)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return test::ReadFile(file);
}

// Each kind of file the seam may meet, told by its header; mdb-ver, an independent reader of the
// same header, agrees on the Jet and ACE ones, and the refusal names what was found.
TEST(DatabaseFormatTest, TellsEachFormatByItsHeader) {
    TempDir dir;
    const std::string reference = test::ReadFile(test::JetReferenceFile());
    struct Case {
        const char* what;
        std::string bytes;
        DatabaseFormat format;
        const char* mdbVer;  // what mdb-ver says, when it reads the file at all
        const char* named;   // a word the refusal must contain
    };
    const std::vector<Case> cases = {
        {"sqlite", SqliteFileBytes(dir), DatabaseFormat::Sqlite, nullptr, "SQLite"},
        {"reference jet 4", reference, DatabaseFormat::Jet4, "JET4", "Jet 4"},
        {"our jet 4", test::MakeJetCompany("k", "n"), DatabaseFormat::Jet4, "JET4", "Jet 4"},
        {"jet 3", test::MakeJetHeaderVariant(false, 0), DatabaseFormat::Jet3, "JET3", "Jet 3"},
        {"accdb", test::MakeJetHeaderVariant(true, 2), DatabaseFormat::Ace, "ACE12", "ACE"},
        {"jet of a later version", test::MakeJetHeaderVariant(false, 2), DatabaseFormat::JetUnknown,
         nullptr, "알 수 없는 판"},
        {"empty", "", DatabaseFormat::Empty, nullptr, "빈 파일"},
        {"header cut short", reference.substr(0, 0x12), DatabaseFormat::Other, nullptr,
         "데이터베이스가 아닌"},
        {"random bytes", test::RandomBytes(8192, 7), DatabaseFormat::Other, nullptr,
         "데이터베이스가 아닌"},
        {"text", "Standard Jet DB, said the note", DatabaseFormat::Other, nullptr,
         "데이터베이스가 아닌"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto file = dir / "default.mdb";
        test::WriteFile(file, c.bytes);
        EXPECT_EQ(DetectDatabaseFormat(file), c.format);
        EXPECT_EQ(IsCompanyDatabaseFormat(c.format),
                  c.format == DatabaseFormat::Sqlite || c.format == DatabaseFormat::Jet4);
        if (c.mdbVer) {
            EXPECT_EQ(test::RunMdbTool({"mdb-ver", file.string()}), std::string(c.mdbVer) + "\n");
        }
        EXPECT_NE(NotCompanyDatabaseReason(c.format).find(c.named), std::string::npos)
            << NotCompanyDatabaseReason(c.format);
    }
    EXPECT_THROW(DetectDatabaseFormat(dir / "missing.mdb"), Exception);
}

}  // namespace
}  // namespace tidewell
