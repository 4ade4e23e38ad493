#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "company/SafetyArchives.h"

#include "platform/Shell.h"

namespace tidewell {

// The elements of the main window that its logic drives, by their names in the window.
enum class Element {
    panelLogin,
    Edit1,
    Edit2,
    CheckBox2,
    btnLogin,
    Label4,
    labelUserName,
    labelUserDiskUsed,
    labelUserExpireAt,
    vt,
    CheckBox1,
    btnSyncSelected,
    panelProgress,
    labelProgressTitle,
    labelProgressSize,
    ProgressBar,
    labelProgressCaption,
    labelProgressRun,  // the whole run: company n of N, bytes, speed, time left
    imgCompanyAdd,
    imgCompanyDelete,
    btnRefresh,
    labelSettings,
    Label3,
    menuSyncMode,
    menuSyncModeAuto,
    menuSyncModeUpload,
    menuSyncModeDownload,
    menuSyncSelected,
    menuView,
    menuChooseFolder,
    menuRestore,
    menuForget,
    menuRefresh,
    menuSelectAll,
    menuSyncAll,
    menuSettings,
    menuLogout,
    N3,
};

enum class LabelColor { WindowText, Red };

struct WindowBounds {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

// What the way-back dialog shows: a company's safety archives (newest first) and a note (how
// many are kept, the web folder's own older copies).
struct TSafetyArchiveList {
    std::vector<TSafetyArchive> Archives;
    std::string Note;
};

// Removes the archives at these indices of the list shown, asking first: the list as it is
// then, or nullopt when nothing was removed.
using TSafetyArchiveRemoval =
    std::function<std::optional<TSafetyArchiveList>(const std::vector<int>& indices)>;

// What the user does in the way-back dialog: go back to one archive, or remove some.
struct TSafetyArchiveChoice {
    enum TAction { Restore, Remove };
    TAction Action = Restore;
    std::vector<int> Indices;  // into the archives shown; one for Restore
};

// The window's settings as its dialog shows and edits them.
struct TWindowSettings {
    std::string ServiceURL;       // the address typed (empty: the one tidewell-cli login kept, or
                                  // the built-in one)
    std::string ServiceInUse;     // what the window talks to now
    std::string ServiceLockedBy;  // not empty: the address can't be changed here, and why
    int SafetyArchivesKept = 10;
    std::string Account;        // who is logged in ("아이디 (이름)"); empty: nobody
    bool LogoutWanted = false;  // the dialog was closed with its 로그아웃 button
};

// The folder picker's part in keeping the registered companies right when the user renames a
// folder in it.
struct TFolderRenameHooks {
    // The name of a registered company whose folder is folder or lies in it; empty when none.
    std::function<std::string(const std::string& folder)> RegisteredCompanyIn;
    // The rename happened.
    std::function<void(const std::string& from, const std::string& to)> Renamed;
};

// Everything the toolkit does for the main window. The logic never touches a widget; the Qt
// window implements this, tests and the command-line front end implement it without one.
class TformMainView {
public:
    virtual ~TformMainView() = default;

    // Window
    virtual void SetCaption(const std::string& caption) = 0;
    virtual WindowBounds WorkArea() const = 0;  // the screen less the task bar
    virtual WindowBounds Bounds() const = 0;    // the window's normal (restored) bounds
    virtual void SetBounds(const WindowBounds& bounds) = 0;
    virtual bool Maximized() const = 0;
    virtual void SetMaximized(bool maximized) = 0;
    virtual void CenterOnScreen() = 0;
    virtual void SetWaitCursor(bool wait) = 0;
    // Stretches the login panel over the whole client area and brings it to the front.
    virtual void CoverWithLoginPanel() = 0;
    // Closes the window as if the user had, once the logic lets it (after a stopped transfer).
    virtual void CloseWindow() = 0;

    // Elements
    virtual std::string Text(Element element) const = 0;
    virtual void SetText(Element element, const std::string& text) = 0;
    virtual void SetEnabled(Element element, bool enabled) = 0;
    virtual bool Visible(Element element) const = 0;
    virtual void SetVisible(Element element, bool visible) = 0;
    virtual bool Checked(Element element) const = 0;
    // Sets a check box or a menu's radio entry without running its click handler.
    virtual void SetChecked(Element element, bool checked) = 0;
    virtual void SetFocus(Element element) = 0;
    virtual void SetPosition(Element element, int position) = 0;
    // Colour, tooltip (empty: none) and whether the label is a link with a hand pointer.
    virtual void SetLabelLook(Element element, LabelColor color, const std::string& tooltip,
                              bool link) = 0;
    virtual void Repaint(Element element) = 0;

    // Company list: the rows come from the logic; the view tracks the pointer.
    virtual void RowsChanged() = 0;  // rows were rebuilt
    virtual void RepaintRow(int row) = 0;
    virtual std::optional<int> RowUnderPointer() const = 0;
    virtual std::optional<int> HotRow() const = 0;  // the row the context menu acts on
    virtual bool IsOverSyncButton(int row) const = 0;
    virtual bool IsOverFolderLink(int row) const = 0;

    // Dialogs and the desktop
    virtual bool BrowseForFolder(const std::string& title, std::string& folder, bool showNewFolder,
                                 const TFolderRenameHooks& renames) = 0;
    // Shows a company's safety archives; archives the user removes go through remove, and the
    // dialog stays open on the list that is left (it closes once none is). The index of the one
    // to go back to, or nullopt when cancelled.
    virtual std::optional<int> ChooseSafetyArchive(const std::string& companyName,
                                                   const TSafetyArchiveList& list,
                                                   const TSafetyArchiveRemoval& remove) = 0;
    // The settings dialog; false when cancelled (settings unchanged).
    virtual bool EditSettings(TWindowSettings& settings) = 0;
    virtual Shell& DesktopShell() = 0;

    // The files whose change changes the list (the companies' databases and folders): the view
    // tells the logic (CompanyFilesChanged) once they have been still for a moment.
    virtual void WatchCompanyFiles(const std::vector<std::string>& paths) = 0;
};

}  // namespace tidewell
