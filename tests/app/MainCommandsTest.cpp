#include <gtest/gtest.h>

#include <functional>

#include "CompanyMaker.h"
#include "MainTestSupport.h"
#include "company/BackupCompany.h"
#include "company/Common.h"
#include "company/LocalCompanyList.h"
#include "gateway/TidewellGateway.h"
#include "platform/CompanyDatabase.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

using test::MainFixture;

using test::kNewer;
using test::kOlder;

int Requests(const MainFixture& f, const std::string& what) {
    const std::string log = f.service.LogText();
    int count = 0;
    for (std::size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) {
        ++count;
    }
    return count;
}

TEST(ApplicationError, FullStopAddedAfterCharactersThatSortAfterIt) {
    EXPECT_EQ(ApplicationErrorText("Cannot read archive"), "Cannot read archive.");
    EXPECT_EQ(ApplicationErrorText("done."), "done.");
    EXPECT_EQ(ApplicationErrorText("what?!"), "what?!");  // "!" sorts before "."
    EXPECT_EQ(ApplicationErrorText("연결할 수 없습니다"), "연결할 수 없습니다.");
    EXPECT_EQ(ApplicationErrorText(""), "");
}

TEST(MainTransfer, ProgressPanelShowsSizesOnlyDuringTheTransferStage) {
    MainFixture f;
    f.form->ShowTransferProgress(nullptr, "백업", "m", 0, 0, 40);  // panel hidden: nothing
    EXPECT_EQ(f.view->Text(Element::labelProgressCaption), "");
    f.view->SetVisible(Element::panelProgress, true);
    f.form->ShowTransferProgress(nullptr, "백업", "업로드할 자료를 백업중입니다...", 0, 0, 40);
    EXPECT_FALSE(f.view->Visible(Element::labelProgressSize));
    EXPECT_EQ(f.view->Text(Element::labelProgressCaption), "업로드할 자료를 백업중입니다...");
    EXPECT_EQ(f.view->Position(Element::ProgressBar), 40);
    f.form->ShowTransferProgress(nullptr, "전송", "자료를 전송중입니다...", 2048, 1536, 75);
    EXPECT_TRUE(f.view->Visible(Element::labelProgressSize));
    EXPECT_EQ(f.view->Text(Element::labelProgressSize), "2KB/2KB");
    f.form->ShowTransferProgress(nullptr, "전송", "자료를 전송중입니다...", 3 << 20, 1 << 20, 33);
    EXPECT_EQ(f.view->Text(Element::labelProgressSize), "1.0MB/3.0MB");
}

// The panel says what happens from the start: the re-read of both sides before a transfer
// has its caption, and each stage after it its own.
TEST(MainTransfer, EachStepOfATransferHasItsCaptionFromTheStart) {
    MainFixture f;
    f.Register(0, f.MakeCompany("one", "하나", kOlder), "하나");
    f.LogIn();
    std::vector<std::string> captions;
    f.view->OnTextChanged = [&](Element element, const std::string& text) {
        if (element == Element::labelProgressCaption && !text.empty() &&
            (captions.empty() || captions.back() != text)) {
            captions.push_back(text);
        }
    };
    f.form->btnSyncSelectedClick();
    EXPECT_EQ(captions, (std::vector<std::string>{
                            "자료를 확인하는 중...", "업로드할 자료를 백업중입니다...",
                            "자료를 전송중입니다...", "목록을 새로 고치는 중입니다..."}));
}

TEST(MainTransfer, ThreeCheckedRowsStopAtTheOneWithoutAFolder) {
    MainFixture f;
    const std::string first = f.MakeWebCompany("첫째", kOlder);
    f.MakeWebCompany("둘째", kOlder);
    const auto firstFolder = f.MakeCompany("first", "첫째", kNewer);
    ExecCompanySql(firstFolder.string(), "update [ver] set dbkey = '" + first + "'");
    f.Register(0, firstFolder, "첫째");
    const auto third = f.MakeCompany("third", "셋째", kNewer);
    f.Register(1, third, "셋째");
    f.LogIn();
    ASSERT_EQ(f.form->RowCount(), 3);
    // Never agreed with the web folder: asked, not checked; without a folder: not checked.
    EXPECT_FALSE(f.form->Row(f.RowOf("첫째")).Checked);
    EXPECT_FALSE(f.form->Row(f.RowOf("둘째")).Checked);
    EXPECT_TRUE(f.form->Row(f.RowOf("셋째")).Checked);
    for (int i = 0; i < 3; ++i) {
        if (!f.form->Row(i).Checked) f.form->ToggleRowCheck(i);
    }
    const int rebuilds = f.view->RowsChangedCount;
    f.core.ui.answers = {MessageResult::Yes};  // keep this computer's 첫째
    f.form->btnSyncSelectedClick();
    // The folderless row is passed over and named in the summary; the rows after it still go.
    ASSERT_EQ(f.Messages().size(), 2u);
    EXPECT_NE(f.Messages()[1].find("건너뛴 사업장:\r\n둘째: "), std::string::npos)
        << f.Messages()[1];
    EXPECT_EQ(f.form->Row(f.RowOf("첫째")).Company->SyncMode, smNone);  // uploaded
    EXPECT_EQ(f.form->Row(f.RowOf("셋째")).Company->SyncMode, smNone);  // uploaded too
    EXPECT_GT(f.view->RowsChangedCount, rebuilds);
    EXPECT_FALSE(f.view->Visible(Element::panelProgress));
    EXPECT_FALSE(f.form->Busy());
    EXPECT_NE(f.view->Text(Element::labelUserDiskUsed), "웹폴더사용량: 0KB");
}

TEST(MainTransfer, EndedPeriodRefusesUploadsButDownloadsStillRun) {
    MainFixture f;
    const std::string web = f.MakeWebCompany("웹", kNewer);
    f.service.AddUser("kim", "pw1234", "김철수", 0);  // the period ends
    const auto up1 = f.MakeCompany("up1", "올리기 하나", kOlder);
    const auto up2 = f.MakeCompany("up2", "올리기 둘", kOlder);
    f.Register(0, up1, "올리기 하나");
    f.Register(1, up2, "올리기 둘");
    f.LogIn();
    const int webRow = f.RowOf("웹");
    f.view->PointerRow = webRow;
    f.view->PointerOverFolderLink = true;
    const fs::path target = f.core.dir / "download-here";
    f.view->OnBrowseForFolder = [&](const std::string&, std::string& folder, bool) {
        folder = target.string();
        return true;
    };
    f.form->vtClick();
    if (!f.form->Row(webRow).Checked) f.form->ToggleRowCheck(webRow);
    f.form->btnSyncSelectedClick();
    ASSERT_EQ(f.Messages().size(), 3u);  // each refusal as it comes, then the summary
    EXPECT_EQ(f.Messages()[0], "올리기 하나\r\n사용기한이 만료되어 자료를 전송할 수 없습니다.");
    EXPECT_EQ(f.Messages()[1], "올리기 둘\r\n사용기한이 만료되어 자료를 전송할 수 없습니다.");
    EXPECT_NE(f.Messages()[2].find("전송한 사업장: 웹"), std::string::npos) << f.Messages()[2];
    EXPECT_TRUE(fs::exists(target / "default.mdb"));
    EXPECT_EQ(ReadCompanyKey(target.string()), web);
}

TEST(MainTransfer, CheckedRowWithNothingToDoIsPassedOverSilently) {
    MainFixture f;
    const auto local = f.MakeCompany("local", "가게", kOlder);
    f.Register(0, local, "가게");
    f.LogIn();
    f.form->btnSyncSelectedClick();  // the local-only company goes up
    ASSERT_EQ(f.form->Row(0).Company->SyncMode, smNone);
    f.core.ui.boxes.clear();
    const int uploads = Requests(f, "gwupload");
    f.form->ToggleRowCheck(0);
    f.form->btnSyncSelectedClick();
    // Nothing is sent; the summary says why.
    ASSERT_EQ(f.Messages().size(), 1u);
    EXPECT_NE(f.Messages()[0].find("건너뛴 사업장:\r\n가게: "), std::string::npos);
    EXPECT_EQ(Requests(f, "gwupload"), uploads);
}

TEST(MainTransfer, SyncAllWithoutCheckedRowsJustRebuilds) {
    MainFixture f;
    f.LogIn();
    f.form->btnSyncSelectedClick();
    EXPECT_EQ(f.Messages(), (std::vector<std::string>{"사업장을 선택해 주세요."}));
    f.core.ui.boxes.clear();
    const int rebuilds = f.view->RowsChangedCount;
    f.form->menuSyncAllClick();
    // Nothing to do is said, not silently rebuilt.
    EXPECT_EQ(f.Messages(), (std::vector<std::string>{"사업장을 선택해 주세요."}));
    EXPECT_EQ(f.view->RowsChangedCount, rebuilds);
}

TEST(MainTransfer, SingleCompanyCommandUploadsTheHotRowWhateverItsMark) {
    MainFixture f;
    const std::string key = f.MakeWebCompany("가게", kNewer);
    const auto local = f.MakeCompany("local", "가게", kOlder);
    ExecCompanySql(local.string(), "update [ver] set dbkey = '" + key + "'");
    SetFileModifiedTime((local / "default.mdb").string(), kOlder);
    f.Register(0, local, "가게");
    f.LogIn();
    ASSERT_EQ(f.form->Row(0).Company->SyncMode, smDownload);
    f.view->PointerRow = 0;
    if (f.form->Row(0).Checked) f.form->ToggleRowCheck(0);
    f.form->menuSyncModeUploadClick();
    ASSERT_EQ(f.form->Row(0).Company->SyncMode, smUserUpload);
    ASSERT_FALSE(f.form->Row(0).Checked);
    // Never agreed: asked first, and this computer's data is kept.
    f.core.ui.answers = {MessageResult::Yes};
    f.form->menuSyncSelectedClick();
    // The web folder now holds the older local data: both sides agree again.
    EXPECT_EQ(FormatDateTime("yyyymmddhhnnss", f.form->Row(0).Company->LatestFileTime),
              FormatDateTime("yyyymmddhhnnss", kOlder));
    EXPECT_EQ(f.form->Row(0).Company->SyncMode, smNone);
    EXPECT_FALSE(f.view->Visible(Element::panelProgress));
}

// A pump that runs other commands while a transfer waits, as a user clicking around would.
class ClickingPump : public MessagePump {
public:
    explicit ClickingPump(std::function<void()> clicks) : clicks_(std::move(clicks)) {}
    void ProcessMessages() override {
        if (done_) return;
        done_ = true;
        clicks_();
    }

private:
    std::function<void()> clicks_;
    bool done_ = false;
};

TEST(MainBusy, CommandsAreRefusedWhileATransferRuns) {
    MainFixture f;
    const auto local = f.MakeCompany("local", "가게", kOlder, 2000);
    f.Register(0, local, "가게");
    f.LogIn();
    int pickerCalls = 0;
    f.view->OnBrowseForFolder = [&](const std::string&, std::string&, bool) {
        ++pickerCalls;
        return false;
    };
    bool sawBusy = false;
    int rebuildsDuring = 0;
    ClickingPump pump([&] {
        sawBusy = f.form->Busy();
        const int rebuilds = f.view->RowsChangedCount;
        EXPECT_FALSE(f.form->FormCloseQuery());
        f.form->menuRefreshClick();
        f.form->imgCompanyAddClick();
        f.form->imgCompanyDeleteClick();
        f.form->menuSyncAllClick();
        f.form->menuSyncSelectedClick();
        f.form->Button1Click();
        f.form->menuViewClick();
        f.view->PointerRow = 0;
        f.view->PointerOverSyncButton = true;
        f.form->vtClick();
        f.view->PointerOverSyncButton = false;
        f.view->PointerOverFolderLink = true;
        f.form->vtClick();
        f.view->PointerOverFolderLink = false;
        f.form->ToggleRowCheck(0);
        f.form->menuSelectAllClick();
        rebuildsDuring = f.view->RowsChangedCount - rebuilds;
    });
    ScopedMessagePump scoped(pump);
    f.core.ui.boxes.clear();
    f.form->btnSyncSelectedClick();
    EXPECT_TRUE(sawBusy);
    EXPECT_EQ(pickerCalls, 0);
    EXPECT_EQ(rebuildsDuring, 0);
    // Only the close asked something (whether to stop the transfer); it was answered no. Then
    // the summary came.
    ASSERT_EQ(f.core.ui.boxes.size(), 2u);
    EXPECT_EQ(f.core.ui.boxes[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(f.core.ui.boxes[1].text.rfind("전송을 마쳤습니다. (전송 1)", 0), 0u);
    EXPECT_EQ(Requests(f, "gwupload"), 1);
    EXPECT_EQ(f.view->CloseRequests, 0);
    EXPECT_TRUE(f.form->FormCloseQuery());
}

TEST(MainBusy, ClosingDuringATransferStopsItWhenTheUserSaysSoAndThenCloses) {
    MainFixture f;
    f.Register(0, f.MakeCompany("local", "가게", kOlder, 2000), "가게");
    f.LogIn();
    f.core.ui.answers = {MessageResult::Yes};
    ClickingPump pump([&] { EXPECT_FALSE(f.form->FormCloseQuery()); });
    ScopedMessagePump scoped(pump);
    f.form->btnSyncSelectedClick();
    EXPECT_EQ(Requests(f, "gwupload"), 0);
    EXPECT_EQ(f.view->CloseRequests, 1);
    EXPECT_TRUE(f.form->FormCloseQuery());
}

TEST(MainTransfer, AnErrorEndsTheCommandHidesThePanelAndReachesTheErrorReport) {
    MainFixture f;
    const auto local = f.MakeCompany("local", "가게", kOlder);
    f.Register(0, local, "가게");
    f.LogIn();
    f.form->User().Service.URL = "http://127.0.0.1:1";  // nothing listens there
    f.form->Dispatch([&] { f.form->btnSyncSelectedClick(); });
    ASSERT_EQ(f.core.ui.boxes.size(), 1u);
    const auto& box = f.core.ui.boxes[0];
    EXPECT_EQ(box.title, "Tidewell");
    EXPECT_EQ(box.icon, MessageIcon::Error);
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
    EXPECT_EQ(box.text, "서버에 연결할 수 없습니다. (127.0.0.1:1)");
    EXPECT_FALSE(f.view->Visible(Element::panelProgress));
    EXPECT_FALSE(f.form->Busy());
    EXPECT_FALSE(f.view->WaitCursor);
    EXPECT_EQ(f.form->Row(0).Company->SyncMode, smUpload);  // the list was not rebuilt
}

TEST(MainAdd, TheLowestFreeSlotAndNoCheckForDuplicates) {
    MainFixture f;
    f.LogIn();
    auto key = f.ProgramKey();
    key.WriteString("Company00Path", "/a");
    key.WriteString("Company01Path", "/b");
    key.WriteString("Company03Path", "/d");
    const auto folder = f.MakeCompany("shop", "새 가게", kOlder);
    std::string askedTitle;
    f.view->OnBrowseForFolder = [&](const std::string& title, std::string& chosen,
                                    bool showNewFolder) {
        askedTitle = title;
        EXPECT_FALSE(showNewFolder);
        EXPECT_EQ(chosen, "");
        chosen = folder.string();
        return true;
    };
    f.form->imgCompanyAddClick();
    EXPECT_EQ(askedTitle, "사업장 폴더를 선택하세요.");
    EXPECT_EQ(key.ReadString("Company02Path"), folder.string());
    EXPECT_EQ(key.ReadString("Company02Name"), "새 가게");
    EXPECT_EQ(key.ReadString("Company02Key"), ReadCompanyKey(folder.string()));
    // The same folder again keeps its one slot.
    f.form->imgCompanyAddClick();
    EXPECT_FALSE(key.ValueExists("Company04Path"));
    EXPECT_EQ(f.form->RowCount(), 1);
    EXPECT_FALSE(f.view->WaitCursor);
}

TEST(MainAdd, FolderWithoutDatabaseOrNameIsNotAdded) {
    MainFixture f;
    f.LogIn();
    const int rebuilds = f.view->RowsChangedCount;
    fs::create_directories(f.core.dir / "empty");
    f.form->AddCompanyFolder((f.core.dir / "empty").string());
    EXPECT_EQ(f.view->RowsChangedCount, rebuilds);
    const auto nameless = f.MakeCompany("nameless", "x", kOlder);
    ExecCompanySql(nameless.string(), "update userinfo set legalname = ''");
    try {
        f.form->AddCompanyFolder(nameless.string());
        FAIL() << "an empty name must raise";
    } catch (const Exception& error) {
        EXPECT_EQ(std::string(error.what())
                      .rfind("사업장 추가: 사업장명은 빈 값일 수 없습니다. (Main, line ", 0),
                  0u);
    }
    EXPECT_FALSE(f.ProgramKey().ValueExists("Company00Path"));
}

TEST(MainAdd, AFolderRegisteredForAnotherCompanyAndAHundredAndFirstAreRefused) {
    MainFixture f;
    const auto folder = f.MakeCompany("shop", "가게", kOlder);
    f.ProgramKey().WriteString("Company00Key", "0123456789abcdef0123456789abcdef");
    f.ProgramKey().WriteString("Company00Name", "먼저 등록된 가게");
    f.ProgramKey().WriteString("Company00Path", folder.string());
    f.LogIn();
    f.core.ui.boxes.clear();
    f.form->AddCompanyFolder(folder.string());
    ASSERT_EQ(f.Messages().size(), 1u);
    EXPECT_NE(f.Messages()[0].find("먼저 등록된 가게"), std::string::npos);
    EXPECT_FALSE(f.ProgramKey().ValueExists("Company01Path"));

    for (int slot = 0; slot < kCompanySlotCount; ++slot) {
        f.ProgramKey().WriteString(CompanySlotValue(slot, "Path"),
                                   "/elsewhere/" + std::to_string(slot));
    }
    const auto another = f.MakeCompany("another", "또 다른 가게", kOlder);
    f.core.ui.boxes.clear();
    f.form->AddCompanyFolder(another.string());
    ASSERT_EQ(f.Messages().size(), 1u);
    EXPECT_NE(f.Messages()[0].find("100개"), std::string::npos);
    EXPECT_FALSE(f.ProgramKey().ValueExists("Company100Path"));
}

TEST(MainTransfer, ARefusedUploadIsToldWithTheServicesMessage) {
    MainFixture f;
    f.service.AddUser("kim", "pw1234", "김철수", 30, 1000);  // a web folder too small for it
    const auto local = f.MakeCompany("local", "가게", kOlder, 2000);
    f.Register(0, local, "가게");
    f.LogIn();
    f.form->btnSyncSelectedClick();
    ASSERT_EQ(f.Messages().size(), 1u);
    const std::string message = f.Messages()[0];
    const std::size_t named = message.find("전송하지 못한 사업장:\r\n가게\r\n");
    ASSERT_NE(named, std::string::npos) << message;
    EXPECT_GT(message.size(), named + std::string("전송하지 못한 사업장:\r\n가게\r\n").size());
    EXPECT_EQ(message.find("STATUS="), std::string::npos) << "the service's own text is shown";
    EXPECT_EQ(f.form->Row(0).Company->SyncMode, smUpload);
}

// The web folder holds another company's data under a company's key (a mixed-up service): the
// company whose folder is here is refused, and so is every one like it, but the companies after
// them still go; every refusal is told in one message once the loop is done.
TEST(MainTransfer, ARefusedCompanyDoesNotStopTheOthersAndAllAreToldTogether) {
    MainFixture f;
    const auto mixUp = [&](int slot, const std::string& folderName, const std::string& name) {
        const auto folder = f.MakeCompany(folderName, name, kOlder);
        f.Register(slot, folder, name);
        const std::string key = ReadCompanyKey(folder.string());
        TBackupCompany pack(f.core.WorkFolder().string());
        pack.SourceFolder = f.MakeCompany("stranger-" + folderName, "남의 가게", kNewer).string();
        std::string archive;
        pack.Backup("", archive);
        TAnswerList answer;
        EXPECT_TRUE(TTidewellGateway(f.service.BaseUrl())
                        .UploadFile("kim", "pw1234", key, name, archive, answer));
        return folder;
    };
    const auto a = mixUp(0, "a", "가게 가");
    const auto d = mixUp(1, "d", "가게 라");
    const std::string beforeA = test::ReadFile(a / "default.mdb");
    const std::string beforeD = test::ReadFile(d / "default.mdb");
    f.Register(2, f.MakeCompany("b", "가게 나", kOlder), "가게 나");
    f.Register(3, f.MakeCompany("c", "가게 다", kOlder), "가게 다");
    f.LogIn();
    ASSERT_EQ(f.form->RowCount(), 4);
    ASSERT_EQ(f.form->Row(0).Company->SyncMode, smDownload);
    // Never agreed here: the web folder's side is the one chosen for both mix-ups.
    for (int i = 0; i < 4; ++i) {
        if (!f.form->Row(i).Checked) f.form->ToggleRowCheck(i);
    }
    f.core.ui.answers = {MessageResult::No, MessageResult::No};
    f.form->btnSyncSelectedClick();
    ASSERT_EQ(f.Messages().size(), 3u);
    const std::string told = f.Messages()[2];
    EXPECT_NE(told.find("전송하지 못한 사업장:\r\n가게 가\r\n"), std::string::npos) << told;
    EXPECT_NE(told.find("\r\n\r\n가게 라\r\n"), std::string::npos) << told;
    EXPECT_NE(told.find("다른 사업장(남의 가게)"), std::string::npos) << told;
    EXPECT_EQ(Requests(f, "gwupload"), 4);  // the two mix-ups, then both uploads of this run
    EXPECT_EQ(f.form->Row(f.RowOf("가게 나")).Company->SyncMode, smNone);
    EXPECT_EQ(f.form->Row(f.RowOf("가게 다")).Company->SyncMode, smNone);
    EXPECT_EQ(test::ReadFile(a / "default.mdb"), beforeA);
    EXPECT_EQ(test::ReadFile(d / "default.mdb"), beforeD);
}

// A database that will not take its new key (its ver table has no row): the company is not
// registered under a key the database does not hold, and the user is told why.
TEST(MainAdd, AKeyThatCouldNotBeStoredIsToldAndNothingIsRegistered) {
    MainFixture f;
    f.LogIn();
    const fs::path folder = f.core.dir / "no-ver-row";
    MakeCompanyFolder(folder.string(), {.name = "행 없는 가게", .verRow = false});
    f.form->AddCompanyFolder(folder.string());
    ASSERT_EQ(f.Messages().size(), 1u);
    EXPECT_EQ(f.Messages()[0].rfind("사업장 추가: 사업장 키를 데이터베이스에 저장하지 못해", 0), 0u)
        << f.Messages()[0];
    EXPECT_NE(f.Messages()[0].find("ver 표에 행이 없어"), std::string::npos);
    EXPECT_FALSE(f.ProgramKey().ValueExists("Company00Path"));
    EXPECT_EQ(f.form->RowCount(), 0);
}

TEST(MainTransfer, AStopEndsTheLoopChangesNothingAndRebuildsTheList) {
    MainFixture f;
    f.Register(0, f.MakeCompany("one", "하나", kOlder, 3000), "하나");
    f.Register(1, f.MakeCompany("two", "둘", kOlder), "둘");
    f.LogIn();
    // Stopped once the first company's own work has begun (past the re-read of both sides).
    f.view->OnTextChanged = [&](Element element, const std::string& text) {
        if (element == Element::labelProgressCaption && !text.empty() &&
            text != "자료를 확인하는 중...")
            f.form->btnCancelTransferClick();
    };
    const int rebuilds = f.view->RowsChangedCount;
    f.form->btnSyncSelectedClick();
    // The word after a cancel: both named as cancelled.
    ASSERT_EQ(f.Messages().size(), 1u);
    EXPECT_EQ(f.Messages()[0].rfind("전송을 취소했습니다.", 0), 0u) << f.Messages()[0];
    EXPECT_NE(f.Messages()[0].find("취소한 사업장: 하나, 둘"), std::string::npos);
    EXPECT_EQ(Requests(f, "gwupload"), 0);
    EXPECT_GT(f.view->RowsChangedCount, rebuilds);
    EXPECT_EQ(f.form->Row(0).Company->SyncMode, smUpload);
    EXPECT_EQ(f.form->Row(1).Company->SyncMode, smUpload);
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(f.core.WorkFolder())) {
        if (entry.path().filename() != ".lock") left.push_back(entry.path().string());
    }
    EXPECT_TRUE(left.empty());
}

TEST(MainDelete, LocalOnlyCompanyLosesItsSlotAndKeepsItsFolder) {
    MainFixture f;
    const auto local = f.MakeCompany("local", "가게", kOlder);
    f.Register(4, local, "가게");
    f.LogIn();
    f.core.ui.answers = {MessageResult::No};
    f.form->imgCompanyDeleteClick();
    ASSERT_EQ(f.core.ui.boxes.size(), 1u);
    EXPECT_EQ(f.core.ui.boxes[0].title, "Quenlow 바코드 Tidewell");
    // The fixed question first, then what goes.
    const std::string& question = f.core.ui.boxes[0].text;
    EXPECT_EQ(question.rfind("선택된 사업장을 목록에서 삭제하시겠습니까?\r\r삭제시 웹폴더의 "
                             "모든 내용이 함께 삭제됩니다.",
                             0),
              0u);
    EXPECT_NE(question.find("\r- 가게"), std::string::npos) << question;
    EXPECT_EQ(f.core.ui.boxes[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(f.core.ui.boxes[0].defaultButton, MessageResult::No);
    EXPECT_EQ(f.core.ui.boxes[0].icon, MessageIcon::Warning);
    EXPECT_TRUE(f.ProgramKey().ValueExists("Company04Path"));

    f.core.ui.answers = {MessageResult::Yes};
    f.form->imgCompanyDeleteClick();
    EXPECT_FALSE(f.ProgramKey().ValueExists("Company04Path"));
    EXPECT_FALSE(f.ProgramKey().ValueExists("Company04Key"));
    EXPECT_TRUE(fs::exists(local / "default.mdb"));
    EXPECT_EQ(Requests(f, "deletecompany"), 0);
    EXPECT_EQ(f.form->RowCount(), 0);
}

TEST(MainDelete, WebCompanyIsDeletedThereAndSlotsStay) {
    MainFixture f;
    f.MakeWebCompany("웹", kOlder);
    const auto other = f.MakeCompany("other", "다른", kOlder);
    f.Register(0, other, "다른");
    f.LogIn();
    f.view->SetChecked(Element::CheckBox1, false);
    f.form->CheckBox1Click();
    const int web = f.RowOf("웹");
    // A folder picked in this run is in no slot yet: nothing local goes, the web copy does.
    f.view->PointerRow = web;
    f.view->PointerOverFolderLink = true;
    f.view->OnBrowseForFolder = [&](const std::string&, std::string& folder, bool) {
        folder = other.string();
        return true;
    };
    f.form->vtClick();
    f.form->ToggleRowCheck(web);
    f.core.ui.answers = {MessageResult::Yes};
    f.form->imgCompanyDeleteClick();
    EXPECT_EQ(Requests(f, "deletecompany"), 1);
    EXPECT_EQ(f.ProgramKey().ReadString("Company00Path"), other.string());
    EXPECT_EQ(f.RowOf("웹"), -1);
    EXPECT_EQ(f.view->Text(Element::labelUserDiskUsed), "웹폴더사용량: 0KB");
}

TEST(MainDelete, NothingCheckedAsksForASelection) {
    MainFixture f;
    f.LogIn();
    f.form->imgCompanyDeleteClick();
    EXPECT_EQ(f.Messages(), (std::vector<std::string>{"사업장을 선택해 주세요."}));
}

TEST(MainOpen, HostProductGetsTheQuotedFolderAsOneParameter) {
    MainFixture f;
    const auto local = f.MakeCompany("my shop folder", "가게", kOlder);
    f.Register(0, local, "가게");
    f.LogIn();
    f.view->PointerRow = 0;
    f.form->menuViewClick();  // no install folder: nothing
    EXPECT_TRUE(f.view->StartedPrograms.empty());
    f.core.hive()
        .OpenKey("Software\\QuenlowBarcode", true)
        ->WriteString("InstallPath", "/opt/quenlow barcode");
    f.form->menuViewClick();
    ASSERT_EQ(f.view->StartedPrograms.size(), 1u);
    EXPECT_EQ(f.view->StartedPrograms[0].Program, "/opt/quenlow barcode/QuenlowBarcode.exe");
    EXPECT_EQ(f.view->StartedPrograms[0].Parameters, "database=\"" + local.string() + "\"");
    EXPECT_EQ(f.view->StartedPrograms[0].WorkingFolder, "/opt/quenlow barcode");
    f.view->PointerRow.reset();
    f.form->menuViewClick();
    EXPECT_EQ(f.view->StartedPrograms.size(), 1u);
}

// An action that cannot act says why, once, instead of doing nothing.
TEST(MainOpen, AnActionThatCannotActSaysWhy) {
    struct Case {
        const char* name;
        std::function<void(MainFixture&)> act;
        const char* said;
    };
    const std::vector<Case> cases = {
        {"도움말 without a browser",
         [](MainFixture& f) {
             f.view->BrowserWorks = false;
             f.form->Label3Click();
         },
         "/support/tidewell.asp"},
        {"실행 without the host product", [](MainFixture& f) { f.form->menuViewClick(); },
         "설치되어 있지 않아"},
        {"실행 when the host product does not start",
         [](MainFixture& f) {
             f.core.hive()
                 .OpenKey("Software\\QuenlowBarcode", true)
                 ->WriteString("InstallPath", "/opt/quenlow barcode");
             f.view->ProgramsStart = false;
             f.form->menuViewClick();
         },
         "실행하지 못했습니다"},
        {"모든 사업장 전송 with nothing checked",
         [](MainFixture& f) { f.form->menuSyncAllClick(); }, "사업장을 선택해 주세요."},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        MainFixture f;
        f.Register(0, f.MakeCompany("shop", "가게", kOlder), "가게");
        f.LogIn();
        f.form->btnSyncSelectedClick();  // nothing left checked
        f.core.ui.boxes.clear();
        f.view->PointerRow = 0;
        test.act(f);
        ASSERT_EQ(f.Messages().size(), 1u);
        EXPECT_NE(f.Messages()[0].find(test.said), std::string::npos) << f.Messages()[0];
    }
}

TEST(MainAbout, VersionMessage) {
    MainFixture f;
    f.form->N3Click();
    EXPECT_EQ(f.Messages(), (std::vector<std::string>{"Quenlow 바코드 Tidewell\r버전 2.0.1.103"}));
}

}  // namespace
}  // namespace tidewell
