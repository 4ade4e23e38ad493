#include <gtest/gtest.h>

#include "MainTestSupport.h"
#include "company/Common.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

using test::MainFixture;

using test::kNewer;
using test::kOlder;

TEST(MainList, LocalAndWebCompaniesMergeByKeyWithTheirDirections) {
    MainFixture f;
    const std::string webOnly = f.MakeWebCompany("웹만", kOlder);
    const std::string both = f.MakeWebCompany("서비스 이름", kOlder);
    const auto bothFolder = f.MakeCompany("both", "로컬 이름", kNewer);
    ExecCompanySql(bothFolder.string(), "update [ver] set dbkey = '" + both + "'");
    const auto localOnly = f.MakeCompany("local", "로컬만", kOlder);
    f.Register(0, localOnly, "로컬만");
    f.Register(1, bothFolder, "로컬 이름");
    f.LogIn();
    ASSERT_EQ(f.form->RowCount(), 3);
    // Web companies first in the service's order, then the local-only ones.
    const TTidewellCompany& first = *f.form->Row(0).Company;
    EXPECT_EQ(first.CompanyKey, webOnly);
    EXPECT_EQ(first.SyncMode, smDownload);
    // Without a folder here it waits for the user to choose one.
    EXPECT_FALSE(f.form->Row(0).Checked);
    const TTidewellCompany& merged = *f.form->Row(1).Company;
    EXPECT_EQ(merged.CompanyName, "서비스 이름");
    EXPECT_EQ(merged.LocalPath, bothFolder.string());
    EXPECT_EQ(merged.SyncMode, smUpload);
    const TTidewellCompany& local = *f.form->Row(2).Company;
    EXPECT_EQ(local.CompanyName, "로컬만");
    EXPECT_EQ(local.LatestFileTime, 0);
    EXPECT_EQ(local.SyncMode, smUpload);
    EXPECT_TRUE(f.form->Row(2).Checked);
    EXPECT_EQ(f.form->FindCompanyRow(both), 1);
    EXPECT_EQ(f.form->FindCompanyRow("none"), -1);
    EXPECT_FALSE(f.view->Checked(Element::CheckBox1));
}

// The list follows its files: a database changed after the list was built comes back decided
// again (checked for its upload), while a row the user set by hand keeps the user's choice.
TEST(MainList, AChangedDatabaseIsDecidedAgainAndTheUsersChoicesStay) {
    MainFixture f;
    const auto shop = f.MakeCompany("shop", "가게", kOlder);
    const auto other = f.MakeCompany("other", "다른 가게", kOlder);
    f.Register(0, shop, "가게");
    f.Register(1, other, "다른 가게");
    f.LogIn();
    f.form->btnSyncSelectedClick();  // both go up, then agree with the web folder
    ASSERT_EQ(f.form->Row(f.RowOf("가게")).Company->SyncMode, smNone);
    f.view->PointerRow = f.RowOf("다른 가게");
    f.form->menuSyncModeDownloadClick();
    f.form->ToggleRowCheck(f.RowOf("다른 가게"));

    ExecCompanySql(shop.string(), "delete from inventory where rowid < 10");
    SetFileModifiedTime((shop / "default.mdb").string(), kNewer);
    f.form->CompanyFilesChanged();
    const TCompanyRow& changed = f.form->Row(f.RowOf("가게"));
    EXPECT_EQ(changed.Company->SyncMode, smUpload);
    EXPECT_TRUE(changed.Checked);
    const TCompanyRow& chosen = f.form->Row(f.RowOf("다른 가게"));
    EXPECT_EQ(chosen.Company->SyncMode, smUserDownload);
    EXPECT_TRUE(chosen.Checked);
}

TEST(MainList, TwoSlotsWithOneKeyGiveOneRowWithTheLaterFolder) {
    MainFixture f;
    const auto a = f.MakeCompany("a", "가게", kOlder);
    const auto copy = f.core.dir / "copy";
    fs::copy(a, copy);
    f.Register(2, a, "가게");
    f.Register(6, copy, "가게");
    f.LogIn();
    ASSERT_EQ(f.form->RowCount(), 1);
    EXPECT_EQ(f.form->Row(0).Company->LocalPath, copy.string());
}

TEST(MainList, TimesWithinTheSameSecondCompareEqual) {
    MainFixture f;
    const auto folder = f.MakeCompany("x", "같은 초", kOlder);
    f.Register(0, folder, "같은 초");
    f.LogIn();
    const int index = f.RowOf("같은 초");
    ASSERT_GE(index, 0);
    TTidewellCompany& c = *f.form->Row(index).Company;
    c.LatestFileTime = EncodeDateTime({2024, 3, 1, 10, 0, 0, 100});
    c.LocalModified = EncodeDateTime({2024, 3, 1, 10, 0, 0, 900});
    EXPECT_EQ(f.form->DecideSyncMode(index), smNone);
    c.LocalModified = EncodeDateTime({2024, 3, 1, 10, 0, 1, 0});
    EXPECT_EQ(f.form->DecideSyncMode(index), smUpload);
    c.LatestFileTime = EncodeDateTime({2024, 3, 1, 10, 0, 2, 0});
    EXPECT_EQ(f.form->DecideSyncMode(index), smDownload);
    c.LatestFileTime = 0;
    c.LocalModified = 0;
    EXPECT_EQ(f.form->DecideSyncMode(index), smNone);
}

// One company on both sides with equal times: nothing to transfer, unchecked.
class SyncedRowTest : public ::testing::Test {
protected:
    SyncedRowTest() {
        const std::string key = f.MakeWebCompany("가게", kOlder);
        folder = f.MakeCompany("local", "가게", kOlder);
        ExecCompanySql(folder.string(), "update [ver] set dbkey = '" + key + "'");
        SetFileModifiedTime((folder / "default.mdb").string(), kOlder);
        f.Register(0, folder, "가게");
        f.LogIn();
        f.view->PointerRow = 0;
    }
    TSyncMode Mode() const { return f.form->Row(0).Company->SyncMode; }
    bool Checked() const { return f.form->Row(0).Checked; }
    void ClickState() {
        f.view->PointerOverSyncButton = true;
        f.form->vtClick();
        f.view->PointerOverSyncButton = false;
    }

    MainFixture f;
    fs::path folder;
};

TEST_F(SyncedRowTest, ClickCycleOnANothingToDoRow) {
    ASSERT_EQ(Mode(), smNone);
    ASSERT_FALSE(Checked());
    ClickState();
    EXPECT_EQ(Mode(), smUserUpload);
    EXPECT_TRUE(Checked());
    ClickState();
    EXPECT_EQ(Mode(), smUserDownload);
    EXPECT_TRUE(Checked());
    ClickState();
    EXPECT_EQ(Mode(), smNone);
    EXPECT_FALSE(Checked());
    // Elsewhere in the row nothing happens.
    f.form->vtClick();
    EXPECT_EQ(Mode(), smNone);
}

TEST_F(SyncedRowTest, ClickCycleOnAnUploadRow) {
    SetFileModifiedTime((folder / "default.mdb").string(), kNewer);
    f.form->RefreshCompanyList();
    ASSERT_EQ(Mode(), smUpload);
    ClickState();
    EXPECT_EQ(Mode(), smUserDownload);
    ClickState();
    EXPECT_EQ(Mode(), smUpload);
}

TEST_F(SyncedRowTest, MenuEntriesSetTheChoiceAndLeaveTheMark) {
    f.form->menuSyncModeAutoClick();
    EXPECT_EQ(Mode(), smNone);
    f.form->menuSyncModeUploadClick();
    EXPECT_EQ(Mode(), smUserUpload);
    EXPECT_FALSE(Checked());
    f.form->PopupMenu1Popup();
    EXPECT_TRUE(f.view->Checked(Element::menuSyncModeUpload));
    EXPECT_FALSE(f.view->Checked(Element::menuSyncModeAuto));
    EXPECT_TRUE(f.view->Enabled(Element::menuSyncMode));
    f.form->menuSyncModeDownloadClick();
    EXPECT_EQ(Mode(), smUserDownload);
    f.form->PopupMenu1Popup();
    EXPECT_TRUE(f.view->Checked(Element::menuSyncModeDownload));
    // Auto on a checked row keeps the mark.
    f.form->ToggleRowCheck(0);
    ASSERT_TRUE(Checked());
    f.form->menuSyncModeAutoClick();
    EXPECT_EQ(Mode(), smNone);
    EXPECT_TRUE(Checked());
    f.form->PopupMenu1Popup();
    EXPECT_TRUE(f.view->Checked(Element::menuSyncModeAuto));
}

TEST_F(SyncedRowTest, UploadEntryOnADownloadRowGivesTheUsersUpload) {
    SetFileModifiedTime((folder / "default.mdb").string(), EncodeDate(2023, 1, 1));
    f.form->RefreshCompanyList();
    ASSERT_EQ(Mode(), smDownload);
    if (Checked()) f.form->ToggleRowCheck(0);
    ASSERT_FALSE(Checked());
    f.form->menuSyncModeUploadClick();
    EXPECT_EQ(Mode(), smUserUpload);
    EXPECT_FALSE(Checked());
    f.form->menuSyncModeDownloadClick();
    EXPECT_EQ(Mode(), smDownload);
}

TEST_F(SyncedRowTest, ContextMenuOverEmptySpaceDisablesTheRowEntries) {
    f.view->PointerRow.reset();
    f.form->PopupMenu1Popup();
    EXPECT_FALSE(f.view->Enabled(Element::menuSyncMode));
    EXPECT_FALSE(f.view->Enabled(Element::menuSyncSelected));
    EXPECT_FALSE(f.view->Enabled(Element::menuView));
    EXPECT_TRUE(f.view->Enabled(Element::menuRefresh));
    EXPECT_TRUE(f.view->Enabled(Element::menuSyncAll));
    EXPECT_TRUE(f.view->Enabled(Element::N3));
    f.form->menuSyncModeUploadClick();  // no hot row: nothing
    EXPECT_EQ(Mode(), smNone);
}

TEST_F(SyncedRowTest, PickingAFolderRecomputesTheChoiceWithoutCheckingTheRow) {
    // The same company's data in another folder (a copy on a second drive), changed later.
    const auto newer = f.core.dir / "newer";
    fs::create_directory(newer);
    fs::copy_file(folder / "default.mdb", newer / "default.mdb");
    SetFileModifiedTime((newer / "default.mdb").string(), kNewer);
    std::string askedTitle;
    f.view->OnBrowseForFolder = [&](const std::string& title, std::string& folderText,
                                    bool showNewFolder) {
        askedTitle = title;
        EXPECT_TRUE(showNewFolder);
        EXPECT_EQ(folderText, folder.string());
        folderText = newer.string();
        return true;
    };
    f.view->PointerOverFolderLink = true;
    f.form->vtClick();
    EXPECT_EQ(askedTitle, "가게의 데이터 폴더를 선택하세요.");
    EXPECT_EQ(f.form->Row(0).Company->LocalPath, newer.string());
    EXPECT_EQ(Mode(), smUpload);
    EXPECT_FALSE(Checked());
    // A cancelled picker changes nothing; a folder without a database gives no local time.
    f.view->OnBrowseForFolder = [](const std::string&, std::string&, bool) { return false; };
    f.form->vtClick();
    EXPECT_EQ(f.form->Row(0).Company->LocalPath, newer.string());
    f.view->OnBrowseForFolder = [&](const std::string&, std::string& text, bool) {
        text = (f.core.dir / "empty").string();
        return true;
    };
    f.form->vtClick();
    EXPECT_EQ(f.form->Row(0).Company->LocalModified, 0);
    EXPECT_EQ(Mode(), smDownload);
}

TEST_F(SyncedRowTest, AFolderOfAnotherCompanyIsRefusedWithItsName) {
    const auto stranger = f.MakeCompany("stranger", "남의 가게", kNewer);
    EnsureCompanyKey(stranger.string());
    f.view->OnBrowseForFolder = [&](const std::string&, std::string& text, bool) {
        text = stranger.string();
        return true;
    };
    f.view->PointerOverFolderLink = true;
    f.form->vtClick();
    EXPECT_EQ(f.form->Row(0).Company->LocalPath, folder.string());
    ASSERT_EQ(f.Messages().size(), 1u);
    EXPECT_NE(f.Messages()[0].find("남의 가게"), std::string::npos);
}

// A new folder (nothing in it yet) that one row took in this run is not another's as well.
TEST(FolderPicker, AFolderAnotherRowTookInThisRunIsRefused) {
    test::MainFixture f;
    f.MakeWebCompany("강남 지점", kOlder);
    f.MakeWebCompany("강북 지점", kOlder);
    f.LogIn();
    ASSERT_EQ(f.form->RowCount(), 2);
    const fs::path chosen = f.core.dir / "new-folder";
    fs::create_directory(chosen);
    f.view->OnBrowseForFolder = [&](const std::string&, std::string& text, bool) {
        text = chosen.string();
        return true;
    };
    f.view->PointerOverFolderLink = true;
    f.view->PointerRow = 0;
    f.form->vtClick();
    EXPECT_EQ(f.form->Row(0).Company->LocalPath, chosen.string());
    f.view->PointerRow = 1;
    f.form->vtClick();
    EXPECT_TRUE(f.form->Row(1).Company->LocalPath.empty());
    ASSERT_EQ(f.Messages().size(), 1u);
    EXPECT_NE(f.Messages()[0].find(f.form->Row(0).Company->CompanyName), std::string::npos);
}

TEST_F(SyncedRowTest, SelectAllAndTheHeaderBoxSetEveryMarkOnly) {
    f.form->menuSelectAllClick();
    EXPECT_TRUE(Checked());
    EXPECT_FALSE(f.view->Checked(Element::CheckBox1));
    EXPECT_EQ(Mode(), smNone);
    f.view->SetChecked(Element::CheckBox1, false);
    f.form->CheckBox1Click();
    EXPECT_FALSE(Checked());
    f.view->SetChecked(Element::CheckBox1, true);
    f.form->CheckBox1Click();
    EXPECT_TRUE(Checked());
    EXPECT_EQ(f.view->Focused, Element::vt);
    // A rebuild unchecks the header box and recomputes the marks.
    f.form->RefreshCompanyList();
    EXPECT_FALSE(f.view->Checked(Element::CheckBox1));
    EXPECT_FALSE(Checked());
}

}  // namespace
}  // namespace tidewell
