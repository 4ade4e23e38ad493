#include "app/Main.h"

#include <map>
#include <utility>

#include "company/Common.h"
#include "company/HostProduct.h"
#include "gateway/HttpClient.h"
#include "platform/CompanyDatabase.h"
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

bool IsUpload(TSyncMode mode) {
    return mode == smUpload || mode == smUserUpload;
}

// The way a decision points, in the words of the list's state captions.
std::string DecisionText(const TSyncDecision& decision) {
    return decision.Ask != TSyncDecision::akNone ? "남길 쪽을 정해야 합니다"
                                                 : SyncModeWords(decision.Mode);
}

std::string TimeText(TDateTime time) {
    return time > 0 ? FormatDateTime("yyyy-mm-dd hh:nn:ss", time) : std::string("없음");
}

// The web folder's own older copies, which only the service's administrator brings back.
std::string OlderInWebFolderText(const THistory& history) {
    if (history.OlderInWebFolder <= 0) return {};
    return "웹폴더에도 이 사업장의 이전 자료 " + std::to_string(history.OlderInWebFolder) +
           "개가 보관되어 있습니다. 웹폴더의 이전 자료는 서비스 관리자에게 요청해 주세요.";
}

// Why a company the transfer did not take up was passed over.
std::string PassedOverText(const TCompanyOutcome& outcome) {
    switch (outcome.Nothing) {
        case TCompanyOutcome::tnNoFolder:
            return "이 컴퓨터에 폴더가 없습니다. 폴더를 선택해 주세요.";
        case TCompanyOutcome::tnMissingFolder:
            return "등록된 폴더를 찾을 수 없습니다.";
        case TCompanyOutcome::tnNoDatabase:
            return "폴더에 사업장 자료(default.mdb)가 없습니다.";
        case TCompanyOutcome::tnNoArchive:
            return "웹폴더에 내려받을 자료가 없습니다.";
        case TCompanyOutcome::tnUnknown:
            return "이 계정의 사업장이 아닙니다.";
        case TCompanyOutcome::tnNoDirection:
            break;
    }
    return "웹폴더와 내컴퓨터의 자료가 동일합니다.";
}

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
    BusyScope(TformMain& form, TActivity activity) : form_(form) {
        form_.Busy_ = true;
        form_.Activity_ = activity;
        form_.View.SetWaitCursor(true);
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    ~BusyScope() {
        form_.View.SetWaitCursor(false);
        form_.Busy_ = false;
        form_.Activity_ = TActivity::Other;
        if (std::exchange(form_.CloseAfterStop_, false)) form_.View.CloseWindow();
    }

private:
    TformMain& form_;
};

TformMain::TformMain(TformMainView& view, const TSessionSetup& setup,
                     const std::string& keptLoginService)
    : View(view),
      session_(setup),
      Configuration_(setup.Configuration),
      KeptLoginService_(keptLoginService) {
    User().Service.URL = ChooseService().URL;
    session_.Account().OnFormatChange = [this](const TFormatChange& change) {
        return AskFormatChange(change);
    };
}

TServiceChoice TformMain::ChooseService() {
    return ChooseWindowService(Configuration_, session_.Settings(), KeptLoginService_);
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

void TformMain::RunCommand(TActivity activity, TPanel panel, const std::function<void()>& work,
                           const std::function<void()>& after) {
    if (Busy_) return;
    BusyScope busy(*this, activity);
    session_.ResetStop();
    std::optional<ProgressPanelScope> shown;
    if (panel == TPanel::Shown) shown.emplace(View);
    Refusals_.clear();
    bool stopped = false;
    try {
        if (work) work();
    } catch (const OperationStopped&) {
        stopped = true;  // the user stopped: what is left waits for another time
    } catch (...) {
        shown.reset();
        ShowRefusals();
        throw;
    }
    // The list as the service now has it; 취소 still stops that (a stalled service), and a list
    // after a stop is made from what is known, at once.
    if (after && !stopped) {
        if (shown) {
            View.SetVisible(Element::labelProgressSize, false);
            View.SetText(Element::labelProgressCaption, "목록을 새로 고치는 중입니다...");
        }
        try {
            after();
        } catch (const OperationStopped&) {
            stopped = true;
        }
    }
    if (stopped && after) RebuildListLocally();
    shown.reset();
    ShowRefusals();
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
    // What runs can be stopped cleanly, a request to a stalled service too; the window closes
    // once it has.
    if (!CloseAfterStop_) {
        const char* question =
            Activity_ == TActivity::Transfer
                ? "자료를 전송하고 있습니다.\r\n전송을 취소하고 프로그램을 닫으시겠습니까?"
            : Activity_ == TActivity::Login
                ? "로그인하고 있습니다.\r\n로그인을 취소하고 프로그램을 닫으시겠습니까?"
                : "작업을 하고 있습니다.\r\n작업을 취소하고 프로그램을 닫으시겠습니까?";
        const MessageResult answer = CurrentUserInterface().ShowMessageBox(
            {kApplicationTitle, question, MessageIcon::Question, MessageButtons::YesNo,
             MessageResult::No});
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
    if (Busy_) {
        // btnLogin reads 취소 while the login runs.
        if (Activity_ == TActivity::Login) session_.RequestStop();
        return;
    }
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
    BusyScope busy(*this, TActivity::Login);
    session_.ResetStop();
    SetLoginControlsEnabled(false);
    View.SetText(Element::btnLogin, "취소");
    View.SetEnabled(Element::btnLogin, true);
    const auto again = [&] {
        View.SetText(Element::btnLogin, "로그인");
        SetLoginControlsEnabled(true);
    };
    // The window says the same for every way a login can fail; only a service that can't be
    // reached is told apart from a wrong password.
    const auto failed = [&](const std::string& why) {
        again();
        ShowAppMessage("로그인하는 중 오류가 발생하였습니다." +
                       (why.empty() ? std::string() : "\r\n" + why));
        View.SetFocus(Element::Edit2);
    };
    const TLoginOutcome login = session_.Login(userID, password);
    switch (login.Kind) {
        case TLoginOutcome::loBlank:
            again();
            ShowAppMessage(
                "로그인실패\r\n입력하신 아이디와 비밀번호가 등록된 정보와 일치하지 않습니다.");
            View.SetFocus(Element::Edit2);
            return;
        case TLoginOutcome::loStopped:
            again();
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
        View.SetText(Element::btnLogin, "로그인");
        View.SetEnabled(Element::btnLogin, false);
        View.SetVisible(Element::panelLogin, false);
        View.SetEnabled(Element::CheckBox1, true);
        View.SetEnabled(Element::vt, true);
        View.SetFocus(Element::vt);
    } catch (const OperationStopped&) {
        // Stopped while the list came: back to the login, as if it had not happened.
        session_.Logout();
        ExpireLinkAttached_ = false;
        again();
        View.SetFocus(Element::Edit2);
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

void TformMain::OpenSitePage(const std::string& path) {
    const std::string url = SiteURL(path);
    if (!View.DesktopShell().OpenUrl(url)) {
        ShowAppMessage("웹 브라우저를 열 수 없습니다. 다음 주소를 직접 열어 주세요.\r\n" + url);
    }
}

void TformMain::labelUserExpireAtClick() {
    if (ExpireLinkAttached_) OpenSitePage("/member/pay_member_2.asp");
}

void TformMain::Label4Click() {
    OpenSitePage("/");
}

void TformMain::Label3Click() {
    OpenSitePage("/support/tidewell.asp");
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
    const bool webListed = list.WebListed;
    const bool settingsReadable = list.SettingsReadable;
    const std::vector<TSkippedCompanySlot> damaged = list.Damaged;
    const std::string webRefusal = list.WebRefusal;
    ApplyList(std::move(list), {});
    if (!webListed) {
        ShowAppMessage("웹폴더의 사업장 목록을 받지 못해 이 컴퓨터의 사업장만 보여 드립니다.\r\n" +
                       webRefusal);
    }
    if (!settingsReadable) {
        ShowAppMessage("설정 파일을 읽을 수 없어 이 컴퓨터의 사업장을 목록에 넣지 못했습니다.\r\n" +
                       session_.Settings().file().string());
    }
    if (!damaged.empty()) {
        std::string names;
        for (const TSkippedCompanySlot& skipped : damaged) {
            names += "\r\n" + skipped.CompanyName + " (" + skipped.LocalPath + ")";
        }
        ShowAppMessage("다음 사업장의 자료를 읽을 수 없어 목록에서 뺐습니다." + names);
    }
}

void TformMain::RebuildListLocally() {
    if (!session_.LoggedIn()) return;
    // Taken before the rebuild: the web folder's companies are the same objects after it.
    std::map<std::string, TRowChoice> choices;
    for (int i = 0; i < RowCount(); ++i) {
        choices[CompanyOf(i).CompanyKey] = {Decision(i), CompanyOf(i).SyncMode,
                                            Rows[static_cast<std::size_t>(i)].Checked};
    }
    ApplyList(session_.RebuildLocally(), choices);
}

void TformMain::ApplyList(TCompanyList list, const std::map<std::string, TRowChoice>& choices) {
    // What the user chose on a row stays where the decision it was chosen against stands.
    Rows = std::move(list.Rows);
    for (TCompanyRow& row : Rows) {
        const auto kept = choices.find(row.Company->CompanyKey);
        if (kept == choices.end()) continue;
        const TSyncDecision now = session_.Decide(*row.Company);
        if (now.Mode != kept->second.Decided.Mode || now.Ask != kept->second.Decided.Ask) continue;
        row.Company->SyncMode = kept->second.Mode;
        row.Checked = kept->second.Checked;
    }
    // Without the settings the rows lack the stored companies: the shutdown must not rewrite
    // the slots from them.
    ListComplete_ = list.SettingsReadable;
    View.RowsChanged();
    View.WatchCompanyFiles(WatchedCompanyFiles());
}

std::vector<std::string> TformMain::WatchedCompanyFiles() const {
    std::vector<std::string> paths;
    for (int i = 0; i < RowCount(); ++i) {
        const TTidewellCompany& company = CompanyOf(i);
        if (!company.LocalPath.empty()) {
            const std::string database = CompanyDatabaseFile(company.LocalPath);
            paths.push_back(company.LocalPath);
            paths.push_back(database);
            paths.push_back(PendingChangesFile(database));
        } else if (const auto& missing = Rows[static_cast<std::size_t>(i)].Missing) {
            // Where it would come back: the folder itself, or the folder that would hold it.
            paths.push_back(missing->Path);
            paths.push_back(std::filesystem::path(missing->Path).parent_path().string());
        }
    }
    return paths;
}

void TformMain::CompanyFilesChanged() {
    // A command's own changes are followed by its own rebuild; an open picker's choice goes to
    // the rows it was opened on.
    if (Busy_ || Picking_ || !session_.LoggedIn()) return;
    RebuildListLocally();
}

std::optional<TMissingFolder> TformMain::MissingFolder(int row) const {
    if (!RowExists(row)) return std::nullopt;
    return Rows[static_cast<std::size_t>(row)].Missing;
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
        ChooseFolder(*row);
    }
}

TFolderRenameHooks TformMain::FolderRenames() {
    TFolderRenameHooks hooks;
    hooks.RegisteredCompanyIn = [this](const std::string& folder) {
        std::string names;
        try {
            for (const TCompanySlot& slot : session_.Registry().Load()) {
                const bool inside =
                    slot.LocalPath == folder || slot.LocalPath.starts_with(folder + "/");
                if (inside && names.find(slot.CompanyName) == std::string::npos) {
                    names += (names.empty() ? "" : ", ") + slot.CompanyName;
                }
            }
        } catch (const std::exception&) {
            // settings that can't be read name nobody
        }
        return names;
    };
    hooks.Renamed = [this](const std::string& from, const std::string& to) {
        session_.FolderRenamed(from, to);
    };
    return hooks;
}

bool TformMain::BrowseForFolder(const std::string& title, std::string& folder, bool showNewFolder) {
    bool renamed = false;
    TFolderRenameHooks hooks = FolderRenames();
    hooks.Renamed = [this, &renamed](const std::string& from, const std::string& to) {
        session_.FolderRenamed(from, to);
        renamed = true;
    };
    // While the picker is open the list keeps its rows: what is picked goes to them.
    Picking_ = true;
    const bool picked = View.BrowseForFolder(title, folder, showNewFolder, hooks);
    Picking_ = false;
    // A folder renamed in the picker moved registered companies: the list shows them there.
    if (renamed) RebuildListLocally();
    return picked;
}

void TformMain::ChooseFolder(int row) {
    const std::string key = CompanyOf(row).CompanyKey;
    std::string folder = CompanyOf(row).LocalPath;
    if (folder.empty()) {
        if (const auto missing = MissingFolder(row)) folder = missing->Path;
    }
    if (!BrowseForFolder(CompanyOf(row).CompanyName + "의 데이터 폴더를 선택하세요.", folder,
                         true)) {
        return;
    }
    const int now = FindCompanyRow(key);
    if (now < 0) return;
    TTidewellCompany& company = CompanyOf(now);
    const std::string owner = session_.PickFolder(company, folder);
    if (!owner.empty()) {
        ShowAppMessage("선택한 폴더는 다른 사업장(" + owner + ")의 폴더입니다.\r\n" +
                       company.CompanyName + "의 폴더로 쓸 수 없습니다.");
        return;
    }
    Rows[static_cast<std::size_t>(now)].Missing.reset();
    View.RepaintRow(now);
    View.WatchCompanyFiles(WatchedCompanyFiles());
}

void TformMain::menuChooseFolderClick() {
    const auto row = View.HotRow();
    if (Busy_ || !row || !RowExists(*row)) return;
    ChooseFolder(*row);
}

void TformMain::PopupMenu1Popup() {
    // The row the menu was opened on: under the pointer, or the list's current row when the
    // keyboard opened it.
    const auto row = View.HotRow();
    const bool overRow = row && RowExists(*row);
    for (Element e : {Element::menuSyncMode, Element::menuSyncSelected, Element::menuView,
                      Element::menuChooseFolder}) {
        View.SetEnabled(e, overRow);
    }
    View.SetEnabled(Element::menuRestore, overRow && !CompanyOf(*row).LocalPath.empty());
    // Only what is registered here can leave this computer's list.
    View.SetEnabled(Element::menuForget,
                    overRow && (!CompanyOf(*row).LocalPath.empty() || MissingFolder(*row)));
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
    ShowRunProgress();
}

void TformMain::ShowRunProgress() {
    View.SetText(Element::labelProgressRun, Summary_ ? RunProgressText(Progress_) : "");
}

TTidewellProgressEvent TformMain::ProgressEvent() {
    return [this](const void* sender, const std::string& caption, const std::string& message,
                  std::int64_t total, std::int64_t done, std::uint8_t percent) {
        ShowTransferProgress(sender, caption, message, total, done, percent);
    };
}

bool TformMain::NoteOutcome(const TTidewellCompany& company, const TCompanyOutcome& outcome,
                            const char* refusedFallback) {
    const auto refused = [&](const std::string& reason) {
        if (Summary_) {
            Summary_->Refused.push_back({company.CompanyName, reason});
        } else {
            Refusals_.push_back(company.CompanyName + "\r\n" + reason);
        }
    };
    switch (outcome.Kind) {
        case TCompanyOutcome::coDone:
            if (Summary_) Summary_->Transferred.push_back({company.CompanyName, {}});
            return true;
        case TCompanyOutcome::coStopped:
            if (Summary_) Summary_->Cancelled.push_back({company.CompanyName, {}});
            return false;
        case TCompanyOutcome::coExpired:
            ShowAppMessage(company.CompanyName + "\r\n" +
                           "사용기한이 만료되어 자료를 전송할 수 없습니다.");
            if (Summary_) {
                Summary_->PassedOver.push_back(
                    {company.CompanyName, "사용기한이 만료되어 올릴 수 없습니다."});
            }
            return true;
        case TCompanyOutcome::coRefused: {
            std::string reason = outcome.Message;
            if (reason.empty()) {
                reason = refusedFallback;
                if (!outcome.Status.empty()) reason += " (STATUS=" + outcome.Status + ")";
            }
            refused(reason);
            return true;
        }
        case TCompanyOutcome::coFailed:
            if (std::exchange(FormatKept_, false)) {
                if (Summary_) {
                    Summary_->PassedOver.push_back(
                        {company.CompanyName,
                         "데이터베이스 형식을 바꾸지 않기로 해 전송하지 않았습니다."});
                }
                return true;
            }
            refused(outcome.Message);
            return true;
        case TCompanyOutcome::coNothing:
            if (Summary_)
                Summary_->PassedOver.push_back({company.CompanyName, PassedOverText(outcome)});
            return true;
        case TCompanyOutcome::coConflict:
            if (Summary_) {
                Summary_->PassedOver.push_back(
                    {company.CompanyName, "남길 쪽을 정하지 않아 전송하지 않았습니다."});
            }
            return true;
        case TCompanyOutcome::coChanged:
            if (Summary_) {
                Summary_->PassedOver.push_back(
                    {company.CompanyName, "목록을 만든 뒤에 자료가 바뀌어 전송하지 않았습니다."});
            }
            return true;
    }
    return true;
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

bool TformMain::AskToGoOnChanged(const TTidewellCompany& company, const TCompanyOutcome& outcome) {
    MessageBoxRequest question;
    question.title = kApplicationTitle;
    question.text =
        company.CompanyName + "\r\n목록을 만든 뒤에 자료가 바뀌었습니다.\r\n내 컴퓨터: " +
        TimeText(company.LocalModified) + "\r\n웹폴더: " + TimeText(company.LatestFileTime) +
        "\r\n\r\n목록에서는 " + DecisionText(outcome.Previous) + "였지만 지금은 " +
        DecisionText(outcome.Decision) + "입니다. 지금의 자료대로 전송하시겠습니까?";
    question.icon = MessageIcon::Question;
    question.buttons = MessageButtons::YesNo;
    question.defaultButton = MessageResult::No;
    return CurrentUserInterface().ShowMessageBox(question) == MessageResult::Yes;
}

void TformMain::TransferCompany(int row) {
    if (!RowExists(row)) return;
    // A copy: the company stays valid whatever the handlers that run meanwhile do to the rows.
    const TTidewellCompanyPtr company = Rows[static_cast<std::size_t>(row)].Company;
    StartProgress(*company);
    FormatKept_ = false;
    const auto transfer = [&](TKeepSide keep) {
        // Both sides are read again first: a moment on a slow service.
        View.SetText(Element::labelProgressCaption, "자료를 확인하는 중...");
        return session_.Transfer(company, company->SyncMode, keep, ProgressEvent());
    };
    TCompanyOutcome outcome = transfer(TKeepSide::Unanswered);
    if (outcome.Kind == TCompanyOutcome::coChanged) {
        // The row shows the company as it is now while the question asks about it.
        View.RepaintRow(row);
        if (AskToGoOnChanged(*company, outcome)) outcome = transfer(TKeepSide::Unanswered);
    }
    bool upload = IsUpload(company->SyncMode);
    if (outcome.Kind == TCompanyOutcome::coConflict) {
        const TKeepSide keep = AskWhichSideToKeep(*company, outcome.Decision);
        if (keep != TKeepSide::Unanswered) {
            upload = keep == TKeepSide::Local;
            outcome = transfer(keep);
        }
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
    const char* why =
        decision.Ask == TSyncDecision::akFutureTime
            ? "자료의 시각이 미래로 되어 있어 어느 쪽이 최신인지 알 수 없습니다."
        : decision.Ask == TSyncDecision::akNeverAgreed
            ? "이 컴퓨터와 웹폴더의 자료를 맞춘 적이 없어 어느 쪽이 최신인지 알 수 없습니다."
            : "양쪽 자료가 모두 변경되었습니다.";
    MessageBoxRequest question;
    question.title = kApplicationTitle;
    question.text = company.CompanyName + "\r\n" + why +
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
    const bool yes = CurrentUserInterface().ShowMessageBox(question) == MessageResult::Yes;
    FormatKept_ = !yes;
    return yes;
}

void TformMain::TransferCheckedCompanies() {
    std::vector<TTidewellCompanyPtr> companies;
    std::vector<std::int64_t> expected;
    for (const TCompanyRow& row : Rows) {
        if (!row.Checked) continue;
        const TTidewellCompany& company = *row.Company;
        companies.push_back(row.Company);
        // What it will move: the web folder's archive, or for an upload about as much as its
        // last one (the database's size when there is none).
        std::int64_t bytes = company.LatestFileSize;
        if (IsUpload(company.SyncMode) && bytes <= 0 && !company.LocalPath.empty()) {
            bytes = std::max<std::int64_t>(GetPathSize(CompanyDatabaseFile(company.LocalPath)), 0);
        }
        expected.push_back(bytes);
    }
    Progress_.Start(expected);
    for (std::size_t i = 0; i < companies.size(); ++i) {
        Progress_.BeginCompany(static_cast<int>(i));
        try {
            // The rows may have been rebuilt since: the company's row as it is now.
            const int row = FindCompanyRow(companies[i]->CompanyKey);
            if (row >= 0) TransferCompany(row);
        } catch (const OperationStopped&) {
            if (Summary_) {
                Summary_->Stopped = true;
                for (std::size_t rest = i + 1; rest < companies.size(); ++rest) {
                    Summary_->Cancelled.push_back({companies[rest]->CompanyName, {}});
                }
            }
            throw;
        }
        Progress_.EndCompany();
    }
}

void TformMain::RunTransfers(const std::vector<int>& rows, const std::function<void()>& after) {
    Summary_.emplace();
    RunCommand(
        TActivity::Transfer, TPanel::Shown,
        [&] {
            if (rows.empty()) {
                TransferCheckedCompanies();
                return;
            }
            Progress_.Start(std::vector<std::int64_t>(rows.size(), 0));
            for (std::size_t i = 0; i < rows.size(); ++i) {
                Progress_.BeginCompany(static_cast<int>(i));
                TransferCompany(rows[i]);
                Progress_.EndCompany();
            }
        },
        after);
    std::optional<TRunSummary> summary;
    summary.swap(Summary_);
    if (summary && !summary->Empty()) ShowAppMessage(RunSummaryText(*summary));
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
    RunTransfers({}, [this] {
        RefreshCompanyList();
        RefreshDiskUsageLabel();
    });
}

void TformMain::menuSyncAllClick() {
    if (Busy_) return;
    if (!CheckedRowExists()) {
        ShowAppMessage("사업장을 선택해 주세요.");
        return;
    }
    RunTransfers({}, [this] { RefreshCompanyList(); });
}

void TformMain::menuSyncSelectedClick() {
    // Busy here too: closing the window in the middle of this transfer would pull the account
    // away from under it.
    const auto row = View.HotRow();
    if (Busy_ || !row || !RowExists(*row)) return;
    RunTransfers({*row}, [this] { RefreshCompanyList(); });
}

void TformMain::ShowTransferProgress(const void*, const std::string&, const std::string& message,
                                     std::int64_t total, std::int64_t done, std::uint8_t percent) {
    if (!View.Visible(Element::panelProgress)) return;
    View.SetVisible(Element::labelProgressSize, total != 0);
    View.SetText(Element::labelProgressSize, FormatSize(done) + "/" + FormatSize(total));
    View.SetText(Element::labelProgressCaption, message);
    View.SetPosition(Element::ProgressBar, percent);
    View.Repaint(Element::labelProgressSize);
    if (Summary_) {
        Progress_.Report(total, done);
        ShowRunProgress();
    }
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
    if (!BrowseForFolder("사업장 폴더를 선택하세요.", folder, false)) return;
    RunCommand(TActivity::Other, TPanel::Hidden, {}, [&] { AddCompanyFolder(folder); });
}

void TformMain::AddCompanyFolder(const std::string& folder) {
    // A folder registered already stays registered once: no second slot for it.
    const TAddOutcome added = session_.AddFolder(folder, TSameFolder::LeaveAsItIs);
    switch (added.Kind) {
        case TAddOutcome::aoNoDatabase:
            ShowAppMessage(
                "선택한 폴더에 사업장 자료(default.mdb)가 없어 추가하지 "
                "않았습니다.\r\n" +
                folder);
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
        case TAddOutcome::aoAlreadyAdded:
            ShowAppMessage(added.CompanyName + ": 이미 추가된 사업장입니다. 바꾼 것이 없습니다.");
            break;
        case TAddOutcome::aoAdded:
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
    // The fixed question first, then every company it removes and what goes with it.
    std::string names;
    for (const TCompanyRow& row : Rows) {
        if (!row.Checked) continue;
        const TTidewellCompany& company = *row.Company;
        std::string what;
        if (company.LatestFileSize > 0) {
            what = company.WebArchiveCount > 0
                       ? "웹폴더의 백업 파일 " + std::to_string(company.WebArchiveCount) +
                             "개도 삭제됩니다"
                       : "웹폴더의 백업 파일도 삭제됩니다";
        } else {
            what = "웹폴더에는 자료가 없습니다";
        }
        names += "\r- " + company.CompanyName + " (" + what + ")";
    }
    const MessageResult answer = CurrentUserInterface().ShowMessageBox(
        {kMainFormCaption,
         "선택된 사업장을 목록에서 삭제하시겠습니까?\r\r삭제시 웹폴더의 모든 내용이 함께 "
         "삭제됩니다.\r\r삭제할 사업장:" +
             names + "\r\r이 컴퓨터의 사업장 폴더는 지우지 않습니다.",
         MessageIcon::Warning, MessageButtons::YesNo, MessageResult::No});
    if (answer == MessageResult::Yes) DeleteCheckedCompanies();
}

void TformMain::DeleteCheckedCompanies() {
    RunCommand(
        TActivity::Other, TPanel::Hidden,
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

void TformMain::RemoveCompany(int row, TRemoveScope scope) {
    const TTidewellCompanyPtr company = Rows.at(static_cast<std::size_t>(row)).Company;
    NoteOutcome(*company, session_.Remove(company, scope),
                "웹폴더에서 사업장을 삭제하지 못했습니다.");
}

void TformMain::menuForgetClick() {
    const auto row = View.HotRow();
    if (Busy_ || !row || !RowExists(*row)) return;
    const TTidewellCompanyPtr company = Rows[static_cast<std::size_t>(*row)].Company;
    if (company->LocalPath.empty() && !MissingFolder(*row)) {
        ShowAppMessage(company->CompanyName + "\r\n이 컴퓨터에 등록된 사업장이 아닙니다.");
        return;
    }
    const MessageResult answer = CurrentUserInterface().ShowMessageBox(
        {kMainFormCaption,
         "이 컴퓨터의 목록에서 다음 사업장을 삭제하시겠습니까?\r\r" + company->CompanyName +
             "\r\r웹폴더의 백업 파일과 이 컴퓨터의 사업장 폴더는 그대로 남습니다.",
         MessageIcon::Warning, MessageButtons::YesNo, MessageResult::No});
    if (answer != MessageResult::Yes) return;
    RunCommand(
        TActivity::Other, TPanel::Hidden,
        [&] {
            const int now = FindCompanyRow(company->CompanyKey);
            if (now >= 0) RemoveCompany(now, TRemoveScope::ThisComputer);
        },
        [this] { RebuildListLocally(); });
}

void TformMain::menuViewClick() {
    if (Busy_) return;
    const auto row = View.HotRow();
    if (!row || !RowExists(*row)) return;
    const std::string installPath = ReadInstallPath(session_.Settings());
    if (installPath.empty()) {
        ShowAppMessage(
            "Quenlow 바코드가 이 컴퓨터에 설치되어 있지 않아 사업장을 열 수 "
            "없습니다.");
        return;
    }
    if (CompanyOf(*row).LocalPath.empty()) {
        ShowAppMessage(CompanyOf(*row).CompanyName +
                       "\r\n이 컴퓨터에 폴더가 없어 열 수 없습니다. 폴더를 선택해 주세요.");
        return;
    }
    const THostLaunch launch = HostLaunchLine(installPath, CompanyOf(*row).LocalPath);
    if (!View.DesktopShell().StartProgram(launch.Program, launch.Parameters,
                                          launch.WorkingFolder)) {
        ShowAppMessage("Quenlow 바코드를 실행하지 못했습니다.\r\n" + launch.Program);
    }
}

TSafetyArchiveList TformMain::WayBackList(const THistory& history) {
    std::int64_t bytes = 0;
    for (const TSafetyArchive& archive : history.Archives) bytes += archive.Size;
    const std::string web = OlderInWebFolderText(history);
    return {history.Archives, "사업장마다 최근 백업 파일 " +
                                  std::to_string(session_.SafetyArchivesKept()) +
                                  "개를 보관합니다 (설정에서 바꿀 수 있습니다). 지금 " +
                                  std::to_string(history.Archives.size()) + "개, " +
                                  FormatSize(bytes) + "." + (web.empty() ? "" : "\r\n" + web)};
}

std::optional<std::string> TformMain::ChooseWayBack(const TTidewellCompany& company) {
    const THistory history = session_.History(company);
    if (history.Archives.empty()) {
        const std::string web = OlderInWebFolderText(history);
        ShowAppMessage(company.CompanyName + "\r\n되돌릴 수 있는 이전 자료가 없습니다." +
                       (web.empty() ? std::string() : "\r\n" + web));
        return std::nullopt;
    }
    TSafetyArchiveList shown = WayBackList(history);
    const auto remove = [&](const std::vector<int>& indices) -> std::optional<TSafetyArchiveList> {
        std::vector<TSafetyArchive> picked;
        for (int index : indices) {
            if (index < 0 || index >= static_cast<int>(shown.Archives.size())) {
                return std::nullopt;
            }
            picked.push_back(shown.Archives[static_cast<std::size_t>(index)]);
        }
        if (!RemoveSafetyArchives(company, picked)) return std::nullopt;
        shown = WayBackList(session_.History(company));
        return shown;
    };
    const std::optional<int> index = View.ChooseSafetyArchive(company.CompanyName, shown, remove);
    if (!index || *index < 0 || *index >= static_cast<int>(shown.Archives.size())) {
        return std::nullopt;
    }
    return shown.Archives[static_cast<std::size_t>(*index)].Path;
}

bool TformMain::RemoveSafetyArchives(const TTidewellCompany& company,
                                     const std::vector<TSafetyArchive>& archives) {
    std::string names;
    for (const TSafetyArchive& archive : archives) names += "\r\n" + archive.Name;
    const MessageResult answer = CurrentUserInterface().ShowMessageBox(
        {kApplicationTitle,
         company.CompanyName +
             "\r\n다음 백업 파일을 지우시겠습니까? 지운 자료로는 되돌릴 "
             "수 없습니다." +
             names,
         MessageIcon::Warning, MessageButtons::YesNo, MessageResult::No});
    if (answer != MessageResult::Yes) return false;
    std::string failed;
    for (const TSafetyArchive& archive : archives) {
        try {
            session_.RemoveSafetyArchive(company, archive.Path);
        } catch (const std::exception& error) {
            failed += "\r\n" + std::string(error.what());
        }
    }
    if (!failed.empty()) ShowAppMessage("백업 파일을 지우지 못했습니다." + failed);
    return true;
}

void TformMain::menuRestoreClick() {
    if (Busy_) return;
    const auto row = View.HotRow();
    if (!row || !RowExists(*row) || CompanyOf(*row).LocalPath.empty()) return;
    const TTidewellCompanyPtr company = Rows[static_cast<std::size_t>(*row)].Company;
    const std::optional<std::string> chosen = ChooseWayBack(*company);
    if (!chosen) return;
    const std::string archive = *chosen;
    RunCommand(
        TActivity::Other, TPanel::Shown,
        [&] {
            StartProgress(*company);
            FormatKept_ = false;
            const TCompanyOutcome outcome =
                session_.RestoreSafetyArchive(company, archive, ProgressEvent());
            if (outcome.Kind == TCompanyOutcome::coStopped) throw OperationStopped();
            // The user kept the format: that answer was the end of it.
            if (std::exchange(FormatKept_, false)) return;
            // The default error report, as for any error of the way back.
            if (outcome.Kind == TCompanyOutcome::coFailed) {
                throw Exception(company->CompanyName + ": " + outcome.Message);
            }
        },
        [this] { RefreshCompanyList(); });
}

void TformMain::menuRefreshClick() {
    if (Busy_) return;
    RunCommand(
        TActivity::Other, TPanel::Shown,
        [this] {
            TTidewellCompany none;
            none.CompanyName = "새로 고침";
            StartProgress(none);
        },
        [this] { RefreshCompanyList(); });
}

void TformMain::menuSettingsClick() {
    if (Busy_) return;
    TWindowSettings settings;
    const TServiceChoice service = ChooseService();
    settings.ServiceURL = ChosenServiceURL(session_.Settings());
    settings.ServiceInUse = service.URL;
    if (service.Source == TServiceChoice::ssEnvironment) {
        settings.ServiceLockedBy = "환경 변수 TIDEWELL_SERVICE_URL이 정한 주소를 씁니다.";
    }
    settings.SafetyArchivesKept = session_.SafetyArchivesKept();
    if (session_.LoggedIn()) settings.Account = User().UserID + " (" + User().UserName + ")";
    if (!View.EditSettings(settings)) return;
    session_.SetSafetyArchivesKept(settings.SafetyArchivesKept);
    if (settings.ServiceLockedBy.empty()) {
        const std::string typed = TrimBlanks(settings.ServiceURL);
        const std::string address = ServiceAddressOf(typed);
        if (!typed.empty() && address.empty()) {
            ShowAppMessage(
                "웹폴더 서비스 주소가 올바르지 않습니다. http:// 또는 https://로 "
                "시작하는 주소를 입력해 주세요.\r\n" +
                typed);
            return;
        }
        SetChosenServiceURL(session_.Settings(), address);
    }
    const std::string now = ChooseService().URL;
    const bool moved = now != User().Service.URL;
    // Another service knows other companies: the login was to the one before.
    if (session_.LoggedIn() && (moved || settings.LogoutWanted)) {
        if (moved && !settings.LogoutWanted) {
            ShowAppMessage(
                "웹폴더 서비스 주소를 바꾸었습니다. 새 주소로 다시 로그인해 "
                "주세요.\r\n" +
                now);
        }
        menuLogoutClick();
    }
    User().Service.URL = now;
}

void TformMain::menuLogoutClick() {
    if (Busy_ || !session_.LoggedIn()) return;
    // The registered companies are written as the shutdown would, then the login goes.
    if (ListComplete_) session_.SaveSlots(Rows);
    Rows.clear();
    ListComplete_ = false;
    session_.Logout();
    View.RowsChanged();
    View.WatchCompanyFiles({});
    ExpireLinkAttached_ = false;
    for (Element e : {Element::labelUserName, Element::labelUserDiskUsed,
                      Element::labelUserExpireAt, Element::Edit2}) {
        View.SetText(e, "");
    }
    View.SetLabelLook(Element::labelUserExpireAt, LabelColor::WindowText, "", false);
    View.SetChecked(Element::CheckBox1, false);
    View.SetEnabled(Element::CheckBox1, false);
    View.SetEnabled(Element::vt, false);
    View.SetText(Element::btnLogin, "로그인");
    SetLoginControlsEnabled(true);
    View.SetVisible(Element::panelLogin, true);
    View.CoverWithLoginPanel();
    View.SetFocus(TrimBlanks(View.Text(Element::Edit1)).empty() ? Element::Edit1 : Element::Edit2);
}

void TformMain::N3Click() {
    ShowAppMessage(std::string(kMainFormCaption) + "\r버전 " + GetVersionText());
}

}  // namespace tidewell
