#include <gtest/gtest.h>

#include "MainTestSupport.h"
#include "company/Common.h"
#include "company/LocalCompanyList.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

using test::MainFixture;

TEST(MainStartup, MissingProgramKeyCentresTheWindowAndLeavesTheLoginEmpty) {
    MainFixture f;
    EXPECT_TRUE(f.view->Centered);
    EXPECT_EQ(f.view->Caption, "Quenlow 바코드 Tidewell");
    EXPECT_EQ(f.view->Text(Element::Edit1), "");
    EXPECT_FALSE(f.view->Checked(Element::CheckBox2));
    EXPECT_FALSE(f.view->Enabled(Element::vt));
    EXPECT_FALSE(f.view->Enabled(Element::CheckBox1));
    EXPECT_TRUE(f.view->LoginPanelCovering);
}

TEST(MainStartup, PlacementValuesAreTakenOnlyInsideTheWorkArea) {
    MainFixture f;
    auto key = f.ProgramKey();
    // Work area of the headless view: 0, 0, 1920 x 1040.
    key.WriteInteger("MainFormLeft", 1920);    // = left + width: ignored
    key.WriteInteger("MainFormTop", 0);        // = top: taken
    key.WriteInteger("MainFormWidth", 479);    // below the minimum: ignored
    key.WriteInteger("MainFormHeight", 1040);  // = the work area's height: taken
    f.Restart();
    EXPECT_FALSE(f.view->Centered);
    EXPECT_EQ(f.view->WindowRect.Left, 0);
    EXPECT_EQ(f.view->WindowRect.Top, 0);
    EXPECT_EQ(f.view->WindowRect.Width, 542);  // the design's
    EXPECT_EQ(f.view->WindowRect.Height, 1040);

    key.WriteInteger("MainFormLeft", 0);
    key.WriteInteger("MainFormWidth", 1920);
    key.WriteInteger("MainFormHeight", 336);
    key.WriteString("MainFormTop", "not a number");  // ignored by itself
    key.WriteInteger("MainFormMaximized", 1);
    f.Restart();
    EXPECT_EQ(f.view->WindowRect.Width, 1920);
    EXPECT_EQ(f.view->WindowRect.Height, 360);
    EXPECT_TRUE(f.view->IsMaximized);
}

TEST(MainStartup, LastLoginIdMovesTheFocusOnlyWhenItIsNotBlank) {
    MainFixture f;
    f.ProgramKey().WriteString("LastLoginID", "   ");
    f.Restart();
    EXPECT_EQ(f.view->Text(Element::Edit1), "   ");
    EXPECT_FALSE(f.view->Checked(Element::CheckBox2));
    EXPECT_NE(f.view->Focused, Element::Edit2);

    f.ProgramKey().WriteString("LastLoginID", " kim");
    f.Restart();
    EXPECT_EQ(f.view->Text(Element::Edit1), " kim");
    EXPECT_TRUE(f.view->Checked(Element::CheckBox2));
    EXPECT_EQ(f.view->Focused, Element::Edit2);
}

TEST(MainShutdown, PlacementAndLoginIdAreWrittenBack) {
    MainFixture f;
    f.view->WindowRect = {10, 20, 600, 400};
    f.form->FormDestroy();
    auto key = f.ProgramKey();
    EXPECT_EQ(key.ReadInteger("MainFormLeft"), 10);
    EXPECT_EQ(key.ReadInteger("MainFormHeight"), 400);
    EXPECT_EQ(key.ReadInteger("MainFormMaximized"), 0);

    // Maximized: the last normal bounds stay, the flag says so.
    f.Restart();
    f.view->IsMaximized = true;
    f.view->WindowRect = {0, 0, 1920, 1040};
    f.form->FormDestroy();
    EXPECT_EQ(key.ReadInteger("MainFormWidth"), 600);
    EXPECT_EQ(key.ReadInteger("MainFormMaximized"), 1);
    f.Restart();
    EXPECT_TRUE(f.view->IsMaximized);

    // Checked without a successful login keeps the old ID; a login writes it as typed.
    key.WriteString("LastLoginID", "old");
    f.Restart();
    f.view->SetChecked(Element::CheckBox2, true);
    f.form->FormDestroy();
    EXPECT_EQ(key.ReadString("LastLoginID"), "old");
    f.Restart();
    f.view->SetChecked(Element::CheckBox2, true);
    f.LogIn("kim ", "pw1234");
    f.form->FormDestroy();
    EXPECT_EQ(key.ReadString("LastLoginID"), "kim ");
    // Unchecked: deleted.
    f.Restart();
    f.view->SetChecked(Element::CheckBox2, false);
    f.form->FormDestroy();
    EXPECT_FALSE(key.ValueExists("LastLoginID"));
}

TEST(MainShutdown, SlotsAreRewrittenFromTheRowsInListOrder) {
    MainFixture f;
    const TDateTime t = EncodeDateTime({2024, 1, 2, 3, 4, 6, 0});
    f.MakeWebCompany("웹 하나", t);
    f.MakeWebCompany("웹 둘", t);
    const std::string both = f.MakeWebCompany("양쪽", t);
    const auto bothFolder = f.MakeCompany("both", "양쪽 로컬 이름", t);
    // Give the local folder the web company's key, as a download would have.
    ExecCompanySql(bothFolder.string(), "update [ver] set dbkey = '" + both + "'");
    const auto local1 = f.MakeCompany("local1", "로컬 하나", t);
    const auto local2 = f.MakeCompany("local2", "로컬 둘", t);
    f.Register(7, local2);
    f.Register(3, bothFolder, "양쪽 로컬 이름");
    f.Register(40, local1);
    f.ProgramKey().WriteString("Company55Path", "/gone");  // skipped by the list
    f.LogIn();
    ASSERT_EQ(f.form->RowCount(), 5);
    f.form->FormDestroy();
    auto key = f.ProgramKey();
    EXPECT_EQ(key.ReadString("Company00Path"), bothFolder.string());
    EXPECT_EQ(key.ReadString("Company00Name"), "양쪽");  // the service's name
    EXPECT_EQ(key.ReadString("Company00Key"), both);
    EXPECT_EQ(key.ReadString("Company01Path"), local2.string());
    EXPECT_EQ(key.ReadString("Company02Path"), local1.string());
    for (int slot = 3; slot < kCompanySlotCount; ++slot) {
        EXPECT_FALSE(key.ValueExists(CompanySlotValue(slot, "Path"))) << slot;
    }
}

TEST(MainShutdown, SlotsStayWhenTheListWasNotBuiltInThisRun) {
    MainFixture f;
    const auto local = f.MakeCompany("local", "로컬", EncodeDate(2024, 1, 1));
    f.Register(5, local);
    f.form->FormDestroy();  // nobody logged in
    EXPECT_EQ(f.ProgramKey().ReadString("Company05Path"), local.string());

    f.Restart();
    f.LogIn("kim", "wrong");  // refused: no list either
    f.form->FormDestroy();
    EXPECT_EQ(f.ProgramKey().ReadString("Company05Path"), local.string());
}

TEST(MainShutdown, CompaniesTheListCouldNotSeeKeepTheirSlots) {
    MainFixture f;
    const auto local = f.MakeCompany("local", "로컬", EncodeDate(2024, 1, 1));
    const auto damaged = f.core.dir / "damaged";
    fs::create_directories(damaged);
    test::WriteFile(damaged / "default.mdb", "not a database any more");
    f.Register(2, local);
    auto key = f.ProgramKey();
    key.WriteString("Company04Key", "0123456789abcdef0123456789abcdef");
    key.WriteString("Company04Name", "망가진 가게");
    key.WriteString("Company04Path", damaged.string());
    key.WriteString("Company06Key", "fedcba9876543210fedcba9876543210");
    key.WriteString("Company06Name", "외장 디스크");
    key.WriteString("Company06Path", "/media/unplugged/shop");
    f.LogIn();  // one damaged company does not cost the login
    // The unplugged one stays in the list as missing, never as a download into nowhere.
    ASSERT_EQ(f.form->RowCount(), 2);
    ASSERT_TRUE(f.form->MissingFolder(1));
    EXPECT_EQ(f.form->MissingFolder(1)->Path, "/media/unplugged/shop");
    EXPECT_FALSE(f.form->Row(1).Checked);
    ASSERT_EQ(f.Messages().size(), 1u);
    EXPECT_NE(f.Messages()[0].find("망가진 가게"), std::string::npos);
    EXPECT_EQ(f.Messages()[0].find("외장 디스크"), std::string::npos);

    f.form->FormDestroy();
    key = f.ProgramKey();
    EXPECT_EQ(key.ReadString("Company00Path"), local.string());
    EXPECT_EQ(key.ReadString("Company01Name"), "망가진 가게");
    EXPECT_EQ(key.ReadString("Company02Path"), "/media/unplugged/shop");
    EXPECT_EQ(key.ReadString("Company02Key"), "fedcba9876543210fedcba9876543210");
}

}  // namespace
}  // namespace tidewell
