// The use cases without a window: what they come to, as values, against the real service.
#include <gtest/gtest.h>

#include <filesystem>

#include "CompanyMaker.h"
#include "TestServers.h"
#include "TestSupport.h"
#include "WebFolderService.h"
#include "company/Common.h"
#include "platform/Sqlite.h"
#include "usecase/CompanySession.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

const TDateTime kOlder = EncodeDateTime({2024, 3, 1, 9, 0, 0, 0});

std::string Stamp(TDateTime time) {
    return FormatDateTime("yyyymmddhhnnss", time);
}

class CompanySessionTest : public ::testing::Test {
protected:
    CompanySessionTest() : service(core.dir / "service") {
        service.AddUser("kim", "pw1234", "김철수", 365, 1LL << 30);
        core.hive().OpenKey(kProgramKey, true);
        EXPECT_EQ(session.Login("kim", "pw1234").Kind, TLoginOutcome::loLoggedIn);
    }

    TSessionSetup SessionSetup() {
        return {&core.hive(), {ServiceEndpoint{service.BaseUrl(), {}}, core.Places()}, &clock};
    }

    fs::path MakeCompany(const std::string& folderName, const std::string& name,
                         std::int64_t rows = 100) {
        const fs::path folder = core.dir / folderName;
        MakeCompanyFolder(folder.string(), {.name = name, .rows = rows});
        SetFileModifiedTime((folder / "default.mdb").string(), kOlder);
        return folder;
    }

    TTidewellCompanyPtr Listed(const std::string& name) {
        for (const TCompanyRow& row : session.BuildList().Rows) {
            if (row.Company->CompanyName == name) return row.Company;
        }
        ADD_FAILURE() << name << " is not listed";
        return std::make_shared<TTidewellCompany>();
    }

    int Slots() { return static_cast<int>(session.Registry().Load().size()); }

    test::CoreFixture core;
    test::ManualClock clock;
    test::WebFolderService service;
    CompanySession session{SessionSetup()};
};

// The host product in the middle of a write when the folder is added: the new key can't be
// stored, so nothing is registered; once it is done, the same add goes through, and adding the
// folder again changes nothing.
TEST_F(CompanySessionTest, AKeyTheDatabaseWouldNotTakeIsNeverRegistered) {
    const fs::path folder = MakeCompany("shop", "가게");
    {
        SqliteDatabase host(folder / "default.mdb", SQLITE_OPEN_READWRITE);
        host.Execute("BEGIN IMMEDIATE");
        const TAddOutcome busy = session.AddFolder(folder.string(), TSameFolder::LeaveAsItIs);
        EXPECT_EQ(busy.Kind, TAddOutcome::aoKeyNotStored);
        EXPECT_NE(busy.Problem.find("다른 프로그램이 데이터베이스를 사용하고 있어"),
                  std::string::npos)
            << busy.Problem;
        EXPECT_EQ(Slots(), 0);
        host.Execute("ROLLBACK");
    }
    EXPECT_EQ(ReadCompanyKey(folder.string()), "");

    const TAddOutcome added = session.AddFolder(folder.string(), TSameFolder::LeaveAsItIs);
    ASSERT_EQ(added.Kind, TAddOutcome::aoAdded);
    EXPECT_EQ(added.CompanyKey, ReadCompanyKey(folder.string()));
    EXPECT_EQ(Listed("가게")->LocalPath, folder.string());
    EXPECT_EQ(session.AddFolder(folder.string(), TSameFolder::LeaveAsItIs).Kind,
              TAddOutcome::aoAlreadyAdded);
    EXPECT_EQ(Slots(), 1);
    // The window's add writes the folder again, as it always has; its shutdown folds them.
    EXPECT_EQ(session.AddFolder(folder.string(), TSameFolder::AddAgain).Kind, TAddOutcome::aoAdded);
    EXPECT_EQ(Slots(), 2);
}

// A company that can't be transferred is that company's outcome; the next one still goes. A
// service that can't be reached ends the command.
TEST_F(CompanySessionTest, ACompanysFailureIsItsOwnOutcomeAndTheTransportEndsTheCommand) {
    const fs::path web = MakeCompany("web", "웹 가게");
    session.AddFolder(web.string(), TSameFolder::LeaveAsItIs);
    const TTidewellCompanyPtr first = Listed("웹 가게");
    ASSERT_EQ(session.Transfer(first, first->SyncMode, TKeepSide::Unanswered).Kind,
              TCompanyOutcome::coDone);
    // Its folder now holds another company's data (a folder mixed up by hand).
    fs::remove(web / "default.mdb");
    MakeCompanyFolder(web.string(), {.name = "남의 가게", .withKey = true});
    const fs::path other = MakeCompany("other", "다른 가게");
    session.AddFolder(other.string(), TSameFolder::LeaveAsItIs);
    const TTidewellCompanyPtr mixed = Listed("웹 가게");
    mixed->LocalPath = web.string();  // as the list showed it before the data was swapped

    // Read again right before, the swap is a change since the list: nothing moves yet.
    const TCompanyOutcome changed = session.Transfer(mixed, smUserDownload, TKeepSide::Unanswered);
    EXPECT_EQ(changed.Kind, TCompanyOutcome::coChanged);
    const TCompanyOutcome refused = session.Transfer(mixed, smUserDownload, TKeepSide::Unanswered);
    EXPECT_EQ(refused.Kind, TCompanyOutcome::coFailed);
    EXPECT_EQ(refused.Message.rfind("선택한 폴더에 다른 사업장의 자료가 있어", 0), 0u)
        << refused.Message;
    const TTidewellCompanyPtr second = Listed("다른 가게");
    EXPECT_EQ(session.Transfer(second, second->SyncMode, TKeepSide::Unanswered).Kind,
              TCompanyOutcome::coDone);

    session.Account().Service.URL = "http://127.0.0.1:1";  // nothing listens there
    SetFileModifiedTime((other / "default.mdb").string(), kOlder + 1);
    EXPECT_THROW(session.Transfer(second, smUpload, TKeepSide::Unanswered), HttpError);
}

// The list is minutes old when its transfer starts, and another computer sent newer data
// meanwhile: read again, the company changed on both sides, so nothing is sent over the other
// computer's data; asked again, it is a question, not an upload.
TEST_F(CompanySessionTest, AChangeSinceTheListIsDecidedAgainBeforeAnythingMoves) {
    const fs::path shop = MakeCompany("shop", "가게");
    session.AddFolder(shop.string(), TSameFolder::LeaveAsItIs);
    TTidewellCompanyPtr company = Listed("가게");
    ASSERT_EQ(session.Transfer(company, company->SyncMode, TKeepSide::Unanswered).Kind,
              TCompanyOutcome::coDone);
    ExecCompanySql(shop.string(), "delete from inventory where rowid < 10");
    SetFileModifiedTime((shop / "default.mdb").string(), kOlder + 1);
    company = Listed("가게");
    ASSERT_EQ(session.Decide(*company).Mode, smUpload);

    const fs::path elsewhere = core.dir / "elsewhere";
    fs::create_directories(elsewhere);
    fs::copy_file(shop / "default.mdb", elsewhere / "default.mdb");
    ExecCompanySql(elsewhere.string(), "delete from inventory where rowid > 90");
    SetFileModifiedTime((elsewhere / "default.mdb").string(), kOlder + 2);
    CompanySession other{SessionSetup()};
    ASSERT_EQ(other.Login("kim", "pw1234").Kind, TLoginOutcome::loLoggedIn);
    other.BuildList();
    TTidewellUser& account = other.Account();
    account.GetCompany(account.IndexOfCompany(company->CompanyKey))->LocalPath = elsewhere.string();
    ASSERT_EQ(account.UploadCompany(company->CompanyKey).Kind, TTransferResult::trDone);

    const auto uploads = [&] {
        const std::string log = service.LogText();
        int count = 0;
        for (auto at = log.find("gwupload"); at != std::string::npos;
             at = log.find("gwupload", at + 1)) {
            ++count;
        }
        return count;
    };
    const int before = uploads();
    const TCompanyOutcome changed = session.Transfer(company, smUpload, TKeepSide::Unanswered);
    ASSERT_EQ(changed.Kind, TCompanyOutcome::coChanged);
    EXPECT_EQ(changed.Previous.Mode, smUpload);
    EXPECT_EQ(changed.Decision.Ask, TSyncDecision::akBothChanged);
    EXPECT_EQ(Stamp(company->LatestFileTime), Stamp(kOlder + 2));  // the row shows it as it is
    EXPECT_EQ(session.Transfer(company, smUpload, TKeepSide::Unanswered).Kind,
              TCompanyOutcome::coConflict);
    EXPECT_EQ(uploads(), before);
}

// A folder renamed in the folder picker takes the companies registered in it along, their
// agreement too; a sibling whose name merely starts the same stays. No second slot, no company
// left without its folder.
TEST_F(CompanySessionTest, AFolderRenamedInThePickerTakesItsRegistrationsAlong) {
    fs::create_directories(core.dir / "shops");
    const fs::path inside = MakeCompany("shops/main", "본점");
    const fs::path sibling = MakeCompany("shops-old", "옆 가게");
    session.AddFolder(inside.string(), TSameFolder::LeaveAsItIs);
    session.AddFolder(sibling.string(), TSameFolder::LeaveAsItIs);
    TTidewellCompanyPtr company = Listed("본점");
    ASSERT_EQ(session.Transfer(company, company->SyncMode, TKeepSide::Unanswered).Kind,
              TCompanyOutcome::coDone);
    const TAgreedState agreed = session.Registry().Load().at(0).Synced;
    ASSERT_GT(agreed.Time, 0);
    company = Listed("본점");
    ASSERT_EQ(company->SyncMode, smNone);

    fs::rename(core.dir / "shops", core.dir / "branches");
    EXPECT_EQ(
        session.FolderRenamed((core.dir / "shops").string(), (core.dir / "branches").string()), 1);
    EXPECT_EQ(company->LocalPath, (core.dir / "branches" / "main").string());
    const std::vector<TCompanySlot> slots = session.Registry().Load();
    ASSERT_EQ(slots.size(), 2u);
    EXPECT_EQ(slots[0].LocalPath, (core.dir / "branches" / "main").string());
    EXPECT_EQ(slots[0].Synced.Time, agreed.Time);
    EXPECT_EQ(slots[1].LocalPath, sibling.string());
    for (const TCompanyRow& row : session.BuildList().Rows) {
        EXPECT_FALSE(row.Missing) << row.Company->CompanyName;
        if (row.Company->CompanyName == "본점") {
            EXPECT_EQ(row.Company->SyncMode, smNone);
        }
    }
}

// A company whose folder was moved away is listed as missing, never as a download; the folder
// chosen for it takes the old registration's place: one slot, at the new folder.
TEST_F(CompanySessionTest, AMissingFolderChosenAgainKeepsOneSlot) {
    const fs::path shop = MakeCompany("shop", "가게");
    session.AddFolder(shop.string(), TSameFolder::LeaveAsItIs);
    const fs::path moved = core.dir / "moved";
    fs::rename(shop, moved);
    const TCompanyList list = session.BuildList();
    ASSERT_EQ(list.Rows.size(), 1u);
    ASSERT_TRUE(list.Rows[0].Missing);
    EXPECT_EQ(list.Rows[0].Missing->Path, shop.string());
    EXPECT_FALSE(list.Rows[0].Checked);
    EXPECT_EQ(session.Transfer(list.Rows[0].Company, smDownload, TKeepSide::Unanswered).Nothing,
              TCompanyOutcome::tnMissingFolder);

    EXPECT_EQ(session.PickFolder(*list.Rows[0].Company, moved.string()), "");
    session.SaveSlots(list.Rows);
    const std::vector<TCompanySlot> slots = session.Registry().Load();
    ASSERT_EQ(slots.size(), 1u);
    EXPECT_EQ(slots[0].LocalPath, moved.string());
}

// Going back to a safety archive is the newest change on this computer: the data takes the time
// of the return, so the next sync sends it, with or without an agreement; when the web folder
// changed meanwhile too, the user is asked.
TEST_F(CompanySessionTest, TheWayBackIsThisComputersNewestChange) {
    const fs::path shop = MakeCompany("shop", "가게", 200);
    session.AddFolder(shop.string(), TSameFolder::LeaveAsItIs);
    TTidewellCompanyPtr company = Listed("가게");
    ASSERT_EQ(session.Transfer(company, company->SyncMode, TKeepSide::Unanswered).Kind,
              TCompanyOutcome::coDone);
    // Another computer sends newer data; this one takes it, and keeps its own in a safety archive.
    const auto elsewhere = [&](TDateTime time) {
        const fs::path copy = core.dir / "elsewhere";
        fs::remove_all(copy);
        fs::create_directories(copy);
        fs::copy_file(shop / "default.mdb", copy / "default.mdb");
        ExecCompanySql(copy.string(), "delete from inventory where rowid < 20");
        SetFileModifiedTime((copy / "default.mdb").string(), time);
        TTidewellUser other({ServiceEndpoint{service.BaseUrl(), {}}, core.Places(), nullptr});
        ASSERT_TRUE(other.Login("kim", "pw1234"));
        other.LoadCompanies();
        other.GetCompany(0)->LocalPath = copy.string();
        ASSERT_EQ(other.UploadCompany(company->CompanyKey).Kind, TTransferResult::trDone);
    };
    elsewhere(kOlder + 1);
    company = Listed("가게");
    ASSERT_EQ(company->SyncMode, smDownload);
    ASSERT_EQ(session.Transfer(company, smDownload, TKeepSide::Unanswered).Kind,
              TCompanyOutcome::coDone);
    const THistory history = session.History(*company);
    ASSERT_EQ(history.Archives.size(), 1u);

    clock.pinned = EncodeDateTime({2026, 1, 5, 10, 20, 31, 700});
    ASSERT_EQ(session.RestoreSafetyArchive(company, history.Archives[0].Path).Kind,
              TCompanyOutcome::coDone);
    company = Listed("가게");
    EXPECT_EQ(Stamp(company->LocalModified), "20260105102030");  // at file-time resolution
    EXPECT_EQ(session.Decide(*company).Mode, smUpload);
    company->Synced = {};
    EXPECT_EQ(session.Decide(*company).Mode, smUpload);

    elsewhere(EncodeDateTime({2026, 1, 5, 11, 0, 0, 0}));
    company = Listed("가게");
    EXPECT_EQ(session.Decide(*company).Ask, TSyncDecision::akBothChanged);
}

// The service refuses the company list after a good login: the user stays logged in, the list
// holds this computer's companies, none goes by itself, and the reason is the service's.
TEST_F(CompanySessionTest, ARefusedListLeavesTheLocalCompaniesAndTellsWhy) {
    const fs::path shop = MakeCompany("shop", "가게");
    session.AddFolder(shop.string(), TSameFolder::LeaveAsItIs);
    const TTidewellCompanyPtr uploaded = Listed("가게");
    session.Transfer(uploaded, uploaded->SyncMode, TKeepSide::Unanswered);
    const fs::path here = MakeCompany("here", "이 컴퓨터에만");
    session.AddFolder(here.string(), TSameFolder::LeaveAsItIs);
    ASSERT_EQ(session.BuildList().Rows.size(), 2u);

    test::ListRefusingProxy proxy(service.BaseUrl(), "계정 정보가 바뀌었습니다.");
    session.Account().Service.URL = proxy.url();
    const TCompanyList list = session.BuildList();
    EXPECT_FALSE(list.WebListed);
    EXPECT_EQ(list.WebRefusal, "계정 정보가 바뀌었습니다.");
    ASSERT_EQ(list.Rows.size(), 2u);
    for (const TCompanyRow& row : list.Rows) {
        EXPECT_EQ(row.Company->LatestFileTime, 0) << row.Company->CompanyName;  // unknown now
        EXPECT_FALSE(row.Checked) << row.Company->CompanyName;
    }
    EXPECT_EQ(session.Account().CompanyCount(), 2);
    EXPECT_FALSE(session.Account().UserID.empty());

    // A refused login says why in the service's words.
    CompanySession other(SessionSetup());
    const TLoginOutcome refused = other.Login("kim", "wrong");
    EXPECT_EQ(refused.Kind, TLoginOutcome::loRefused);
    EXPECT_FALSE(refused.Reason.empty());
}

}  // namespace
}  // namespace tidewell
