#include "view/MainWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QWindow>

#include "view/BrowseFolder.h"
#include "view/ClickLabel.h"
#include "view/CompanyListView.h"
#include "view/Fonts.h"
#include "view/FormLayout.h"
#include "view/ListLayout.h"
#include "view/Pictures.h"
#include "view/SafetyArchiveDialog.h"
#include "view/SettingsDialog.h"

namespace tidewell {
namespace {

// The window's design: the list and its captions, the header above, the commands below.
constexpr int kListLeft = 42;
constexpr int kListTop = 88;
constexpr int kListBottomMargin = 43;
constexpr int kCaptionTop = 70;
constexpr int kBottomRowOffset = 33;  // from the client's bottom

QLabel* NewLabel(QWidget* parent, const QString& text, QRect geometry) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(geometry);
    return label;
}

QFrame* NewShape(QWidget* parent, QRect geometry, QFrame::Shape shape) {
    auto* frame = new QFrame(parent);
    frame->setFrameShape(shape);
    frame->setFrameShadow(QFrame::Plain);
    frame->setStyleSheet("color: #c8d2e6;");
    frame->setGeometry(geometry);
    return frame;
}

template <typename Label = QLabel, typename... Options>
Label* NewPicture(QWidget* parent, std::string_view name, QPoint at, Options... options) {
    auto* label = new Label(parent, options...);
    const QPixmap picture = LoadPicture(name);
    label->setPixmap(picture);
    label->setGeometry(QRect(at, picture.size()));
    return label;
}

// Maximized or full screen: the window manager decides the size and the frame.
bool FillsScreen(Qt::WindowStates state) {
    return state & (Qt::WindowMaximized | Qt::WindowFullScreen);
}

TClickLabel* NewLink(QWidget* parent, const QString& text, QRect geometry, bool focusable) {
    auto* label = new TClickLabel(parent, focusable);
    label->setText(text);
    label->setGeometry(geometry);
    return label;
}

}  // namespace

TformMainWindow::TformMainWindow(const TSessionSetup& setup, QWidget* parent,
                                 const std::string& keptLoginService)
    : QWidget(parent) {
    // The boxes and dialogs the window owns show it too.
    setWindowIcon(ProgramIcon());
    setFont(DesignFont(9));
    resize(kDesignClientSize);
    setMinimumSize(kMinimumClientSize);
    setAutoFillBackground(true);
    mainArea_ = new QWidget(this);
    mainArea_->setGeometry(rect());
    CreateHeader();
    CreateList();
    CreateMenu();
    CreateBottom();
    CreateProgressPanel();
    CreateLoginPanel();  // last: it covers everything else
    widgets_ = {
        {Element::panelLogin, panelLogin},
        {Element::Edit1, Edit1},
        {Element::Edit2, Edit2},
        {Element::CheckBox2, CheckBox2},
        {Element::btnLogin, btnLogin},
        {Element::Label4, Label4},
        {Element::labelUserName, labelUserName},
        {Element::labelUserDiskUsed, labelUserDiskUsed},
        {Element::labelUserExpireAt, labelUserExpireAt},
        {Element::vt, vt},
        {Element::CheckBox1, CheckBox1},
        {Element::btnSyncSelected, btnSyncSelected},
        {Element::panelProgress, panelProgress},
        {Element::labelProgressTitle, labelProgressTitle},
        {Element::labelProgressSize, labelProgressSize},
        {Element::ProgressBar, ProgressBar},
        {Element::labelProgressCaption, labelProgressCaption},
        {Element::labelProgressRun, labelProgressRun},
        {Element::imgCompanyAdd, imgCompanyAdd},
        {Element::imgCompanyDelete, imgCompanyDelete},
        {Element::btnRefresh, btnRefresh},
        {Element::labelSettings, labelSettings},
        {Element::Label3, Label3},
    };
    watcher_ = new QFileSystemWatcher(this);
    filesSettle_ = new QTimer(this);
    filesSettle_->setSingleShot(true);
    filesSettle_->setInterval(kFilesSettleMs);
    form_ = std::make_unique<TformMain>(*this, setup, keptLoginService);
    vt->SetForm(form_.get(), [this](const std::function<void()>& handler) { Run(handler); });
    Connect();
    form_->FormCreate();
    LayoutListColumns();
    FormResize();
}

TformMainWindow::~TformMainWindow() {
    if (!destroyed_) Run([this] { form_->FormDestroy(); });
    destroyed_ = true;
}

void TformMainWindow::Run(const std::function<void()>& handler) {
    form_->Dispatch(handler);
}

void TformMainWindow::CreateLoginPanel() {
    panelLogin = new QWidget(this);
    panelLogin->setAutoFillBackground(true);
    QPalette white = panelLogin->palette();
    white.setColor(QPalette::Window, Qt::white);
    panelLogin->setPalette(white);
    imageLogo1 = NewPicture(panelLogin, kLogoPicture, QPoint(82, 4));
    Shape2 = NewShape(panelLogin, QRect(82, 80, 361, 2), QFrame::HLine);
    Shape3 = NewShape(panelLogin, QRect(82, 100, 361, 190), QFrame::Box);
    Shape4 = NewShape(panelLogin, QRect(112, 132, 300, 88), QFrame::Box);
    Label1 = NewLabel(panelLogin, "아이디", QRect(152, 152, 44, 16));
    Edit1 = new QLineEdit(panelLogin);
    Edit1->setGeometry(200, 148, 122, 21);
    Label2 = NewLabel(panelLogin, "비밀번호", QRect(140, 176, 56, 16));
    Edit2 = new QLineEdit(panelLogin);
    Edit2->setEchoMode(QLineEdit::Password);
    Edit2->setGeometry(200, 172, 122, 21);
    btnLogin = new QPushButton("로그인", panelLogin);
    btnLogin->setGeometry(331, 148, 70, 45);
    btnLogin->setAutoDefault(true);  // Enter presses it when it has the focus
    CheckBox2 = new QCheckBox("아이디 저장", panelLogin);
    CheckBox2->setGeometry(200, 196, 122, 18);
    Label4 =
        NewLink(panelLogin, "비밀번호를 잊으셨거나, 로그인에 문제가 있는 분은 여기를 눌러주세요.",
                QRect(102, 240, 320, 32), false);
    Label4->setWordWrap(true);
    Label4->setAlignment(Qt::AlignCenter);
    Label4->setStyleSheet("color: #1f4fbf;");
    Label6 =
        NewLabel(panelLogin, "Quenlow 바코드 Tidewell · 웹폴더 자료 백업", QRect(0, 296, 0, 16));
    Label6->setStyleSheet("color: gray;");
    Label6->adjustSize();
    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, CheckBox2);
    setTabOrder(CheckBox2, btnLogin);
    panelLogin->setGeometry(rect());
}

void TformMainWindow::CreateHeader() {
    imageLogo2 = NewPicture(mainArea_, kLogoPicture, QPoint(kListLeft - 4, 8));
    const int left = HeaderLabelsLeft(kDesignClientSize.width());
    labelUserName = NewLabel(mainArea_, "", QRect(left, 10, kHeaderLabelsWidth, 16));
    labelUserDiskUsed = NewLabel(mainArea_, "", QRect(left, 28, kHeaderLabelsWidth, 16));
    // A link once a login has filled it; until then the arrow (the logic sets the look).
    labelUserExpireAt = NewLink(mainArea_, "", QRect(left, 46, kHeaderLabelsWidth, 16), false);
    labelUserExpireAt->setCursor(Qt::ArrowCursor);
}

void TformMainWindow::CreateList() {
    vt = new TCompanyListView(mainArea_);
    vt->setGeometry(kListLeft, kListTop, kDesignClientSize.width() - 2 * kListLeft,
                    kDesignClientSize.height() - kListTop - kListBottomMargin);
    CheckBox1 = new QCheckBox(mainArea_);
    CheckBox1->setGeometry(kListLeft + 6, kCaptionTop - 1, 18, 18);
    labelCompanyName = NewLabel(mainArea_, "사업장명", QRect(kListLeft + 26, kCaptionTop, 0, 16));
    labelSyncMode = NewLabel(mainArea_, "전송 상태", QRect(0, kCaptionTop, 0, 16));
    labelLastModified = NewLabel(mainArea_, "자료를 수정한 날짜", QRect(0, kCaptionTop, 0, 16));
    for (QLabel* caption : {labelCompanyName, labelSyncMode, labelLastModified}) {
        caption->adjustSize();
    }
}

void TformMainWindow::CreateMenu() {
    PopupMenu1 = new QMenu(this);
    QMenu* mode = PopupMenu1->addMenu("전송 모드(&M)");
    auto* radio = new QActionGroup(PopupMenu1);
    const auto add = [&](QMenu* menu, Element element, const char* caption, bool checkable) {
        QAction* action = menu->addAction(caption);
        action->setCheckable(checkable);
        if (checkable) radio->addAction(action);
        MenuEntries[element] = action;
        return action;
    };
    MenuEntries[Element::menuSyncMode] = mode->menuAction();
    add(mode, Element::menuSyncModeAuto, "자동(&A)", true);
    add(mode, Element::menuSyncModeUpload, "업로드(&U)", true);
    add(mode, Element::menuSyncModeDownload, "다운로드(&D)", true);
    add(PopupMenu1, Element::menuSyncSelected, "사업장 전송(&T)", false);
    PopupMenu1->addSeparator();
    add(PopupMenu1, Element::menuView, "실행(&E)", false);
    add(PopupMenu1, Element::menuChooseFolder, "폴더 선택(&F)...", false);
    add(PopupMenu1, Element::menuRestore, "이전 자료로 되돌리기...", false);
    add(PopupMenu1, Element::menuForget, "이 컴퓨터에서만 삭제(&L)...", false);
    PopupMenu1->addSeparator();
    add(PopupMenu1, Element::menuRefresh, "새로 고침(&R)\tF5", false);
    add(PopupMenu1, Element::menuSelectAll, "모든 사업장 선택(&A)", false);
    add(PopupMenu1, Element::menuSyncAll, "모든 사업장 전송(&S)", false);
    PopupMenu1->addSeparator();
    add(PopupMenu1, Element::menuSettings, "설정(&P)...", false);
    add(PopupMenu1, Element::menuLogout, "로그아웃(&O)", false);
    PopupMenu1->addSeparator();
    add(PopupMenu1, Element::N3, "Tidewell 정보...", false);
    vt->SetContextMenu(PopupMenu1);
}

void TformMainWindow::CreateBottom() {
    const int top = kDesignClientSize.height() - kBottomRowOffset;
    imgCompanyAdd =
        NewPicture<TClickLabel>(mainArea_, kCompanyAddPicture, QPoint(kListLeft, top), true);
    imgCompanyDelete = NewPicture<TClickLabel>(mainArea_, kCompanyDeletePicture,
                                               QPoint(kListLeft + 30, top), true);
    btnRefresh =
        NewPicture<TClickLabel>(mainArea_, kRefreshPicture, QPoint(kListLeft + 60, top), true);
    imgCompanyAdd->setToolTip("사업장 추가");
    imgCompanyDelete->setToolTip("사업장 삭제");
    btnRefresh->setToolTip("새로 고침 (F5)");
    btnSyncSelected = new QPushButton("전송 시작", mainArea_);
    btnSyncSelected->setGeometry(0, top, 100, 26);
    btnSyncSelected->setAutoDefault(true);
    Label3 = NewLink(mainArea_, "<u>도움말</u>", QRect(0, top + 5, 0, 16), true);
    Label3->setStyleSheet("color: blue;");
    Label3->adjustSize();
    labelSettings = NewLink(mainArea_, "<u>설정</u>", QRect(0, top + 5, 0, 16), true);
    labelSettings->setStyleSheet("color: blue;");
    labelSettings->adjustSize();
    // Left to right as they stand under the list.
    setTabOrder(CheckBox1, vt);
    setTabOrder(vt, imgCompanyAdd);
    setTabOrder(imgCompanyAdd, imgCompanyDelete);
    setTabOrder(imgCompanyDelete, btnRefresh);
    setTabOrder(btnRefresh, btnSyncSelected);
    setTabOrder(btnSyncSelected, labelSettings);
    setTabOrder(labelSettings, Label3);
}

void TformMainWindow::CreateProgressPanel() {
    panelProgress = new QFrame(this);
    panelProgress->setFrameShape(QFrame::Box);
    panelProgress->setAutoFillBackground(true);
    panelProgress->setGeometry(0, 0, 340, 118);
    labelProgressTitle = NewLabel(panelProgress, "", QRect(12, 10, 200, 18));
    QFont bold = labelProgressTitle->font();
    bold.setBold(true);
    labelProgressTitle->setFont(bold);
    labelProgressSize = NewLabel(panelProgress, "0/0", QRect(200, 10, 128, 18));
    labelProgressSize->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    labelProgressSize->hide();  // hidden while there is no size to show
    ProgressBar = new QProgressBar(panelProgress);
    ProgressBar->setGeometry(12, 36, 316, 20);
    ProgressBar->setRange(0, 100);
    ProgressBar->setTextVisible(false);
    // The whole run under the company's bar: n/N, bytes, speed, time left.
    labelProgressRun = NewLabel(panelProgress, "", QRect(12, 60, 316, 16));
    labelProgressRun->setStyleSheet("color: #505a6a;");
    labelProgressCaption = NewLabel(panelProgress, "", QRect(12, 86, 230, 18));
    btnCancelTransfer = new QPushButton("취소", panelProgress);
    btnCancelTransfer->setGeometry(253, 82, 75, 25);
    btnCancelTransfer->setAutoDefault(true);
    // Escape stops the transfer wherever the focus is, for as long as the panel shows.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), panelProgress);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, btnCancelTransfer, &QPushButton::click);
    panelProgress->hide();
}

void TformMainWindow::Connect() {
    connect(btnLogin, &QPushButton::clicked, this,
            [this] { Run([this] { form_->Button1Click(); }); });
    connect(Edit1, &QLineEdit::returnPressed, this,
            [this] { Run([this] { form_->Edit1KeyPress('\r'); }); });
    connect(Edit2, &QLineEdit::returnPressed, this,
            [this] { Run([this] { form_->Edit2KeyPress('\r'); }); });
    // Clicked, not toggled: the logic sets the box itself without meaning a click.
    connect(CheckBox1, &QCheckBox::clicked, this,
            [this] { Run([this] { form_->CheckBox1Click(); }); });
    connect(btnSyncSelected, &QPushButton::clicked, this,
            [this] { Run([this] { form_->btnSyncSelectedClick(); }); });
    connect(btnCancelTransfer, &QPushButton::clicked, this,
            [this] { Run([this] { form_->btnCancelTransferClick(); }); });
    const std::map<Element, void (TformMain::*)()> handlers = {
        {Element::menuSyncModeAuto, &TformMain::menuSyncModeAutoClick},
        {Element::menuSyncModeUpload, &TformMain::menuSyncModeUploadClick},
        {Element::menuSyncModeDownload, &TformMain::menuSyncModeDownloadClick},
        {Element::menuSyncSelected, &TformMain::menuSyncSelectedClick},
        {Element::menuView, &TformMain::menuViewClick},
        {Element::menuChooseFolder, &TformMain::menuChooseFolderClick},
        {Element::menuRestore, &TformMain::menuRestoreClick},
        {Element::menuForget, &TformMain::menuForgetClick},
        {Element::menuRefresh, &TformMain::menuRefreshClick},
        {Element::menuSelectAll, &TformMain::menuSelectAllClick},
        {Element::menuSyncAll, &TformMain::menuSyncAllClick},
        {Element::menuSettings, &TformMain::menuSettingsClick},
        {Element::menuLogout, &TformMain::menuLogoutClick},
        {Element::N3, &TformMain::N3Click},
    };
    for (const auto& [element, handler] : handlers) {
        connect(MenuEntries.at(element), &QAction::triggered, this,
                [this, handler = handler] { Run([this, handler] { (form_.get()->*handler)(); }); });
    }
    const std::map<TClickLabel*, void (TformMain::*)()> clicks = {
        {labelUserExpireAt, &TformMain::labelUserExpireAtClick},
        {Label4, &TformMain::Label4Click},
        {Label3, &TformMain::Label3Click},
        {imgCompanyAdd, &TformMain::imgCompanyAddClick},
        {imgCompanyDelete, &TformMain::imgCompanyDeleteClick},
        {btnRefresh, &TformMain::menuRefreshClick},
        {labelSettings, &TformMain::menuSettingsClick},
    };
    for (const auto& [label, handler] : clicks) {
        connect(label, &TClickLabel::clicked, this,
                [this, handler = handler] { Run([this, handler] { (form_.get()->*handler)(); }); });
    }
    connect(vt, &TCompanyListView::Resized, this, [this] { LayoutListColumns(); });
    // F5 refreshes the list wherever the focus is in the logged-in window.
    auto* refresh = new QShortcut(QKeySequence(Qt::Key_F5), mainArea_);
    refresh->setContext(Qt::WindowShortcut);
    connect(refresh, &QShortcut::activated, this, [this] {
        if (mainArea_->isVisible()) Run([this] { form_->menuRefreshClick(); });
    });
    // A company's database written by the host product, a folder that came or went: the list
    // follows once the files have been still for a moment.
    connect(watcher_, &QFileSystemWatcher::fileChanged, filesSettle_, qOverload<>(&QTimer::start));
    connect(watcher_, &QFileSystemWatcher::directoryChanged, filesSettle_,
            qOverload<>(&QTimer::start));
    connect(filesSettle_, &QTimer::timeout, this,
            [this] { Run([this] { form_->CompanyFilesChanged(); }); });
}

void TformMainWindow::ShowAsStored() {
    if (startMaximized_) {
        showMaximized();
    } else {
        show();
    }
}

bool TformMainWindow::event(QEvent* event) {
    const bool result = QWidget::event(event);
    switch (event->type()) {
        case QEvent::WindowStateChange:
            if (FillsScreen(static_cast<QWindowStateChangeEvent*>(event)->oldState()) &&
                !FillsScreen(windowState())) {
                awaitingRestoredSize_ = true;
            }
            break;
        case QEvent::Resize:
            if (event->spontaneous()) awaitingRestoredSize_ = false;
            [[fallthrough]];
        case QEvent::Move:
            if (!awaitingRestoredSize_) FitStoredSize();
            break;
        case QEvent::WindowActivate:
            // Back from a box or a dialog: the list saw no moves meanwhile.
            if (vt) vt->FollowPointer();
            break;
        default:
            break;
    }
    return result;
}

void TformMainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_) return;
    shown_ = true;
    if (QWindow* window = windowHandle()) window->installEventFilter(this);
    Run([this] { form_->FormShow(); });
    // Focus asked for before the window existed on screen lands now.
    if (QWidget* widget = Widget(pendingFocus_.value_or(Element::Edit1))) widget->setFocus();
}

void TformMainWindow::closeEvent(QCloseEvent* event) {
    if (!form_->FormCloseQuery()) {
        event->ignore();
        return;
    }
    event->accept();
}

bool TformMainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle() && event->type() == QEvent::Expose && !exposed_ &&
        windowHandle()->isExposed()) {
        exposed_ = true;
        FitStoredSize();
    }
    return QWidget::eventFilter(watched, event);
}

void TformMainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

void TformMainWindow::FitStoredSize() {
    if (!storedOuterWidth_ && !storedOuterHeight_) return;
    // A maximized window keeps the stored size for when it is restored.
    if (!shown_ || FillsScreen(windowState()) || (windowState() & Qt::WindowMinimized)) return;
    const QMargins frame = FrameMargins();
    if (frame.isNull() && !exposed_) return;
    QSize client = size();
    if (storedOuterWidth_) client.setWidth(*storedOuterWidth_ - frame.left() - frame.right());
    if (storedOuterHeight_) client.setHeight(*storedOuterHeight_ - frame.top() - frame.bottom());
    storedOuterWidth_.reset();
    storedOuterHeight_.reset();
    resize(client);
}

// ---------------------------------------------------------------------------------------
// Layout

void TformMainWindow::FormResize() {
    if (panelLogin == nullptr) return;
    const QSize client = size();
    const int previousHeight = panelLogin->height();
    panelLogin->setGeometry(0, 0, client.width(), client.height());
    mainArea_->setGeometry(0, 0, client.width(), client.height());
    const TLoginBlockPlaces places = PlaceLoginBlock(
        client, {Shape3->width(), Shape4->width(), Label4->width(), Label6->width()},
        previousHeight);
    const auto place = [](QWidget* widget, const TControlPlace& at) {
        widget->move(at.Left, at.Top.value_or(widget->y()));
    };
    place(imageLogo1, places.imageLogo1);
    place(Shape2, places.Shape2);
    place(Shape3, places.Shape3);
    place(Shape4, places.Shape4);
    place(Label1, places.Label1);
    place(Edit1, places.Edit1);
    place(Label2, places.Label2);
    place(Edit2, places.Edit2);
    place(btnLogin, places.btnLogin);
    place(CheckBox2, places.CheckBox2);
    place(Label4, places.Label4);
    place(Label6, places.Label6);

    // The list and what hangs off it follow the window's edges.
    vt->setGeometry(kListLeft, kListTop, client.width() - 2 * kListLeft,
                    client.height() - kListTop - kListBottomMargin);
    const int bottom = client.height() - kBottomRowOffset;
    imgCompanyAdd->move(kListLeft, bottom);
    imgCompanyDelete->move(kListLeft + 30, bottom);
    btnRefresh->move(kListLeft + 60, bottom);
    Label3->move(vt->geometry().right() + 1 - Label3->width(), bottom + 5);
    labelSettings->move(Label3->x() - 14 - labelSettings->width(), bottom + 5);
    for (QLabel* label :
         {labelUserName, labelUserDiskUsed, static_cast<QLabel*>(labelUserExpireAt)}) {
        label->move(HeaderLabelsLeft(client.width()), label->y());
    }

    const QMargins frame = FrameMargins();
    const QSize outer(client.width() + frame.left() + frame.right(),
                      client.height() + frame.top() + frame.bottom());
    const TCentredPanelsPlaces centred =
        PlaceCentredPanels(outer, btnSyncSelected->width(), panelProgress->size());
    btnSyncSelected->move(centred.SyncButtonLeft, bottom);
    panelProgress->move(centred.ProgressPanel);
    LayoutListColumns();
}

void TformMainWindow::LayoutListColumns() {
    const TListLayout layout = tidewell::LayoutListColumns(
        vt->viewport()->width(), {vt->x() + vt->viewport()->x(), labelSyncMode->width(),
                                  labelLastModified->width(), vt->ShowsVerticalScrollBar()});
    vt->SetColumns(layout.Columns);
    labelSyncMode->move(layout.SyncModeCaptionLeft, labelSyncMode->y());
    labelLastModified->move(layout.LastModifiedCaptionLeft, labelLastModified->y());
}

QMargins TformMainWindow::FrameMargins() const {
    // The window's own answer is fresh while it shows; the widget's copy follows only at the
    // next move (right after a restore it still holds the maximized frame), but it outlasts the
    // window's hiding at the close.
    if (const QWindow* window = windowHandle(); window && window->isVisible()) {
        return window->frameMargins();
    }
    const QRect frame = frameGeometry();
    const QRect inner = geometry();
    return QMargins(inner.left() - frame.left(), inner.top() - frame.top(),
                    frame.right() - inner.right(), frame.bottom() - inner.bottom());
}

// ---------------------------------------------------------------------------------------
// The view of the window's logic

QWidget* TformMainWindow::Widget(Element element) const {
    const auto it = widgets_.find(element);
    return it == widgets_.end() ? nullptr : it->second;
}

void TformMainWindow::SetCaption(const std::string& caption) {
    setWindowTitle(QString::fromStdString(caption));
}

WindowBounds TformMainWindow::WorkArea() const {
    // All screens together: a window stored on a second screen may go back there.
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableVirtualGeometry() : QRect(0, 0, 1024, 768);
    return {area.x(), area.y(), area.width(), area.height()};
}

WindowBounds TformMainWindow::Bounds() const {
    const QRect normal = isMaximized() ? normalGeometry() : geometry();
    const QMargins frame = FrameMargins();
    return {normal.x() - frame.left(), normal.y() - frame.top(),
            normal.width() + frame.left() + frame.right(),
            normal.height() + frame.top() + frame.bottom()};
}

void TformMainWindow::SetBounds(const WindowBounds& bounds) {
    const QRect outer(bounds.Left, bounds.Top, bounds.Width, bounds.Height);
    const WindowBounds now = Bounds();
    // A size the logic handed back unchanged was not stored: the design's client size stays.
    storedOuterWidth_.reset();
    storedOuterHeight_.reset();
    if (bounds.Width != now.Width) storedOuterWidth_ = bounds.Width;
    if (bounds.Height != now.Height) storedOuterHeight_ = bounds.Height;
    FitStoredSize();
    // A window that no screen would show is left where the system puts new windows; so is a
    // position the logic handed back unchanged before the window had one.
    const bool unplaced = !shown_ && !testAttribute(Qt::WA_Moved);
    if (unplaced && bounds.Left == now.Left && bounds.Top == now.Top) return;
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas.push_back(screen->availableGeometry());
    if (TitleBarShown(outer, areas)) move(outer.topLeft());
}

bool TformMainWindow::Maximized() const {
    return isMaximized() || (!shown_ && startMaximized_);
}

void TformMainWindow::SetMaximized(bool maximized) {
    startMaximized_ = maximized;
    if (shown_) maximized ? showMaximized() : showNormal();
}

void TformMainWindow::CenterOnScreen() {
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

void TformMainWindow::SetWaitCursor(bool wait) {
    if (wait == waitCursor_) return;
    waitCursor_ = wait;
    if (wait) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void TformMainWindow::CloseWindow() {
    // After the handler that asked for it has returned, so the close finds Busy cleared.
    QTimer::singleShot(0, this, &QWidget::close);
}

void TformMainWindow::CoverWithLoginPanel() {
    panelLogin->setGeometry(rect());
    panelLogin->raise();
    panelLogin->show();
    mainArea_->hide();
}

std::string TformMainWindow::Text(Element element) const {
    const QWidget* widget = Widget(element);
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget))
        return edit->text().toStdString();
    if (const auto* label = qobject_cast<const QLabel*>(widget)) return label->text().toStdString();
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        return button->text().toStdString();
    }
    return {};
}

void TformMainWindow::SetText(Element element, const std::string& text) {
    QWidget* widget = Widget(element);
    const QString value = DisplayText(text);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->setText(value);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        if (label->text() == value) return;
        label->setText(value);
        if (label == labelUserExpireAt) label->adjustSize();
        if (label->parentWidget() == panelProgress) ShowProgressNow(label);
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) button->setText(value);
}

void TformMainWindow::ShowProgressNow(QWidget* widget) {
    if (panelProgress->isHidden() || !isVisible()) return;
    if (widget->isHidden()) {
        panelProgress->repaint(widget->geometry());
    } else {
        widget->repaint();
    }
}

void TformMainWindow::ProgressPanelShown(bool shown) {
    if (shown) {
        // The transfer's own button takes the keys meanwhile; the focus comes back after.
        focusBeforeProgress_ = QApplication::focusWidget();
        btnCancelTransfer->setFocus();
        panelProgress->repaint();
        return;
    }
    QWidget* back = focusBeforeProgress_;
    focusBeforeProgress_ = nullptr;
    if (back && back->isVisible() && back->isEnabled()) {
        back->setFocus();
    } else if (vt->isVisible() && vt->isEnabled()) {
        vt->setFocus();
    }
}

void TformMainWindow::SetEnabled(Element element, bool enabled) {
    if (const auto entry = MenuEntries.find(element); entry != MenuEntries.end()) {
        entry->second->setEnabled(enabled);
    } else if (QWidget* widget = Widget(element)) {
        widget->setEnabled(enabled);
    }
}

bool TformMainWindow::Visible(Element element) const {
    const QWidget* widget = Widget(element);
    return widget && !widget->isHidden();
}

void TformMainWindow::SetVisible(Element element, bool visible) {
    QWidget* widget = Widget(element);
    if (!widget || widget->isHidden() == !visible) return;
    if (element == Element::panelLogin) mainArea_->setVisible(!visible);
    widget->setVisible(visible);
    if (visible) widget->raise();
    if (element == Element::panelProgress) ProgressPanelShown(visible);
    if (widget->parentWidget() == panelProgress) ShowProgressNow(widget);
}

bool TformMainWindow::Checked(Element element) const {
    if (const auto entry = MenuEntries.find(element); entry != MenuEntries.end()) {
        return entry->second->isChecked();
    }
    const auto* box = qobject_cast<const QAbstractButton*>(Widget(element));
    return box && box->isChecked();
}

void TformMainWindow::SetChecked(Element element, bool checked) {
    if (const auto entry = MenuEntries.find(element); entry != MenuEntries.end()) {
        entry->second->setChecked(checked);
    } else if (auto* box = qobject_cast<QAbstractButton*>(Widget(element))) {
        const QSignalBlocker quiet(box);
        box->setChecked(checked);
    }
}

void TformMainWindow::SetFocus(Element element) {
    if (!shown_) pendingFocus_ = element;
    QWidget* widget = Widget(element);
    if (!widget) return;
    widget->setFocus();
    // An edit field given the focus has its text selected, so that typing replaces it (the
    // wrong password after a failed login).
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->selectAll();
}

void TformMainWindow::SetPosition(Element element, int position) {
    if (element != Element::ProgressBar) return;
    const int value = std::clamp(position, 0, 100);
    if (ProgressBar->value() == value) return;
    ProgressBar->setValue(value);
    ShowProgressNow(ProgressBar);
}

void TformMainWindow::SetLabelLook(Element element, LabelColor color, const std::string& tooltip,
                                   bool link) {
    auto* label = qobject_cast<QLabel*>(Widget(element));
    if (!label) return;
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color == LabelColor::Red ? QColor(Qt::red)
                                                                    : QApplication::palette().color(
                                                                          QPalette::WindowText));
    label->setPalette(palette);
    label->setToolTip(DisplayText(tooltip));
    label->setCursor(link ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void TformMainWindow::Repaint(Element element) {
    if (QWidget* widget = Widget(element)) widget->repaint();
}

void TformMainWindow::RowsChanged() {
    vt->RowsChanged();
}

void TformMainWindow::RepaintRow(int row) {
    vt->RepaintRow(row);
}

std::optional<int> TformMainWindow::RowUnderPointer() const {
    return vt->RowUnderPointer();
}

std::optional<int> TformMainWindow::HotRow() const {
    return vt->HotRow();
}

bool TformMainWindow::IsOverSyncButton(int row) const {
    return vt->IsOverSyncButton(row);
}

bool TformMainWindow::IsOverFolderLink(int row) const {
    return vt->IsOverFolderLink(row);
}

std::optional<int> TformMainWindow::ChooseSafetyArchive(const std::string& companyName,
                                                        const TSafetyArchiveList& list,
                                                        const TSafetyArchiveRemoval& remove) {
    return tidewell::ChooseSafetyArchive(companyName, list, remove, this);
}

bool TformMainWindow::BrowseForFolder(const std::string& title, std::string& folder,
                                      bool showNewFolder, const TFolderRenameHooks& renames) {
    return tidewell::BrowseForFolder(title, folder, showNewFolder, this, renames);
}

bool TformMainWindow::EditSettings(TWindowSettings& settings) {
    return EditWindowSettings(settings, this);
}

void TformMainWindow::WatchCompanyFiles(const std::vector<std::string>& paths) {
    // Watched anew every time: a file replaced by a rename is a new file to the system.
    if (!watcher_->files().isEmpty()) watcher_->removePaths(watcher_->files());
    if (!watcher_->directories().isEmpty()) watcher_->removePaths(watcher_->directories());
    QStringList existing;
    for (const std::string& path : paths) {
        const QString name = QString::fromStdString(path);
        if (!name.isEmpty() && !existing.contains(name) && QFileInfo::exists(name)) {
            existing << name;
        }
    }
    if (!existing.isEmpty()) watcher_->addPaths(existing);
}

}  // namespace tidewell
