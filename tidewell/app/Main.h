#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/MainView.h"
#include "usecase/CompanySession.h"
#include "usecase/ProgramSettings.h"
#include "usecase/RunProgress.h"

namespace tidewell {

inline constexpr const char* kMainFormCaption = "Quenlow 바코드 Tidewell";

// The application's default error report: a box titled "Tidewell" with an error icon and one
// OK button showing the error's text (see ApplicationErrorText); the run goes on.
void ShowApplicationError(const std::exception& error);

// The main window's logic: a presenter over the use cases (CompanySession). Every handler the
// window forwards lands here; it maps what the use cases come to onto the window's texts, boxes
// and looks, and what the toolkit does goes through the view.
class TformMain {
public:
    // keptLoginService: the service `tidewell-cli login` kept (empty: none); the window uses it
    // when neither the environment nor its own settings name one.
    TformMain(TformMainView& view, const TSessionSetup& setup,
              const std::string& keptLoginService = {});
    ~TformMain();
    TformMain(const TformMain&) = delete;
    TformMain& operator=(const TformMain&) = delete;

    // Runs a handler; an error that leaves it goes to the default error report.
    void Dispatch(const std::function<void()>& handler);

    // Start, run, stop
    void FormCreate();
    void FormShow();
    // False while Busy. It asks whether to stop what runs (a transfer, a login, a request that
    // may stall); on yes that stops and the window closes once it has.
    bool FormCloseQuery();
    void FormDestroy();

    // Login panel and account header. While a login runs, btnLogin reads 취소 and stops it.
    void Button1Click();
    void Edit1KeyPress(char key);
    void Edit2KeyPress(char key);
    void labelUserExpireAtClick();
    void Label4Click();

    // Company list
    void RefreshCompanyList();
    // A company's database or folder changed on the disk (the view watches them): the list reads
    // this computer's side again, without asking the service; the user's marks and choices stay
    // where the decision did not change. Nothing happens while a command runs.
    void CompanyFilesChanged();
    // The folders and database files the view watches for that.
    std::vector<std::string> WatchedCompanyFiles() const;
    int FindCompanyRow(const std::string& CompanyKey) const;  // -1 when none
    TSyncMode DecideSyncMode(int row) const;
    // The whole decision for a row (also whether the user must choose a side), as the list
    // draws it.
    TSyncDecision Decision(int row) const;
    void vtClick();
    void PopupMenu1Popup();
    // "폴더 선택...": the hot row's folder, as a click on its folder line picks it.
    void menuChooseFolderClick();
    void menuSyncModeAutoClick();
    void menuSyncModeUploadClick();
    void menuSyncModeDownloadClick();
    void menuSelectAllClick();
    void CheckBox1Click();
    // The list's own check box handling: a click on a row's box toggles its mark.
    void ToggleRowCheck(int row);

    // Transfers. A company's refusal or failure is noted for the one message after the loop;
    // a stop ends the loop, and so does a failure of the transport (an error).
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
    // The question names every checked company and whether its web folder archives go too.
    void imgCompanyDeleteClick();
    void DeleteCheckedCompanies();
    void RemoveCompany(int row, TRemoveScope scope = TRemoveScope::Everywhere);
    // "이 컴퓨터에서만 삭제...": the hot row leaves this computer's list; its folder and the web
    // folder's archives stay.
    void menuForgetClick();
    void menuViewClick();
    // "이전 자료로 되돌리기...": one of the hot row's safety archives back into its folder.
    void menuRestoreClick();
    void menuRefreshClick();
    // The settings: the service's address and how many safety archives each company keeps.
    void menuSettingsClick();
    // Back to the login panel, for this account or another.
    void menuLogoutClick();
    void N3Click();
    void Label3Click();

    // State the view reads
    TTidewellUser& User() { return session_.Account(); }
    const TTidewellUser& User() const { return session_.Account(); }
    CompanySession& Session() { return session_; }
    int RowCount() const { return static_cast<int>(Rows.size()); }
    const TCompanyRow& Row(int row) const;
    bool Busy() const { return Busy_; }
    // Registered here, but its folder is not found now.
    std::optional<TMissingFolder> MissingFolder(int row) const;
    bool ListComplete() const { return ListComplete_; }
    bool CheckedRowExists() const;

    // The service's web site: the host of the gateway pages.
    std::string SiteURL(const std::string& path) const;

private:
    class BusyScope;
    enum class TPanel { Hidden, Shown };
    // What runs while Busy, for the question when the window is closed meanwhile.
    enum class TActivity { Other, Login, Transfer };

    bool RowExists(int row) const { return row >= 0 && row < RowCount(); }
    TTidewellCompany& CompanyOf(int row) const { return *Rows.at(row).Company; }
    void AddRow(TTidewellCompanyPtr company);
    void SetAllChecks(bool checked);
    void ShowServicePeriod();
    void SetLoginControlsEnabled(bool enabled);
    void RestorePlacement();
    // The frame of every command that works on companies, written once: refused while Busy;
    // Busy, the wait cursor and a fresh stop request for its whole length; the progress panel
    // around work when asked for; the refusals and failures work notes shown together once it
    // ends (also when an error ends it). A stop ends work quietly; then comes after (the
    // list's rebuild), still Busy.
    void RunCommand(TActivity activity, TPanel panel, const std::function<void()>& work,
                    const std::function<void()>& after);
    // A transfer command: RunCommand with the run's progress and its summary at the end.
    void RunTransfers(const std::vector<int>& rows, const std::function<void()>& after);
    // The list from what is known, without the service: after a stop, and when files change.
    void RebuildListLocally();
    // A row's choice as the user left it, against the decision it was made under.
    struct TRowChoice {
        TSyncDecision Decided;
        TSyncMode Mode = smNone;
        bool Checked = false;
    };
    void ApplyList(TCompanyList list, const std::map<std::string, TRowChoice>& choices);
    // The service the window talks to, as the environment, the settings and tidewell-cli's
    // login say.
    TServiceChoice ChooseService();
    // The way-back dialog over the company's safety archives: the path of the one the user
    // picks to go back to; the ones removed meanwhile go, and the dialog shows the rest.
    std::optional<std::string> ChooseWayBack(const TTidewellCompany& company);
    TSafetyArchiveList WayBackList(const THistory& history);
    // Asks first (false on No); says which could not be removed.
    bool RemoveSafetyArchives(const TTidewellCompany& company,
                              const std::vector<TSafetyArchive>& archives);
    // Opens a page of the service's site; says so when nothing could open it.
    void OpenSitePage(const std::string& path);
    // A company's folder picked by the user for its row.
    void ChooseFolder(int row);
    // The folder picker, with a folder renamed in it followed by the registered companies.
    bool BrowseForFolder(const std::string& title, std::string& folder, bool showNewFolder);
    TFolderRenameHooks FolderRenames();
    // Clears the progress panel and names the company on it.
    void StartProgress(const TTidewellCompany& company);
    TTidewellProgressEvent ProgressEvent();
    // Both sides changed: the user says which to keep.
    TKeepSide AskWhichSideToKeep(const TTidewellCompany& company, const TSyncDecision& decision);
    // The run's figures to the panel's run line.
    void ShowRunProgress();
    // Both sides read again right before the transfer changed the decision: go on as it is now?
    bool AskToGoOnChanged(const TTidewellCompany& company, const TCompanyOutcome& outcome);
    // Data of the other database engine would take the place of a company's: the user says
    // whether it may (No unless told otherwise). A No is noted in FormatKept_.
    bool AskFormatChange(const TFormatChange& change);
    // A company's outcome: shown at once (an ended period), kept for the message after the
    // loop (a refusal, a failure, and in a transfer command everything for its summary), or
    // nothing. False when the loop must end (a stop).
    bool NoteOutcome(const TTidewellCompany& company, const TCompanyOutcome& outcome,
                     const char* refusedFallback);
    void ShowRefusals();

    TformMainView& View;
    CompanySession session_;
    TConfiguration Configuration_;
    std::vector<TCompanyRow> Rows;
    bool Busy_ = false;
    bool ListComplete_ = false;  // the rows were built completely in this run
    bool ExpireLinkAttached_ = false;
    std::vector<std::string> Refusals_;  // what the companies of one command came to
    // In a transfer command: what each company came to, and the run's progress.
    std::optional<TRunSummary> Summary_;
    TRunProgress Progress_;
    TActivity Activity_ = TActivity::Other;
    bool CloseAfterStop_ = false;
    bool Picking_ = false;  // the folder picker is open
    // The user kept the database format of the company under way: what failed is no failure.
    bool FormatKept_ = false;
    std::string KeptLoginService_;
};

}  // namespace tidewell
