#include "app/Main.h"

#include "company/Common.h"
#include "company/CompanyOperation.h"
#include "company/LocalCompanyList.h"
#include "company/SafetyArchives.h"
#include "gateway/HttpClient.h"
#include "gateway/SyncDecision.h"
#include "gateway/TidewellGateway.h"
#include "platform/Error.h"
#include "platform/SettingsHive.h"
#include "platform/UserInterface.h"

namespace tidewell {
namespace {

constexpr const char* kUnit = "Main";
constexpr const char* kHostKey = "Software\\QuenlowBarcode";
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

// Removes every value of a company slot.
void DeleteSlot(RegistryKey& key, int slot) {
    for (const char* field : kCompanySlotFields) key.DeleteValue(CompanySlotValue(slot, field));
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

std::string ApplicationErrorText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
    return message;
}

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

TformMain::TformMain(TformMainView& view) : View(view) {}

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

const TCompanyRow& TformMain::Row(int row) const { return Rows.at(static_cast<std::size_t>(row)); }

bool TformMain::CheckedRowExists() const {
    for (const auto& row : Rows) {
        if (row.Checked) return true;
    }
    return false;
}

std::string TformMain::SiteURL(const std::string& path) const {
    const std::string base = User_ && !User_->ServiceURL.empty() ? User_->ServiceURL
                                                                  : ConfiguredServiceURL();
    return base + path;
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
    User_ = std::make_unique<TTidewellUser>();
    View.SetEnabled(Element::CheckBox1, false);
    View.SetEnabled(Element::vt, false);
}

void TformMain::RestorePlacement() {
    const auto key = CurrentUserHive().OpenKey(kProgramKey, false);
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
    if (User_->UserID.empty()) View.CoverWithLoginPanel();
}

bool TformMain::FormCloseQuery() {
    if (!Busy_) return true;
    // A transfer can be stopped cleanly; the window closes once it has.
    if (TransferRunning_ && !CloseAfterStop_) {
        const MessageResult answer = CurrentUserInterface().ShowMessageBox(
            {kApplicationTitle, "자료를 전송하고 있습니다.\r\n전송을 취소하고 프로그램을 닫으시겠습니까?",
             MessageIcon::Question, MessageButtons::YesNo, MessageResult::No});
        if (answer == MessageResult::Yes) {
            CloseAfterStop_ = true;
            User_->RequestStop();
        }
    }
    return false;
}

void TformMain::FormDestroy() {
    SettingsHive& hive = CurrentUserHive();
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
        if (!User_->UserID.empty()) key->WriteString("LastLoginID", User_->UserID);
    } else {
        key->DeleteValue("LastLoginID");
    }
    // Rows that were not built completely do not hold every stored company; rewriting the
    // slots from them would drop the others.
    if (ListComplete_) SaveSlots();
    batch.Commit();
}

void TformMain::SaveSlots() {
    auto key = CurrentUserHive().OpenKey(kProgramKey, true);
    for (int slot = 0; slot < kCompanySlotCount; ++slot) DeleteSlot(*key, slot);
    int slot = 0;
    auto write = [&](const std::string& companyKey, const std::string& name,
                     const std::string& path, const TAgreedState& synced) {
        if (slot >= kCompanySlotCount) return;  // no reader looks further
        key->WriteString(CompanySlotValue(slot, "Key"), companyKey);
        key->WriteString(CompanySlotValue(slot, "Name"), name);
        key->WriteString(CompanySlotValue(slot, "Path"), path);
        WriteSlotSynced(*key, slot, synced);
        ++slot;
    };
    for (const auto& row : Rows) {
        const TTidewellCompany& company = *row.Company;
        if (company.LocalPath.empty() || company.CompanyKey.empty()) continue;
        write(company.CompanyKey, company.CompanyName, company.LocalPath, company.Synced);
    }
    // A company this run could not see (its drive unplugged, its database unreadable) is still
    // registered, unless a row now gives it a folder.
    for (const TSkippedCompanySlot& unseen : UnseenSlots_) {
        const int row = FindCompanyRow(unseen.CompanyKey);
        if (row >= 0 && !CompanyOf(row).LocalPath.empty()) continue;
        write(unseen.CompanyKey, unseen.CompanyName, unseen.LocalPath, unseen.Synced);
    }
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
    LastLoginError_ = nullptr;
    try {
        if (!User_->Login(userID, password)) {
            SetLoginControlsEnabled(true);
            ShowAppMessage(
                "로그인실패\r\n입력하신 아이디와 비밀번호가 등록된 정보와 일치하지 않습니다.");
            View.SetFocus(Element::Edit2);
            return;
        }
        View.SetText(Element::labelUserName, "사용자명: " + User_->UserName);
        View.SetText(Element::labelUserDiskUsed, "웹폴더사용량: " + FormatSize(User_->DiskUsed));
        ExpireLinkAttached_ = true;
        ShowServicePeriod();
        RefreshCompanyList();
        View.SetVisible(Element::panelLogin, false);
        View.SetEnabled(Element::CheckBox1, true);
        View.SetEnabled(Element::vt, true);
        View.SetFocus(Element::vt);
    } catch (const std::exception&) {
        // The window says the same for every way a login can fail; the reason is kept for
        // front ends that report it.
        LastLoginError_ = std::current_exception();
        SetLoginControlsEnabled(true);
        // A service that can't be reached is not a wrong password: the user is told which.
        std::string why;
        try {
            std::rethrow_exception(LastLoginError_);
        } catch (const HttpError& transport) {
            why = std::string("\r\n") + transport.what();
        } catch (...) {
        }
        ShowAppMessage("로그인하는 중 오류가 발생하였습니다." + why);
        View.SetFocus(Element::Edit2);
    }
}

void TformMain::ShowServicePeriod() {
    const TTidewellUser& user = *User_;
    std::string text;
    std::string tooltip;
    LabelColor color = LabelColor::WindowText;
    if (user.RemainingDays != 0) {
        // An account without an end date has no date to name.
        text = user.ExpireAt > 0
                   ? "사용기한: " + FormatDateTime("yyyy년 m월 d일", user.ExpireAt) + "까지"
                   : std::string("사용기한: 제한 없음");
        if (user.RemainingDays < 30) {
            text += " [연장신청하기]";
            color = LabelColor::Red;
            tooltip =
                "사용기한 만료가 얼마 남지 않았습니다.\r\n홈페이지에서 서비스 연장신청이 "
                "가능합니다.";
        }
    } else {
        text = "사용기한이 만료되었습니다. [연장신청하기]";
        color = LabelColor::Red;
        if (user.ExpireAt > 0) {
            tooltip = "사용기한이 " + FormatDateTime("yyyy-mm-dd", user.ExpireAt) +
                      "로 만료되었습니다." + "\r\n";
        }
        tooltip += std::string("현재는 파일을 내려받기만 사용할 수 있으며, 파일 업로드는 "
                               "불가능합니다.") +
                   "\r\n" + "홈페이지에서 서비스 연장신청을 해 주세요.";
    }
    View.SetText(Element::labelUserExpireAt, text);
    View.SetLabelLook(Element::labelUserExpireAt, color, tooltip, true);
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

void TformMain::Label4Click() { View.DesktopShell().OpenUrl(SiteURL("/")); }

void TformMain::Label3Click() { View.DesktopShell().OpenUrl(SiteURL("/support/tidewell.asp")); }

// ---------------------------------------------------------------------------------------
// Company list

void TformMain::AddRow(TTidewellCompanyPtr company) {
    Rows.push_back(TCompanyRow{std::move(company), false});
}

int TformMain::FindCompanyRow(const std::string& companyKey) const {
    for (int i = 0; i < RowCount(); ++i) {
        if (CompanyOf(i).CompanyKey == companyKey) return i;
    }
    return -1;
}

void TformMain::RefreshCompanyList() {
    View.SetChecked(Element::CheckBox1, false);
    ListComplete_ = false;
    User_->LoadCompanies();
    Rows.clear();
    for (int i = 0; i < User_->CompanyCount(); ++i) AddRow(User_->GetCompany(i));
    View.RowsChanged();

    TLocalCompanyList local;
    local.Load();
    UnseenSlots_.clear();
    std::string damaged;
    for (const TSkippedCompanySlot& skipped : local.Skipped) {
        if (skipped.Reason == TSkippedCompanySlot::srOtherCompany) continue;
        UnseenSlots_.push_back(skipped);
        if (skipped.Reason == TSkippedCompanySlot::srDamaged) {
            damaged += "\r\n" + skipped.CompanyName + " (" + skipped.LocalPath + ")";
        }
    }
    for (int i = 0; i < local.Count(); ++i) {
        TLocalCompanyListItem item;
        local.GetItem(i, item);
        const int row = FindCompanyRow(item.CompanyKey);
        if (User_->IndexOfCompany(item.CompanyKey) >= 0 && row >= 0) {
            TTidewellCompany& company = CompanyOf(row);
            company.LocalModified = item.LocalModified;
            company.LocalFile = item.LocalFile;
            company.LocalPath = item.LocalPath;
            company.Synced = item.Synced;
            company.SyncMode = smNone;
            continue;
        }
        auto company = std::make_shared<TTidewellCompany>();
        company->CompanyKey = item.CompanyKey;
        company->CompanyName = item.CompanyName;
        company->LocalModified = item.LocalModified;
        company->LocalFile = item.LocalFile;
        company->LocalPath = item.LocalPath;
        company->Synced = item.Synced;
        User_->AddCompany(company);
        AddRow(company);
    }
    for (int i = 0; i < RowCount(); ++i) {
        CompanyOf(i).SyncMode = DecideSyncMode(i);
        // When both sides changed, only the user decides which one is kept.
        Rows[static_cast<std::size_t>(i)].Checked =
            CompanyOf(i).SyncMode != smNone && !BothSidesChanged(CompanyOf(i));
    }
    View.RowsChanged();
    // Without the settings the rows lack the stored companies: the shutdown must not rewrite
    // the slots from them.
    ListComplete_ = local.SettingsReadable;
    if (!local.SettingsReadable) {
        ShowAppMessage("설정 파일을 읽을 수 없어 이 컴퓨터의 사업장을 목록에 넣지 못했습니다.\r\n" +
                       CurrentUserHive().file().string());
    }
    if (!damaged.empty()) {
        ShowAppMessage("다음 사업장의 자료를 읽을 수 없어 목록에서 뺐습니다." + damaged);
    }
}

TSyncMode TformMain::DecideSyncMode(int row) const {
    return DecideSync(CompanyOf(row), Now()).Mode;
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
        const std::string owner = FolderOwnerOtherThan(company, folder);
        if (!owner.empty()) {
            ShowAppMessage("선택한 폴더는 다른 사업장(" + owner + ")의 폴더입니다.\r\n" +
                           company.CompanyName + "의 폴더로 쓸 수 없습니다.");
            return;
        }
        // What both sides agreed on was this company's data in the previous folder.
        if (folder != company.LocalPath) company.Synced = {};
        company.LocalPath = folder;
        TDateTime modified = 0;
        company.LocalModified = GetCompanyDatabaseTime(folder, modified) ? modified : 0;
        company.LocalFile = DatabaseSignature(CompanyDatabaseFile(folder));
        company.SyncMode = DecideSyncMode(*row);
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
    for (Element e : {Element::menuSyncModeAuto, Element::menuSyncModeUpload,
                      Element::menuSyncModeDownload}) {
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

TTransferResult TformMain::TransferWithProgress(
    const std::function<TTransferResult()>& transfer) {
    View.SetPosition(Element::ProgressBar, 0);
    User_->OnProgress = [this](const void* sender, const std::string& caption,
                               const std::string& message, std::int64_t total,
                               std::int64_t done, std::uint8_t percent) {
        ShowTransferProgress(sender, caption, message, total, done, percent);
    };
    struct Unset {
        TTidewellUser& user;
        ~Unset() { user.OnProgress = nullptr; }
    } unset{*User_};
    return transfer();
}

void TformMain::NoteRefusal(const std::string& companyName, const TTransferResult& result,
                            const char* fallback) {
    if (result.Kind != TTransferResult::trRefused) return;
    std::string reason = result.Message;
    if (reason.empty()) {
        reason = fallback;
        if (!result.Status.empty()) reason += " (STATUS=" + result.Status + ")";
    }
    Refusals_.push_back(companyName + "\r\n" + reason);
}

void TformMain::NoteResult(const TTidewellCompany& company, const TTransferResult& result,
                           const char* fallback) {
    if (result.Kind == TTransferResult::trDone) Transferred_.push_back(company.CompanyKey);
    NoteRefusal(company.CompanyName, result, fallback);
}

void TformMain::ShowRefusals() {
    std::vector<std::string> refusals;
    refusals.swap(Refusals_);
    for (const std::string& refusal : refusals) ShowAppMessage(refusal);
}

void TformMain::TransferCompany(int row) {
    if (!RowExists(row)) return;
    // A copy: the company stays valid whatever the handlers that run meanwhile do to the rows.
    const TTidewellCompanyPtr company = Rows[static_cast<std::size_t>(row)].Company;
    if (company->LocalPath.empty()) return;
    // Every company starts with a clean panel: nothing of the one before is left on it.
    View.SetText(Element::labelProgressTitle, company->CompanyName);
    View.SetVisible(Element::labelProgressSize, false);
    View.SetText(Element::labelProgressSize, "");
    View.SetText(Element::labelProgressCaption, "");
    View.SetPosition(Element::ProgressBar, 0);
    TSyncMode mode = company->SyncMode;
    if (BothSidesChanged(*company)) {
        mode = AskWhichSideToKeep(*company);
        if (mode == smNone) return;
    }
    switch (mode) {
        case smUpload:
        case smUserUpload:
            if (User_->RemainingDays <= 0) {
                ShowAppMessage(company->CompanyName + "\r\n" +
                               "사용기한이 만료되어 자료를 전송할 수 없습니다.");
                return;
            }
            if (FileExists(CompanyDatabaseFile(company->LocalPath))) {
                const TTransferResult result =
                    TransferWithProgress([&] { return User_->UploadCompany(company->CompanyKey); });
                NoteResult(*company, result, "웹폴더가 자료를 받지 않았습니다.");
            }
            return;
        case smDownload:
        case smUserDownload:
            if (company->LatestFileTime > 0) {
                const TTransferResult result = TransferWithProgress(
                    [&] { return User_->DownloadCompany(company->CompanyKey); });
                NoteResult(*company, result, "웹폴더에서 자료를 내려받지 못했습니다.");
            }
            return;
        default:
            return;
    }
}

TSyncMode TformMain::AskWhichSideToKeep(const TTidewellCompany& company) {
    const TSyncDecision decision = DecideSync(company, Now());
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
            return smUserUpload;
        case MessageResult::No:
            return smUserDownload;
        default:
            return smNone;
    }
}

void TformMain::TransferCheckedCompanies() {
    const ProgressPanelScope panel(View);
    const TransferScope running(TransferRunning_);
    Refusals_.clear();
    Transferred_.clear();
    try {
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
    } catch (const OperationStopped&) {
        // The user stopped: the companies after this one wait for another time.
    } catch (...) {
        ShowRefusals();
        throw;
    }
    ShowRefusals();
}

void TformMain::btnCancelTransferClick() {
    if (View.Visible(Element::panelProgress)) User_->RequestStop();
}

void TformMain::btnSyncSelectedClick() {
    if (Busy_) return;
    if (!CheckedRowExists()) {
        ShowAppMessage("사업장을 선택해 주세요.");
        return;
    }
    BusyScope busy(*this);
    User_->ResetStop();
    TransferCheckedCompanies();
    RefreshCompanyList();
    RefreshDiskUsageLabel();
}

void TformMain::menuSyncAllClick() {
    if (Busy_) return;
    BusyScope busy(*this);
    User_->ResetStop();
    TransferCheckedCompanies();
    RefreshCompanyList();
}

void TformMain::menuSyncSelectedClick() {
    if (Busy_) return;
    const auto row = View.HotRow();
    // Busy here too: closing the window in the middle of this transfer would pull the account
    // away from under it.
    BusyScope busy(*this);
    User_->ResetStop();
    {
        const ProgressPanelScope panel(View);
        const TransferScope running(TransferRunning_);
        Refusals_.clear();
        Transferred_.clear();
        try {
            if (row) TransferCompany(*row);
        } catch (const OperationStopped&) {
            // nothing changed; the list shows it
        }
        ShowRefusals();
    }
    RefreshCompanyList();
}

void TformMain::ShowTransferProgress(const void*, const std::string&, const std::string& message,
                                     std::int64_t total, std::int64_t done,
                                     std::uint8_t percent) {
    if (!View.Visible(Element::panelProgress)) return;
    View.SetVisible(Element::labelProgressSize, total != 0);
    View.SetText(Element::labelProgressSize, FormatSize(done) + "/" + FormatSize(total));
    View.SetText(Element::labelProgressCaption, message);
    View.SetPosition(Element::ProgressBar, percent);
    View.Repaint(Element::labelProgressSize);
}

void TformMain::RefreshDiskUsageLabel() {
    User_->RefreshDiskUsage();
    View.SetText(Element::labelUserDiskUsed, "웹폴더사용량: " + FormatSize(User_->DiskUsed));
}

// ---------------------------------------------------------------------------------------
// Company management and links

void TformMain::imgCompanyAddClick() {
    if (Busy_) return;
    std::string folder;
    if (!View.BrowseForFolder("사업장 폴더를 선택하세요.", folder, false)) return;
    BusyScope busy(*this);
    AddCompanyFolder(folder);
}

void TformMain::AddCompanyFolder(const std::string& folder) {
    if (!FileExists(CompanyDatabaseFile(folder))) return;
    if (!RegisterCompanyFolder(folder)) return;
    RefreshCompanyList();
}

bool TformMain::RegisterCompanyFolder(const std::string& folder) {
    // The key may be written into the database: that is an operation on company data.
    const CompanyOperation operation(User_->LockWait);
    const std::string key = EnsureCompanyKey(folder);
    const std::string name = ReadCompanyStringDef(folder, "select legalname from userinfo", "");
    Assert(!key.empty(), "사업장 추가: 사업장키는 빈 값일 수 없습니다.", kUnit, __LINE__);
    Assert(!name.empty(), "사업장 추가: 사업장명은 빈 값일 수 없습니다.", kUnit, __LINE__);
    Assert(!folder.empty(), "사업장 추가: 사업장경로는 빈 값일 수 없습니다.", kUnit, __LINE__);
    TTidewellCompany added;
    added.CompanyKey = key;
    added.CompanyName = name;
    if (const std::string owner = FolderOwnerOtherThan(added, folder); !owner.empty()) {
        ShowAppMessage("선택한 폴더는 이미 다른 사업장(" + owner + ")의 폴더로 등록되어 있습니다.");
        return false;
    }
    SettingsHive& hive = CurrentUserHive();
    auto programKey = hive.OpenKey(kProgramKey, true);
    int slot = 0;
    while (programKey->ValueExists(CompanySlotValue(slot, "Path"))) ++slot;
    // A slot past the last one would never be read back.
    if (slot >= kCompanySlotCount) {
        ShowAppMessage("사업장은 " + std::to_string(kCompanySlotCount) +
                       "개까지 등록할 수 있습니다. 등록할 자리가 모두 찼습니다.");
        return false;
    }
    auto batch = hive.Batch();
    programKey->WriteString(CompanySlotValue(slot, "Key"), key);
    programKey->WriteString(CompanySlotValue(slot, "Name"), name);
    programKey->WriteString(CompanySlotValue(slot, "Path"), folder);
    WriteSlotSynced(*programKey, slot, TAgreedState{});  // nothing agreed yet for this folder
    batch.Commit();
    return true;
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
    BusyScope busy(*this);
    {
        const CompanyOperation operation(User_->LockWait);
        Refusals_.clear();
        try {
            for (int i = 0; i < RowCount(); ++i) {
                if (!Rows[static_cast<std::size_t>(i)].Checked) continue;
                NoteRefusal(CompanyOf(i).CompanyName, RemoveCompany(i),
                            "웹폴더에서 사업장을 삭제하지 못했습니다.");
            }
        } catch (...) {
            ShowRefusals();
            throw;
        }
        ShowRefusals();
    }
    RefreshCompanyList();
    RefreshDiskUsageLabel();
}

TTransferResult TformMain::RemoveCompany(int row) {
    const TTidewellCompanyPtr company = Rows.at(static_cast<std::size_t>(row)).Company;
    SettingsHive& hive = CurrentUserHive();
    auto key = hive.OpenKey(kProgramKey, true);
    {
        auto batch = hive.Batch();
        for (int slot = 0; slot < kCompanySlotCount; ++slot) {
            const std::string pathValue = CompanySlotValue(slot, "Path");
            if (!key->ValueExists(pathValue)) continue;
            if (key->ReadString(CompanySlotValue(slot, "Key")) != company->CompanyKey ||
                key->ReadString(pathValue) != company->LocalPath) {
                continue;
            }
            DeleteSlot(*key, slot);
        }
        batch.Commit();
    }
    if (company->LatestFileSize > 0) return User_->DeleteCompany(company->CompanyKey);
    return TTransferResult::Done();
}

std::string TformMain::FolderOwnerOtherThan(const TTidewellCompany& company,
                                            const std::string& folder) const {
    const auto nameOfKey = [&](const std::string& key, const std::string& fallback) {
        const int row = FindCompanyRow(key);
        return row >= 0 ? CompanyOf(row).CompanyName : fallback;
    };
    const std::string present = ReadCompanyKey(folder);
    if (!present.empty() && present != company.CompanyKey) {
        const std::string legalName =
            ReadCompanyStringDef(folder, "select legalname from userinfo", present);
        return nameOfKey(present, legalName);
    }
    if (const auto key = CurrentUserHive().OpenKey(kProgramKey, false)) {
        for (int slot = 0; slot < kCompanySlotCount; ++slot) {
            try {
                const std::string pathValue = CompanySlotValue(slot, "Path");
                if (!key->ValueExists(pathValue) || key->ReadString(pathValue) != folder) continue;
                const std::string slotKey = key->ReadString(CompanySlotValue(slot, "Key"));
                if (!slotKey.empty() && slotKey != company.CompanyKey) {
                    return nameOfKey(slotKey, key->ReadString(CompanySlotValue(slot, "Name")));
                }
            } catch (const Exception&) {
                // a slot value of the wrong type names nobody
            }
        }
    }
    for (const TCompanyRow& row : Rows) {
        if (row.Company->LocalPath == folder && row.Company->CompanyKey != company.CompanyKey) {
            return row.Company->CompanyName;
        }
    }
    return {};
}

void TformMain::menuViewClick() {
    if (Busy_) return;
    std::string installPath;
    if (const auto key = CurrentUserHive().OpenKey(kHostKey, false)) {
        try {
            installPath = key->ReadString("InstallPath");
        } catch (const Exception&) {
            // a value of the wrong type counts as none
        }
    }
    const auto row = View.HotRow();
    if (installPath.empty() || !row || !RowExists(*row) || CompanyOf(*row).LocalPath.empty()) {
        return;
    }
    View.DesktopShell().StartProgram(installPath + "/QuenlowBarcode.exe",
                                     "database=\"" + CompanyOf(*row).LocalPath + "\"",
                                     installPath);
}

void TformMain::menuRestoreClick() {
    if (Busy_) return;
    const auto row = View.HotRow();
    if (!row || !RowExists(*row) || CompanyOf(*row).LocalPath.empty()) return;
    const TTidewellCompanyPtr company = Rows[static_cast<std::size_t>(*row)].Company;
    const std::vector<TSafetyArchive> archives = ListSafetyArchives(company->LocalPath);
    std::string note;
    if (company->WebArchiveCount > 1) {
        note = "웹폴더에도 이 사업장의 이전 자료 " + std::to_string(company->WebArchiveCount - 1) +
               "개가 보관되어 있습니다. 웹폴더의 이전 자료는 서비스 관리자에게 요청해 주세요.";
    }
    if (archives.empty()) {
        ShowAppMessage(company->CompanyName + "\r\n되돌릴 수 있는 이전 자료가 없습니다." +
                       (note.empty() ? std::string() : "\r\n" + note));
        return;
    }
    const auto chosen = View.ChooseSafetyArchive(company->CompanyName, archives, note);
    if (!chosen || *chosen < 0 || *chosen >= static_cast<int>(archives.size())) return;
    BusyScope busy(*this);
    User_->ResetStop();
    {
        const ProgressPanelScope panel(View);
        const TransferScope running(TransferRunning_);
        View.SetText(Element::labelProgressTitle, company->CompanyName);
        View.SetVisible(Element::labelProgressSize, false);
        View.SetPosition(Element::ProgressBar, 0);
        try {
            TransferWithProgress([&] {
                return User_->RestoreCompanyArchive(company->CompanyKey,
                                                    archives[static_cast<std::size_t>(*chosen)].Path);
            });
        } catch (const OperationStopped&) {
            // nothing changed; the list shows it
        }
    }
    RefreshCompanyList();
}

void TformMain::menuRefreshClick() {
    if (Busy_) return;
    BusyScope busy(*this);
    RefreshCompanyList();
}

void TformMain::N3Click() {
    ShowAppMessage(std::string(kMainFormCaption) + "\r버전 " + GetVersionText());
}

}  // namespace tidewell
