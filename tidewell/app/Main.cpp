#include "app/Main.h"

#include "company/Common.h"
#include "company/HostProduct.h"
#include "gateway/HttpClient.h"
#include "platform/Error.h"
#include "platform/SettingsHive.h"
#include "platform/UserInterface.h"
#include "usecase/AccountTexts.h"

namespace tidewell {
namespace {

constexpr const char* kUnit = "Main";
constexpr int kMinimumWidth = 480;
constexpr int kMinimumHeight = 337;

// A stored placement value, or nothing when it is missing or unreadable.
std::optional<std::int32_t> ReadSetting(const RegistryKey& key, const char* name) {
    try {
        return key.ReadInteger(name);
    } catch (const Exception&) {
        return std::nullopt;
    }
}

bool InRange(std::int64_t value, std::int64_t low, std::int64_t high) {
    return value >= low && value <= high;
}

// Shows the progress panel for a transfer command and hides it however the command ends,
// an error included.
class ProgressPanelScope {
public:
    explicit ProgressPanelScope(TformMainView& view) : view_(view) {
        view_.SetVisible(Element::panelProgress, true);
    }
    ProgressPanelScope(const ProgressPanelScope&) = delete;
    ProgressPanelScope& operator=(const ProgressPanelScope&) = delete;
    ~ProgressPanelScope() { view_.SetVisible(Element::panelProgress, false); }

private:
    TformMainView& view_;
};

// Marks the time a transfer command runs, whichever way it ends.
class TransferScope {
public:
    explicit TransferScope(bool& running) : running_(running) { running_ = true; }
    TransferScope(const TransferScope&) = delete;
    TransferScope& operator=(const TransferScope&) = delete;
    ~TransferScope() { running_ = false; }

private:
    bool& running_;
};

// The next choice when the user clicks the transfer-state area, for the decided mode d.
TSyncMode NextSyncMode(TSyncMode d, TSyncMode current) {
    switch (d) {
        case smNone:
            if (current == smNone) return smUserUpload;
            if (current == smUserUpload) return smUserDownload;
            if (current == smUserDownload) return smNone;
            break;
        case smUpload:
            if (current == smUpload) return smUserDownload;
            if (current == smUserDownload) return smUpload;
            break;
        case smDownload:
            if (current == smDownload) return smUserUpload;
            if (current == smUserUpload) return smDownload;
            break;
        default:
            break;
    }
    return current;
}

}  // namespace

void ShowApplicationError(const std::exception& error) {
    CurrentUserInterface().ShowMessageBox({kApplicationTitle, ApplicationErrorText(error.what()),
                                           MessageIcon::Error, MessageButtons::Ok,
                                           MessageResult::Ok});
}

// Sets Busy and the wait cursor for a long operation and restores both however it ends.
class TformMain::BusyScope {
public:
    explicit BusyScope(TformMain& form) : form_(form) {
        form_.Busy_ = true;
        form_.View.SetWaitCursor(true);
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    ~BusyScope() {
        form_.View.SetWaitCursor(false);
        form_.Busy_ = false;
        if (std::exchange(form_.CloseAfterStop_, false)) form_.View.CloseWindow();
    }

private:
    TformMain& form_;
};

TformMain::TformMain(TformMainView& view, const TSessionSetup& setup)
    : View(view), session_(setup) {
    session_.Account().OnFormatChange = &TformMain::AskFormatChange;
}

TformMain::~TformMain() = default;

void TformMain::Dispatch(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowApplicationError(error);
    } catch (...) {
        ShowApplicationError(Exception("알 수 없는 오류가 발생하였습니다"));
    }
}

const TCompanyRow& TformMain::Row(int row) const {
    return Rows.at(static_cast<std::size_t>(row));
}

bool TformMain::CheckedRowExists() const {
    for (const auto& row : Rows) {
        if (row.Checked) return true;
    }
    return false;
}

std::string TformMain::SiteURL(const std::string& path) const {
    return User().Service.URL + path;
}

void TformMain::RunCommand(TPanel panel, const std::function<void()>& work,
                           const std::function<void()>& after) {
    if (Busy_) return;
    BusyScope busy(*this);
    session_.ResetStop();
    {
        std::optional<ProgressPanelScope> shown;
        if (panel == TPanel::Shown) shown.emplace(View);
        const TransferScope running(TransferRunning_);
        Refusals_.clear();
        try {
            if (work) work();
        } catch (const OperationStopped&) {
            // The user stopped: what is left waits for another time.
        } catch (...) {
            ShowRefusals();
            throw;
        }
        ShowRefusals();
    }
    if (after) after();
}

// ---------------------------------------------------------------------------------------
// Start, run, stop

void TformMain::FormCreate() {
    View.SetCaption(kMainFormCaption);
    View.SetText(Element::labelProgressTitle, "");
    View.SetText(Element::labelProgressCaption, "");
    RestorePlacement();
    View.SetText(Element::labelUserName, "");
    View.SetText(Element::labelUserDiskUsed, "");
    View.SetText(Element::labelUserExpireAt, "");
    View.SetEnabled(Element::CheckBox1, false);
    View.SetEnabled(Element::vt, false);
}

void TformMain::RestorePlacement() {
    const auto key = session_.Settings().OpenKey(kProgramKey, false);
    if (!key) {
        View.CenterOnScreen();
        return;
    }
    const WindowBounds area = View.WorkArea();
    WindowBounds bounds = View.Bounds();
    const std::int64_t areaRight = std::int64_t{area.Left} + area.Width;
    const std::int64_t areaBottom = std::int64_t{area.Top} + area.Height;
    if (auto v = ReadSetting(*key, "MainFormLeft"); v && *v >= area.Left && *v < areaRight) {
        bounds.Left = *v;
    }
    if (auto v = ReadSetting(*key, "MainFormTop"); v && *v >= area.Top && *v < areaBottom) {
        bounds.Top = *v;
    }
    if (auto v = ReadSetting(*key, "MainFormWidth"); v && InRange(*v, kMinimumWidth, area.Width)) {
        bounds.Width = *v;
    }
    if (auto v = ReadSetting(*key, "MainFormHeight");
        v && InRange(*v, kMinimumHeight, area.Height)) {
        bounds.Height = *v;
    }
    View.SetBounds(bounds);
    if (auto v = ReadSetting(*key, "MainFormMaximized"); v && *v != 0) View.SetMaximized(true);

    std::string lastLogin;
    try {
        lastLogin = key->ReadString("LastLoginID");
    } catch (const Exception&) {
        // a value of the wrong type counts as none
    }
    View.SetText(Element::Edit1, lastLogin);
    if (!TrimBlanks(lastLogin).empty()) {
        View.SetFocus(Element::Edit2);
        View.SetChecked(Element::CheckBox2, true);
    }
}

void TformMain::FormShow() {
    if (User().UserID.empty()) View.CoverWithLoginPanel();
}

bool TformMain::FormCloseQuery() {
    if (!Busy_) return true;
    // A transfer can be stopped cleanly; the window closes once it has.
    if (TransferRunning_ && !CloseAfterStop_) {
        const MessageResult answer = CurrentUserInterface().ShowMessageBox(
            {kApplicationTitle,
             "자료를 전송하고 있습니다.\r\n전송을 취소하고 프로그램을 닫으시겠습니까?",
             MessageIcon::Question, MessageButtons::YesNo, MessageResult::No});
        if (answer == MessageResult::Yes) {
            CloseAfterStop_ = true;
            session_.RequestStop();
        }
    }
    return false;
}

void TformMain::FormDestroy() {
    SettingsHive& hive = session_.Settings();
    auto key = hive.OpenKey(kProgramKey, true);
    // One transaction: a run that dies here leaves the previous settings whole.
    auto batch = hive.Batch();
    const bool maximized = View.Maximized();
    if (!maximized) {
        const WindowBounds bounds = View.Bounds();
        key->WriteInteger("MainFormLeft", bounds.Left);
        key->WriteInteger("MainFormTop", bounds.Top);
        key->WriteInteger("MainFormWidth", bounds.Width);
        key->WriteInteger("MainFormHeight", bounds.Height);
    }
    key->WriteInteger("MainFormMaximized", maximized ? 1 : 0);
    if (View.Checked(Element::CheckBox2)) {
        if (!User().UserID.empty()) key->WriteString("LastLoginID", User().UserID);
    } else {
        key->DeleteValue("LastLoginID");
    }
    // Rows that were not built completely do not hold every stored company; rewriting the
    // slots from them would drop the others.
    if (ListComplete_) session_.SaveSlots(Rows);
    batch.Commit();
}

// ---------------------------------------------------------------------------------------
// Login panel and account header

void TformMain::SetLoginControlsEnabled(bool enabled) {
    for (Element e : {Element::Edit1, Element::Edit2, Element::btnLogin, Element::CheckBox2}) {
        View.SetEnabled(e, enabled);
    }
}

void TformMain::Button1Click() {
    if (Busy_) return;
    const std::string userID = View.Text(Element::Edit1);
    const std::string password = View.Text(Element::Edit2);
    const bool idBlank = TrimBlanks(userID).empty();
    const bool passwordBlank = TrimBlanks(password).empty();
    if (idBlank || passwordBlank) {
        ShowAppMessage("로그인 정보가 올바르지 않습니다.");
        if (passwordBlank) View.SetFocus(Element::Edit2);
        if (idBlank) View.SetFocus(Element::Edit1);
        return;
    }
    BusyScope busy(*this);
    SetLoginControlsEnabled(false);
    // The window says the same for every way a login can fail; only a service that can't be
    // reached is told apart from a wrong password.
    const auto failed = [&](const std::string& why) {
        SetLoginControlsEnabled(true);
        ShowAppMessage("로그인하는 중 오류가 발생하였습니다." +
                       (why.empty() ? std::string() : "\r\n" + why));
        View.SetFocus(Element::Edit2);
    };
    const TLoginOutcome login = session_.Login(userID, password);
    switch (login.Kind) {
        case TLoginOutcome::loBlank:
            SetLoginControlsEnabled(true);
            ShowAppMessage(
                "로그인실패\r\n입력하신 아이디와 비밀번호가 등록된 정보와 일치하지 않습니다.");
            View.SetFocus(Element::Edit2);
            return;
        case TLoginOutcome::loRefused:
            failed({});
            return;
        case TLoginOutcome::loTransport:
            failed(login.Reason);
            return;
        case TLoginOutcome::loLoggedIn:
            break;
    }
    try {
        View.SetText(Element::labelUserName, UserNameText(User()));
        View.SetText(Element::labelUserDiskUsed, DiskUsedText(User().DiskUsed));
        ExpireLinkAttached_ = true;
        ShowServicePeriod();
        RefreshCompanyList();
        View.SetVisible(Element::panelLogin, false);
        View.SetEnabled(Element::CheckBox1, true);
        View.SetEnabled(Element::vt, true);
        View.SetFocus(Element::vt);
    } catch (const HttpError& transport) {
        failed(transport.what());
    } catch (const std::exception&) {
        failed({});
    }
}

void TformMain::ShowServicePeriod() {
    const TServicePeriodText period = ServicePeriodText(User());
    View.SetText(Element::labelUserExpireAt, period.Text);
    View.SetLabelLook(Element::labelUserExpireAt,
                      period.Warning ? LabelColor::Red : LabelColor::WindowText, period.Tooltip,
                      true);
}

void TformMain::Edit1KeyPress(char key) {
    if (key == '\r') Button1Click();
}

void TformMain::Edit2KeyPress(char key) {
    if (key == '\r') Button1Click();
}

void TformMain::labelUserExpireAtClick() {
    if (ExpireLinkAttached_) View.DesktopShell().OpenUrl(SiteURL("/member/pay_member_2.asp"));
}

void TformMain::Label4Click() {
    View.DesktopShell().OpenUrl(SiteURL("/"));
}

void TformMain::Label3Click() {
    View.DesktopShell().OpenUrl(SiteURL("/support/tidewell.asp"));
}

// ---------------------------------------------------------------------------------------
// Company list

int TformMain::FindCompanyRow(const std::string& companyKey) const {
    for (int i = 0; i < RowCount(); ++i) {
        if (CompanyOf(i).CompanyKey == companyKey) return i;
    }
    return -1;
}

void TformMain::RefreshCompanyList() {
    View.SetChecked(Element::CheckBox1, false);
    ListComplete_ = false;
    TCompanyList list = session_.BuildList();
    Rows = std::move(list.Rows);
    View.RowsChanged();
    // Without the settings the rows lack the stored companies: the shutdown must not rewrite
    // the slots from them.
    ListComplete_ = list.SettingsReadable;
    if (!list.WebListed) {
        ShowAppMessage("웹폴더의 사업장 목록을 받지 못해 이 컴퓨터의 사업장만 보여 드립니다.\r\n" +
                       list.WebRefusal);
    }
    if (!list.SettingsReadable) {
        ShowAppMessage("설정 파일을 읽을 수 없어 이 컴퓨터의 사업장을 목록에 넣지 못했습니다.\r\n" +
                       session_.Settings().file().string());
    }
    if (!list.Damaged.empty()) {
        std::string damaged;
        for (const TSkippedCompanySlot& skipped : list.Damaged) {
            damaged += "\r\n" + skipped.CompanyName + " (" + skipped.LocalPath + ")";
        }
        ShowAppMessage("다음 사업장의 자료를 읽을 수 없어 목록에서 뺐습니다." + damaged);
    }
}

TSyncDecision TformMain::Decision(int row) const {
    return session_.Decide(CompanyOf(row));
}

TSyncMode TformMain::DecideSyncMode(int row) const {
    return Decision(row).Mode;
}

void TformMain::vtClick() {
    if (Busy_) return;
    const auto row = View.RowUnderPointer();
    if (!row || !RowExists(*row)) return;
    TTidewellCompany& company = CompanyOf(*row);
    if (View.IsOverSyncButton(*row)) {
        company.SyncMode = NextSyncMode(DecideSyncMode(*row), company.SyncMode);
        Rows[static_cast<std::size_t>(*row)].Checked = company.SyncMode != smNone;
        View.RepaintRow(*row);
    } else if (View.IsOverFolderLink(*row)) {
        std::string folder = company.LocalPath;
        if (!View.BrowseForFolder(company.CompanyName + "의 데이터 폴더를 선택하세요.", folder,
                                  true)) {
            return;
        }
        // The picker ran its own loop; the rows may have been rebuilt meanwhile.
        if (!RowExists(*row)) return;
        const std::string owner = session_.PickFolder(company, folder);
        if (!owner.empty()) {
            ShowAppMessage("선택한 폴더는 다른 사업장(" + owner + ")의 폴더입니다.\r\n" +
                           company.CompanyName + "의 폴더로 쓸 수 없습니다.");
            return;
        }
        View.RepaintRow(*row);
    }
}

void TformMain::PopupMenu1Popup() {
    // The row the menu was opened on: under the pointer, or the list's current row when the
    // keyboard opened it.
    const auto row = View.HotRow();
    const bool overRow = row && RowExists(*row);
    for (Element e : {Element::menuSyncMode, Element::menuSyncSelected, Element::menuView}) {
        View.SetEnabled(e, overRow);
    }
    View.SetEnabled(Element::menuRestore, overRow && !CompanyOf(*row).LocalPath.empty());
    if (!overRow) return;
    const TSyncMode mode = CompanyOf(*row).SyncMode;
    const Element checked = mode == smUserDownload ? Element::menuSyncModeDownload
                            : mode == smUserUpload ? Element::menuSyncModeUpload
                                                   : Element::menuSyncModeAuto;
    for (Element e :
         {Element::menuSyncModeAuto, Element::menuSyncModeUpload, Element::menuSyncModeDownload}) {
        View.SetChecked(e, e == checked);
    }
}

void TformMain::menuSyncModeAutoClick() {
    const auto row = View.HotRow();
    if (Busy_ || !row || !RowExists(*row)) return;
    CompanyOf(*row).SyncMode = DecideSyncMode(*row);
    View.RepaintRow(*row);
}

void TformMain::menuSyncModeUploadClick() {
    const auto row = View.HotRow();
    if (Busy_ || !row || !RowExists(*row)) return;
    CompanyOf(*row).SyncMode = DecideSyncMode(*row) == smUpload ? smUpload : smUserUpload;
    View.RepaintRow(*row);
}

void TformMain::menuSyncModeDownloadClick() {
    const auto row = View.HotRow();
    if (Busy_ || !row || !RowExists(*row)) return;
    CompanyOf(*row).SyncMode = DecideSyncMode(*row) == smDownload ? smDownload : smUserDownload;
    View.RepaintRow(*row);
}

void TformMain::SetAllChecks(bool checked) {
    for (int i = 0; i < RowCount(); ++i) {
        Rows[static_cast<std::size_t>(i)].Checked = checked;
        View.RepaintRow(i);
    }
}

void TformMain::menuSelectAllClick() {
    if (Busy_) return;
    SetAllChecks(true);
}

void TformMain::CheckBox1Click() {
    if (Busy_) return;
    SetAllChecks(View.Checked(Element::CheckBox1));
    View.SetFocus(Element::vt);
}

void TformMain::ToggleRowCheck(int row) {
    if (Busy_ || !RowExists(row)) return;
    auto& mark = Rows[static_cast<std::size_t>(row)].Checked;
    mark = !mark;
    View.RepaintRow(row);
}

// ---------------------------------------------------------------------------------------
// Transfers

void TformMain::StartProgress(const TTidewellCompany& company) {
    // Every company starts with a clean panel: nothing of the one before is left on it.
    View.SetText(Element::labelProgressTitle, company.CompanyName);
    View.SetVisible(Element::labelProgressSize, false);
    View.SetText(Element::labelProgressSize, "");
    View.SetText(Element::labelProgressCaption, "");
    View.SetPosition(Element::ProgressBar, 0);
}

TTidewellProgressEvent TformMain::ProgressEvent() {
    return [this](const void* sender, const std::string& caption, const std::string& message,
                  std::int64_t total, std::int64_t done, std::uint8_t percent) {
        ShowTransferProgress(sender, caption, message, total, done, percent);
    };
}

bool TformMain::NoteOutcome(const TTidewellCompany& company, const TCompanyOutcome& outcome,
                            const char* refusedFallback) {
    switch (outcome.Kind) {
        case TCompanyOutcome::coStopped:
            return false;
        case TCompanyOutcome::coExpired:
            ShowAppMessage(company.CompanyName + "\r\n" +
                           "사용기한이 만료되어 자료를 전송할 수 없습니다.");
            return true;
        case TCompanyOutcome::coRefused: {
            std::string reason = outcome.Message;
            if (reason.empty()) {
                reason = refusedFallback;
                if (!outcome.Status.empty()) reason += " (STATUS=" + outcome.Status + ")";
            }
            Refusals_.push_back(company.CompanyName + "\r\n" + reason);
            return true;
        }
        case TCompanyOutcome::coFailed:
            Refusals_.push_back(company.CompanyName + "\r\n" + outcome.Message);
            return true;
        default:
            return true;
    }
}

void TformMain::ShowRefusals() {
    std::vector<std::string> refusals;
    refusals.swap(Refusals_);
    if (refusals.empty()) return;
    // One message for the whole command, however many companies it concerns.
    std::string text;
    for (const std::string& refusal : refusals) {
        text += (text.empty() ? "" : "\r\n\r\n") + refusal;
    }
    ShowAppMessage(text);
}

void TformMain::TransferCompany(int row) {
    if (!RowExists(row)) return;
    // A copy: the company stays valid whatever the handlers that run meanwhile do to the rows.
    const TTidewellCompanyPtr company = Rows[static_cast<std::size_t>(row)].Company;
    if (company->LocalPath.empty()) return;
    StartProgress(*company);
    TCompanyOutcome outcome =
        session_.Transfer(company, company->SyncMode, TKeepSide::Unanswered, ProgressEvent());
    bool upload = company->SyncMode == smUpload || company->SyncMode == smUserUpload;
    if (outcome.Kind == TCompanyOutcome::coConflict) {
        const TKeepSide keep = AskWhichSideToKeep(*company, outcome.Decision);
        if (keep == TKeepSide::Unanswered) return;
        upload = keep == TKeepSide::Local;
        outcome = session_.Transfer(company, company->SyncMode, keep, ProgressEvent());
    }
    if (!NoteOutcome(*company, outcome,
                     upload ? "웹폴더가 자료를 받지 않았습니다."
                            : "웹폴더에서 자료를 내려받지 못했습니다.")) {
        throw OperationStopped();
    }
}

TKeepSide TformMain::AskWhichSideToKeep(const TTidewellCompany& company,
                                        const TSyncDecision& decision) {
    const auto time = [](TDateTime t, bool future) {
        return FormatDateTime("yyyy-mm-dd hh:nn:ss", t) + (future ? " (미래 시각)" : "");
    };
    MessageBoxRequest question;
    question.title = kApplicationTitle;
    question.text = company.CompanyName + "\r\n" +
                    (decision.Ask == TSyncDecision::akFutureTime
                         ? "자료의 시각이 미래로 되어 있어 어느 쪽이 최신인지 알 수 없습니다."
                         : "양쪽 자료가 모두 변경되었습니다.") +
                    "\r\n내 컴퓨터: " + time(company.LocalModified, decision.LocalInFuture) +
                    "\r\n웹폴더: " + time(company.LatestFileTime, decision.WebInFuture) +
                    "\r\n\r\n어느 쪽 자료를 남기시겠습니까? 남기지 않는 쪽의 자료는 "
                    "백업 파일로 보관됩니다.";
    question.icon = MessageIcon::Question;
    question.buttons = MessageButtons::YesNoCancel;
    question.defaultButton = MessageResult::Cancel;
    question.yesText = "내 컴퓨터 자료";
    question.noText = "웹폴더 자료";
    switch (CurrentUserInterface().ShowMessageBox(question)) {
        case MessageResult::Yes:
            return TKeepSide::Local;
        case MessageResult::No:
            return TKeepSide::Web;
        default:
            return TKeepSide::Unanswered;
    }
}

bool TformMain::AskFormatChange(const TFormatChange& change) {
    const std::string incoming = change.WayBack ? "되돌릴 자료" : "내려받은 자료";
    MessageBoxRequest question;
    question.title = kApplicationTitle;
    question.text = change.CompanyName + "\r\n" + incoming + "는 " + change.NewFormat +
                    "이고, 이 컴퓨터의 자료는 " + change.LocalFormat +
                    "입니다.\r\n바꾸면 이 사업장의 데이터베이스 형식이 바뀝니다. 이 컴퓨터의 "
                    "자료는 백업 파일로 보관됩니다.\r\n\r\n" +
                    incoming + "로 바꾸시겠습니까?";
    question.icon = MessageIcon::Question;
    question.buttons = MessageButtons::YesNo;
    question.defaultButton = MessageResult::No;
    return CurrentUserInterface().ShowMessageBox(question) == MessageResult::Yes;
}

void TformMain::TransferCheckedCompanies() {
    for (int i = 0; i < RowCount(); ++i) {
        if (!Rows[static_cast<std::size_t>(i)].Checked) continue;
        const TTidewellCompany& company = CompanyOf(i);
        if (company.LocalPath.empty()) {
            ShowAppMessage(company.CompanyName + "의 폴더가 선택되어 있지 않습니다.\r" +
                           "폴더을 선택해 주세요.");
            break;
        }
        TransferCompany(i);
    }
}

void TformMain::btnCancelTransferClick() {
    if (View.Visible(Element::panelProgress)) session_.RequestStop();
}

void TformMain::btnSyncSelectedClick() {
    if (Busy_) return;
    if (!CheckedRowExists()) {
        ShowAppMessage("사업장을 선택해 주세요.");
        return;
    }
    RunCommand(
        TPanel::Shown, [this] { TransferCheckedCompanies(); },
        [this] {
            RefreshCompanyList();
            RefreshDiskUsageLabel();
        });
}

void TformMain::menuSyncAllClick() {
    RunCommand(
        TPanel::Shown, [this] { TransferCheckedCompanies(); }, [this] { RefreshCompanyList(); });
}

void TformMain::menuSyncSelectedClick() {
    // Busy here too: closing the window in the middle of this transfer would pull the account
    // away from under it.
    const auto row = View.HotRow();
    RunCommand(
        TPanel::Shown,
        [&] {
            if (row) TransferCompany(*row);
        },
        [this] { RefreshCompanyList(); });
}

void TformMain::ShowTransferProgress(const void*, const std::string&, const std::string& message,
                                     std::int64_t total, std::int64_t done, std::uint8_t percent) {
    if (!View.Visible(Element::panelProgress)) return;
    View.SetVisible(Element::labelProgressSize, total != 0);
    View.SetText(Element::labelProgressSize, FormatSize(done) + "/" + FormatSize(total));
    View.SetText(Element::labelProgressCaption, message);
    View.SetPosition(Element::ProgressBar, percent);
    View.Repaint(Element::labelProgressSize);
}

void TformMain::RefreshDiskUsageLabel() {
    User().RefreshDiskUsage();
    View.SetText(Element::labelUserDiskUsed, DiskUsedText(User().DiskUsed));
}

// ---------------------------------------------------------------------------------------
// Company management and links

void TformMain::imgCompanyAddClick() {
    if (Busy_) return;
    std::string folder;
    if (!View.BrowseForFolder("사업장 폴더를 선택하세요.", folder, false)) return;
    RunCommand(TPanel::Hidden, {}, [&] { AddCompanyFolder(folder); });
}

void TformMain::AddCompanyFolder(const std::string& folder) {
    // The window adds a folder again when asked to: the shutdown rewrite stores it once.
    const TAddOutcome added = session_.AddFolder(folder, TSameFolder::AddAgain);
    switch (added.Kind) {
        case TAddOutcome::aoNoDatabase:
            return;
        case TAddOutcome::aoKeyNotStored:
            ShowAppMessage(
                "사업장 추가: 사업장 키를 데이터베이스에 저장하지 못해 사업장을 추가하지 "
                "않았습니다.\r\n" +
                added.Problem + "\r\n다른 프로그램이 자료를 다 쓴 뒤에 다시 추가해 주세요.");
            return;
        case TAddOutcome::aoKeyNotMadeHere:
            ShowAppMessage("사업장 추가: " + added.Problem);
            return;
        case TAddOutcome::aoNoKey:
            Assert(false, "사업장 추가: 사업장키는 빈 값일 수 없습니다.", kUnit, __LINE__);
            return;
        case TAddOutcome::aoNoName:
            Assert(false, "사업장 추가: 사업장명은 빈 값일 수 없습니다.", kUnit, __LINE__);
            return;
        case TAddOutcome::aoNoFolder:
            Assert(false, "사업장 추가: 사업장경로는 빈 값일 수 없습니다.", kUnit, __LINE__);
            return;
        case TAddOutcome::aoBelongsTo:
            ShowAppMessage("선택한 폴더는 이미 다른 사업장(" + added.Owner +
                           ")의 폴더로 등록되어 있습니다.");
            return;
        case TAddOutcome::aoSlotsFull:
            ShowAppMessage("사업장은 " + std::to_string(kCompanySlotCount) +
                           "개까지 등록할 수 있습니다. 등록할 자리가 모두 찼습니다.");
            return;
        case TAddOutcome::aoFailed:
            throw Exception(added.Problem);
        case TAddOutcome::aoAdded:
        case TAddOutcome::aoAlreadyAdded:
            break;
    }
    RefreshCompanyList();
}

void TformMain::imgCompanyDeleteClick() {
    if (Busy_) return;
    if (!CheckedRowExists()) {
        ShowAppMessage("사업장을 선택해 주세요.");
        return;
    }
    const MessageResult answer = CurrentUserInterface().ShowMessageBox(
        {kMainFormCaption,
         "선택된 사업장을 목록에서 삭제하시겠습니까?\r\r삭제시 웹폴더의 모든 내용이 함께 "
         "삭제됩니다.",
         MessageIcon::Warning, MessageButtons::YesNo, MessageResult::No});
    if (answer != MessageResult::No) DeleteCheckedCompanies();
}

void TformMain::DeleteCheckedCompanies() {
    RunCommand(
        TPanel::Hidden,
        [this] {
            for (int i = 0; i < RowCount(); ++i) {
                if (Rows[static_cast<std::size_t>(i)].Checked) RemoveCompany(i);
            }
        },
        [this] {
            RefreshCompanyList();
            RefreshDiskUsageLabel();
        });
}

void TformMain::RemoveCompany(int row) {
    const TTidewellCompanyPtr company = Rows.at(static_cast<std::size_t>(row)).Company;
    NoteOutcome(*company, session_.Remove(company), "웹폴더에서 사업장을 삭제하지 못했습니다.");
}

void TformMain::menuViewClick() {
    if (Busy_) return;
    const std::string installPath = ReadInstallPath(session_.Settings());
    const auto row = View.HotRow();
    if (installPath.empty() || !row || !RowExists(*row) || CompanyOf(*row).LocalPath.empty()) {
        return;
    }
    const THostLaunch launch = HostLaunchLine(installPath, CompanyOf(*row).LocalPath);
    View.DesktopShell().StartProgram(launch.Program, launch.Parameters, launch.WorkingFolder);
}

void TformMain::menuRestoreClick() {
    if (Busy_) return;
    const auto row = View.HotRow();
    if (!row || !RowExists(*row) || CompanyOf(*row).LocalPath.empty()) return;
    const TTidewellCompanyPtr company = Rows[static_cast<std::size_t>(*row)].Company;
    const THistory history = session_.History(*company);
    std::string note;
    if (history.OlderInWebFolder > 0) {
        note = "웹폴더에도 이 사업장의 이전 자료 " + std::to_string(history.OlderInWebFolder) +
               "개가 보관되어 있습니다. 웹폴더의 이전 자료는 서비스 관리자에게 요청해 주세요.";
    }
    if (history.Archives.empty()) {
        ShowAppMessage(company->CompanyName + "\r\n되돌릴 수 있는 이전 자료가 없습니다." +
                       (note.empty() ? std::string() : "\r\n" + note));
        return;
    }
    const auto chosen = View.ChooseSafetyArchive(company->CompanyName, history.Archives, note);
    if (!chosen || *chosen < 0 || *chosen >= static_cast<int>(history.Archives.size())) return;
    const std::string archive = history.Archives[static_cast<std::size_t>(*chosen)].Path;
    RunCommand(
        TPanel::Shown,
        [&] {
            StartProgress(*company);
            const TCompanyOutcome outcome =
                session_.RestoreSafetyArchive(company, archive, ProgressEvent());
            // The default error report, as for any error of the way back.
            if (outcome.Kind == TCompanyOutcome::coFailed) {
                throw Exception(company->CompanyName + ": " + outcome.Message);
            }
        },
        [this] { RefreshCompanyList(); });
}

void TformMain::menuRefreshClick() {
    RunCommand(TPanel::Hidden, {}, [this] { RefreshCompanyList(); });
}

void TformMain::N3Click() {
    ShowAppMessage(std::string(kMainFormCaption) + "\r버전 " + GetVersionText());
}

}  // namespace tidewell
