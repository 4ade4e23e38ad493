// When both sides changed since they last agreed, and the way back to an earlier state.
#include <gtest/gtest.h>

#include "MainTestSupport.h"
#include "company/Common.h"
#include "company/LocalCompanyList.h"
#include "company/SafetyArchives.h"
#include "platform/CompanyDatabase.h"
#include "platform/Sqlite.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

using test::kOlder;

// Every row of the inventory, in order: the data as the user sees it, whatever the file.
std::string Content(const fs::path& folder) {
    std::string rows;
    for (auto data = OpenCompanyQuery(folder.string(), "select * from inventory order by rowid");
         !data.Eof(); data.Next()) {
        for (int i = 0; i < data.FieldCount(); ++i) rows += data.AsString(i) + "|";
        rows += "\n";
    }
    return rows;
}

void Edit(const fs::path& folder, const std::string& sql, TDateTime time) {
    ExecCompanySql(folder.string(), sql);
    SetFileModifiedTime((folder / "default.mdb").string(), time);
}

// Computer A (the window) and computer B (another hive, another folder) share one company.
class TwoComputersTest : public ::testing::Test {
protected:
    TwoComputersTest() {
        a = f.MakeCompany("a", "가게", kOlder, 300);
        f.Register(0, a, "가게");
        f.LogIn();
        f.form->btnSyncSelectedClick();  // A uploads: both sides agree
        key = f.form->Row(0).Company->CompanyKey;
        b = f.core.dir / "b";
        OnB([&](TTidewellUser& user) { user.DownloadCompany(key); });
    }

    // Runs on computer B, with its own settings.
    void OnB(const std::function<void(TTidewellUser&)>& work) {
        SettingsHive hive(f.core.dir / "b-settings.db");
        hive.OpenKey(kProgramKey, true);
        TAccountSetup setup = f.AccountSetup();
        setup.Settings = &hive;
        TTidewellUser user(setup);
        ASSERT_TRUE(user.Login("kim", "pw1234"));
        user.LoadCompanies();
        user.GetCompany(0)->LocalPath = b.string();
        work(user);
    }

    const TTidewellCompany& Row() const { return *f.form->Row(0).Company; }

    test::MainFixture f;
    fs::path a, b;
    std::string key;
};

TEST_F(TwoComputersTest, BothSidesEditedAsksWhichToKeepAndThenTheyAgree) {
    ASSERT_EQ(Row().SyncMode, smNone);
    ASSERT_GT(Row().Synced.Time, 0);
    Edit(a, "delete from inventory where rowid < 10", kOlder + 1);
    OnB([&](TTidewellUser& user) {
        Edit(b, "delete from inventory where rowid > 290", kOlder + 2);
        user.UploadCompany(key);
    });
    f.form->RefreshCompanyList();
    EXPECT_TRUE(BothSidesChanged(Row(), SystemClock().Now()));
    EXPECT_EQ(Row().SyncMode, smDownload);  // the times still decide the direction
    EXPECT_FALSE(f.form->Row(0).Checked);   // but nothing goes without the user

    // Keep this computer's data, though the web folder's is newer.
    f.core.ui.answers = {MessageResult::Yes};
    f.core.ui.boxes.clear();
    f.view->PointerRow = 0;
    const std::size_t keptBefore = ListSafetyArchives(a.string()).size();
    f.form->menuSyncSelectedClick();
    ASSERT_EQ(f.core.ui.boxes.size(), 2u);  // the question, then the summary
    EXPECT_EQ(f.core.ui.boxes[0].buttons, MessageButtons::YesNoCancel);
    // The promise of the question: the web folder's data stays here as a safety archive.
    EXPECT_EQ(ListSafetyArchives(a.string()).size(), keptBefore + 1);
    EXPECT_EQ(f.core.ui.boxes[0].yesText, "내 컴퓨터 자료");
    EXPECT_NE(f.core.ui.boxes[0].text.find("양쪽 자료가 모두 변경되었습니다"), std::string::npos);
    EXPECT_EQ(Row().SyncMode, smNone);
    EXPECT_FALSE(BothSidesChanged(Row(), SystemClock().Now()));

    // One side alone changing afterwards is an ordinary upload again: checked, no question.
    Edit(a, "delete from inventory where rowid = 50", kOlder + 3);
    f.form->RefreshCompanyList();
    EXPECT_EQ(Row().SyncMode, smUpload);
    EXPECT_TRUE(f.form->Row(0).Checked);
    f.core.ui.boxes.clear();
    f.form->btnSyncSelectedClick();
    ASSERT_EQ(f.core.ui.boxes.size(), 1u);  // the summary alone
    EXPECT_EQ(f.core.ui.boxes[0].text.rfind("전송을 마쳤습니다. (전송 1)", 0), 0u);
    EXPECT_EQ(Row().SyncMode, smNone);

    f.form->FormDestroy();  // the agreed time stays with its slot
    EXPECT_EQ(ReadSlotSynced(f.ProgramKey(), 0), Row().Synced);
}

// The list was built when only this computer had changed; B sends newer data before 전송 시작.
// Read again, the company changed on both sides: the user is shown the change and asked, and
// No sends nothing over B's data.
TEST_F(TwoComputersTest, AChangeOnTheOtherComputerSinceTheListIsShownAndAsked) {
    Edit(a, "delete from inventory where rowid < 10", kOlder + 1);
    f.form->RefreshCompanyList();
    ASSERT_EQ(Row().SyncMode, smUpload);
    ASSERT_TRUE(f.form->Row(0).Checked);
    OnB([&](TTidewellUser& user) {
        Edit(b, "delete from inventory where rowid > 290", kOlder + 2);
        user.UploadCompany(key);
    });
    const std::size_t stored = f.StoredArchives().size();
    f.core.ui.boxes.clear();
    f.core.ui.answers = {MessageResult::No};
    f.form->btnSyncSelectedClick();
    ASSERT_GE(f.core.ui.boxes.size(), 1u);
    EXPECT_NE(f.core.ui.boxes[0].text.find("목록을 만든 뒤에 자료가 바뀌었습니다"),
              std::string::npos)
        << f.core.ui.boxes[0].text;
    EXPECT_EQ(f.core.ui.boxes[0].defaultButton, MessageResult::No);
    EXPECT_EQ(f.StoredArchives().size(), stored);
    EXPECT_TRUE(BothSidesChanged(Row(), SystemClock().Now()));
}

TEST_F(TwoComputersTest, AReturnToTheSafetyArchiveBringsBackTheDataBeforeADownload) {
    Edit(a, "delete from inventory where rowid % 3 = 0", kOlder + 1);
    const std::string before = Content(a);
    OnB([&](TTidewellUser& user) {
        Edit(b, "update inventory set name = 'B의 변경'", kOlder + 2);
        user.UploadCompany(key);
    });
    f.form->RefreshCompanyList();
    f.core.ui.answers = {MessageResult::No};  // keep the web folder's
    f.view->PointerRow = 0;
    f.form->menuSyncSelectedClick();
    const std::string downloaded = Content(a);
    ASSERT_NE(downloaded, before);

    ASSERT_EQ(ListSafetyArchives(a.string()).size(), 1u);
    f.view->OnChooseSafetyArchive = [](const std::string&, const std::vector<TSafetyArchive>&,
                                       const std::string& note) {
        EXPECT_NE(note.find("웹폴더에도"), std::string::npos);  // the service keeps two
        return 0;
    };
    f.form->PopupMenu1Popup();
    EXPECT_TRUE(f.view->Enabled(Element::menuRestore));
    {
        // The host product has it open: the data goes in through the engine and must still get
        // its time.
        SqliteDatabase host(a / "default.mdb", SQLITE_OPEN_READWRITE);
        f.clock.pinned = EncodeDateTime({2026, 1, 5, 10, 20, 31, 700});
        f.form->menuRestoreClick();
        f.clock.pinned.reset();
    }

    EXPECT_EQ(Content(a), before);
    const auto archives = ListSafetyArchives(a.string());
    ASSERT_EQ(archives.size(), 2u);  // newest first: the downloaded state, kept on the way back
    const fs::path kept = f.core.dir / "kept";
    TBackupFile reader;
    ASSERT_TRUE(reader.Restore(archives[0].Path, kept.string()));
    EXPECT_EQ(Content(kept), downloaded);
    EXPECT_EQ(FormatDateTime("yyyymmddhhnnss", archives[1].DataTime),
              FormatDateTime("yyyymmddhhnnss", kOlder + 1));
    // Going back is this computer's newest change: the data has the time of the return (at the
    // two seconds of file times), so the next sync sends it rather than taking the web
    // folder's back, with or without the agreement.
    EXPECT_EQ(FormatDateTime("yyyymmddhhnnss", Row().LocalModified), "20260105102030");
    EXPECT_EQ(Row().SyncMode, smUpload);
    f.form->Row(0).Company->Synced = {};
    EXPECT_EQ(f.form->DecideSyncMode(0), smUpload);
}

// Removing archives in the way-back dialog leaves it open on the ones left (also when the user
// thinks better of it); it closes by itself, quietly, once none is left.
TEST(MainWayBack, TheDialogStaysOpenOnTheArchivesLeftAfterARemoval) {
    test::MainFixture f;
    const fs::path folder = f.MakeCompany("shop", "가게", kOlder);
    f.Register(0, folder, "가게");
    f.LogIn();
    fs::create_directories(folder / "Backup");
    for (std::uint16_t minute = 0; minute < 3; ++minute) {
        const TDateTime made = EncodeDateTime({2026, 1, 5, 10, minute, 0, 0});
        const std::string path = SafetyArchiveName((folder / "Backup").string(), made);
        test::WriteFile(path, std::string(100, 'x'));
        SetFileModifiedTime(path, made);
    }
    std::vector<std::size_t> shown;
    const std::vector<std::vector<int>> removals = {{1}, {0}, {0, 1}};
    f.view->OnChooseSafetyArchives =
        [&](const std::string&, const std::vector<TSafetyArchive>& archives,
            const std::string&) -> std::optional<TSafetyArchiveChoice> {
        shown.push_back(archives.size());
        if (shown.size() > removals.size()) return std::nullopt;
        return TSafetyArchiveChoice{TSafetyArchiveChoice::Remove, removals[shown.size() - 1]};
    };
    f.core.ui.answers = {MessageResult::Yes, MessageResult::No, MessageResult::Yes};
    f.core.ui.boxes.clear();
    f.view->PointerRow = 0;
    f.form->menuRestoreClick();
    EXPECT_EQ(shown, (std::vector<std::size_t>{3, 2, 2}));
    EXPECT_EQ(f.core.ui.boxes.size(), 3u) << "the three questions, nothing after the last";
    EXPECT_TRUE(ListSafetyArchives(folder.string()).empty());
}

}  // namespace
}  // namespace tidewell
