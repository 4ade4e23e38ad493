#pragma once

// The desktop window. It draws and forwards: every rule lives in the window's logic
// (TformMain), which this window serves as its view.

#include <QPointer>
#include <QWidget>

#include <string>
#include <vector>

#include <map>
#include <memory>

#include "app/Main.h"
#include "app/MainView.h"
#include "view/ClickLabel.h"
#include "view/QtServices.h"

class QAction;
class QCheckBox;
class QFileSystemWatcher;
class QTimer;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;

namespace tidewell {

class TCompanyListView;

inline constexpr QSize kDesignClientSize{526, 321};

class TformMainWindow : public QWidget, public TformMainView {
    Q_OBJECT
public:
    // setup: what the window's logic works with (the settings, the configuration, the clock).
    // keptLoginService: the service `tidewell-cli login` kept, if any.
    explicit TformMainWindow(const TSessionSetup& setup, QWidget* parent = nullptr,
                             const std::string& keptLoginService = {});
    ~TformMainWindow() override;

    TformMain& Form() { return *form_; }
    // Shows the window as the stored settings asked: maximized or normal.
    void ShowAsStored();

    // TformMainView
    void SetCaption(const std::string& caption) override;
    WindowBounds WorkArea() const override;
    WindowBounds Bounds() const override;
    void SetBounds(const WindowBounds& bounds) override;
    bool Maximized() const override;
    void SetMaximized(bool maximized) override;
    void CenterOnScreen() override;
    void SetWaitCursor(bool wait) override;
    void CoverWithLoginPanel() override;
    void CloseWindow() override;
    std::string Text(Element element) const override;
    void SetText(Element element, const std::string& text) override;
    void SetEnabled(Element element, bool enabled) override;
    bool Visible(Element element) const override;
    void SetVisible(Element element, bool visible) override;
    bool Checked(Element element) const override;
    void SetChecked(Element element, bool checked) override;
    void SetFocus(Element element) override;
    void SetPosition(Element element, int position) override;
    void SetLabelLook(Element element, LabelColor color, const std::string& tooltip,
                      bool link) override;
    void Repaint(Element element) override;
    void RowsChanged() override;
    void RepaintRow(int row) override;
    std::optional<int> RowUnderPointer() const override;
    std::optional<int> HotRow() const override;
    bool IsOverSyncButton(int row) const override;
    bool IsOverFolderLink(int row) const override;
    bool BrowseForFolder(const std::string& title, std::string& folder, bool showNewFolder,
                         const TFolderRenameHooks& renames) override;
    std::optional<int> ChooseSafetyArchive(const std::string& companyName,
                                           const TSafetyArchiveList& list,
                                           const TSafetyArchiveRemoval& remove) override;
    bool EditSettings(TWindowSettings& settings) override;
    Shell& DesktopShell() override { return shell_; }
    void WatchCompanyFiles(const std::vector<std::string>& paths) override;
    // How long the companies' files must be still before the list reads them again.
    static constexpr int kFilesSettleMs = 1500;

    // The widgets, by their names in the window (tests look at them).
    QWidget* panelLogin = nullptr;
    QLabel* imageLogo1 = nullptr;
    QFrame* Shape2 = nullptr;
    QFrame* Shape3 = nullptr;
    QFrame* Shape4 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QPushButton* btnLogin = nullptr;
    TClickLabel* Label4 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* imageLogo2 = nullptr;
    QLabel* labelUserName = nullptr;
    QLabel* labelUserDiskUsed = nullptr;
    TClickLabel* labelUserExpireAt = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QLabel* labelCompanyName = nullptr;
    QLabel* labelSyncMode = nullptr;
    QLabel* labelLastModified = nullptr;
    TCompanyListView* vt = nullptr;
    QPushButton* btnSyncSelected = nullptr;
    QFrame* panelProgress = nullptr;
    QLabel* labelProgressTitle = nullptr;
    QLabel* labelProgressSize = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QLabel* labelProgressCaption = nullptr;
    QLabel* labelProgressRun = nullptr;
    QPushButton* btnCancelTransfer = nullptr;
    TClickLabel* imgCompanyAdd = nullptr;
    TClickLabel* imgCompanyDelete = nullptr;
    TClickLabel* btnRefresh = nullptr;
    TClickLabel* labelSettings = nullptr;
    TClickLabel* Label3 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    std::map<Element, QAction*> MenuEntries;

    // Everything but the login panel and the progress panel: hidden while the login panel
    // covers it, so that Tab never lands on a control behind the panel.
    QWidget* MainArea() const { return mainArea_; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateLoginPanel();
    void CreateHeader();
    void CreateList();
    void CreateMenu();
    void CreateBottom();
    void CreateProgressPanel();
    void Connect();
    void FormResize();
    void LayoutListColumns();
    void Run(const std::function<void()>& handler);
    QWidget* Widget(Element element) const;
    QMargins FrameMargins() const;
    // Gives the stored outer size to the window once the window manager has framed it, or, on
    // a screen without frames, once it shows. Until then the client keeps the size it has: a
    // client made the outer size first and shrunk later would lay the login block out for a
    // height it never keeps. A window shown maximized keeps it for its restore.
    void FitStoredSize();
    // Shows at once what the logic just set on the progress panel: the work that follows may
    // keep the window from painting for a while (a database being compacted).
    void ShowProgressNow(QWidget* widget);
    void ProgressPanelShown(bool shown);

    QtShell shell_;
    QWidget* mainArea_ = nullptr;
    std::unique_ptr<TformMain> form_;
    std::map<Element, QWidget*> widgets_;
    bool shown_ = false;
    bool startMaximized_ = false;
    bool waitCursor_ = false;
    bool destroyed_ = false;
    std::optional<Element> pendingFocus_;
    // The stored outer width and height, each until it is given (absent: not stored).
    std::optional<int> storedOuterWidth_;
    std::optional<int> storedOuterHeight_;
    // Back from maximized, the window manager moves the window and tells its normal frame
    // before it gives the normal size; until that size arrives the frame may be the old one.
    bool awaitingRestoredSize_ = false;
    bool exposed_ = false;  // on screen once: a frame the window has not got by now never comes
    QPointer<QWidget> focusBeforeProgress_;
    QFileSystemWatcher* watcher_ = nullptr;
    QTimer* filesSettle_ = nullptr;  // restarted by every change; the list follows at its end
};

}  // namespace tidewell
