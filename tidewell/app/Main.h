#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/MainView.h"
#include "company/LocalCompanyList.h"
#include "gateway/TidewellUser.h"

namespace tidewell {

inline constexpr const char* kMainFormCaption = "Quenlow 바코드 Tidewell";

// One row of the company list: a reference to a company of the account and its check mark.
struct TCompanyRow {
    TTidewellCompanyPtr Company;
    bool Checked = false;
};

// The application's default error report: a box titled "Tidewell" with an error icon and one
// OK button showing the error's text, with a full stop added when its last character sorts
// after "."; the run goes on.
void ShowApplicationError(const std::exception& error);
std::string ApplicationErrorText(const std::string& message);

// The main window's logic. Every handler the window forwards lands here; what the toolkit
// does goes through the view.
class TformMain {
public:
    explicit TformMain(TformMainView& view);
    ~TformMain();
    TformMain(const TformMain&) = delete;
    TformMain& operator=(const TformMain&) = delete;

    // Runs a handler; an error that leaves it goes to the default error report.
    void Dispatch(const std::function<void()>& handler);

    // Start, run, stop
    void FormCreate();
    void FormShow();
    // False while Busy. During a transfer it asks whether to stop it; on yes the transfer
    // stops and the window closes once it has.
    bool FormCloseQuery();
    void FormDestroy();

    // Login panel and account header
    void Button1Click();
    void Edit1KeyPress(char key);
    void Edit2KeyPress(char key);
    void labelUserExpireAtClick();
    void Label4Click();

    // Company list
    void RefreshCompanyList();
    int FindCompanyRow(const std::string& CompanyKey) const;  // -1 when none
    TSyncMode DecideSyncMode(int row) const;
    void vtClick();
    void PopupMenu1Popup();
    void menuSyncModeAutoClick();
    void menuSyncModeUploadClick();
    void menuSyncModeDownloadClick();
    void menuSelectAllClick();
    void CheckBox1Click();
    // The list's own check box handling: a click on a row's box toggles its mark.
    void ToggleRowCheck(int row);

    // Transfers. A refusal of the service is noted for the message after the loop; a stop
    // (OperationStopped) ends the loop.
    void TransferCheckedCompanies();
    void TransferCompany(int row);
    // The progress panel's 취소 (and Escape): the transfer under way stops at its next block or
    // network wait, and the loop of checked rows ends.
    void btnCancelTransferClick();
    void btnSyncSelectedClick();
    void menuSyncAllClick();
    void menuSyncSelectedClick();
    void ShowTransferProgress(const void* Sender, const std::string& Caption,
                              const std::string& Message, std::int64_t Total, std::int64_t Done,
                              std::uint8_t Percent);
    void RefreshDiskUsageLabel();

    // Company management and links
    void imgCompanyAddClick();
    void AddCompanyFolder(const std::string& Folder);
    void imgCompanyDeleteClick();
    void DeleteCheckedCompanies();
    TTransferResult RemoveCompany(int row);
    void menuViewClick();
    // "이전 자료로 되돌리기...": one of the hot row's safety archives back into its folder.
    void menuRestoreClick();
    void menuRefreshClick();
    void N3Click();
    void Label3Click();

    // State the view and the command-line front end read
    TTidewellUser& User() { return *User_; }
    const TTidewellUser& User() const { return *User_; }
    int RowCount() const { return static_cast<int>(Rows.size()); }
    const TCompanyRow& Row(int row) const;
    bool Busy() const { return Busy_; }
    bool ListComplete() const { return ListComplete_; }
    bool CheckedRowExists() const;
    // The companies (by key) whose transfer the last transfer command carried out.
    const std::vector<std::string>& TransferredCompanies() const { return Transferred_; }
    // Why the last login attempt failed with an error (a refusal or the transport), if it did.
    std::exception_ptr LastLoginError() const { return LastLoginError_; }

    // The service's web site: the host of the gateway pages.
    std::string SiteURL(const std::string& path) const;

    // Who else a folder belongs to when it is chosen for company: the name of another company
    // whose database is in it, or that is registered with it, or that a row has it as folder;
    // empty when it is free for company.
    std::string FolderOwnerOtherThan(const TTidewellCompany& company,
                                     const std::string& folder) const;

private:
    class BusyScope;
    class WaitCursorScope;

    bool RowExists(int row) const { return row >= 0 && row < RowCount(); }
    TTidewellCompany& CompanyOf(int row) const { return *Rows.at(row).Company; }
    void AddRow(TTidewellCompanyPtr company);
    void SetAllChecks(bool checked);
    void ShowServicePeriod();
    void SetLoginControlsEnabled(bool enabled);
    void RestorePlacement();
    void SaveSlots();
    bool RegisterCompanyFolder(const std::string& folder);  // false when refused
    // Both sides changed: the user says which to keep (an upload or a download), or smNone.
    TSyncMode AskWhichSideToKeep(const TTidewellCompany& company);
    TTransferResult TransferWithProgress(const std::function<TTransferResult()>& transfer);
    void NoteRefusal(const std::string& companyName, const TTransferResult& result,
                     const char* fallback);
    // A transfer's outcome: carried out, or a refusal kept for the message after the loop.
    void NoteResult(const TTidewellCompany& company, const TTransferResult& result,
                    const char* fallback);
    void ShowRefusals();

    TformMainView& View;
    std::unique_ptr<TTidewellUser> User_;
    std::vector<TCompanyRow> Rows;
    bool Busy_ = false;
    bool ListComplete_ = false;   // the rows were built completely in this run
    bool ExpireLinkAttached_ = false;
    std::exception_ptr LastLoginError_;
    // Registered companies the last rebuild could not see (a missing drive, a damaged
    // database): the shutdown rewrite keeps their slots.
    std::vector<TSkippedCompanySlot> UnseenSlots_;
    std::vector<std::string> Refusals_;  // messages of the transfers of one command
    std::vector<std::string> Transferred_;  // keys of the companies one command transferred
    bool TransferRunning_ = false;
    bool CloseAfterStop_ = false;
};

}  // namespace tidewell
