#include "view/MainWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "view/BrowseFolder.h"
#include "view/CompanyListView.h"
#include "view/Fonts.h"
#include "view/FormLayout.h"
#include "view/ListLayout.h"
#include "view/Pictures.h"
#include "view/SafetyArchiveDialog.h"

namespace tidewell {
namespace {

// The window's design: the list and its captions, the header above, the commands below.
constexpr int kListLeft = 42;
constexpr int kListTop = 88;
constexpr int kListBottomMargin = 43;
constexpr int kCaptionTop = 70;
constexpr int kHeaderLabelsWidth = 268;
constexpr int kBottomRowOffset = 33;  // from the client's bottom
constexpr QSize kMinimumClient{464, 298};  // the outer minimum of 480 x 337 less a usual frame

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

QLabel* NewPicture(QWidget* parent, std::string_view name, QPoint at) {
    auto* label = new QLabel(parent);
    const QPixmap picture = LoadPicture(name);
    label->setPixmap(picture);
    label->setGeometry(QRect(at, picture.size()));
    return label;
}

void MakeLink(QLabel* label) { label->setCursor(Qt::PointingHandCursor); }

}  // namespace

TformMainWindow::TformMainWindow(QWidget* parent) : QWidget(parent) {
    setFont(DesignFont(9));
    resize(kDesignClientSize);
    setMinimumSize(kMinimumClient);
    setAutoFillBackground(true);
    CreateHeader();
    CreateList();
    CreateMenu();
    CreateBottom();
    CreateProgressPanel();
    CreateLoginPanel();  // last: it covers everything else
    widgets_ = {
        {Element::panelLogin, panelLogin},       {Element::Edit1, Edit1},
        {Element::Edit2, Edit2},                 {Element::CheckBox2, CheckBox2},
        {Element::btnLogin, btnLogin},           {Element::Label4, Label4},
        {Element::labelUserName, labelUserName}, {Element::labelUserDiskUsed, labelUserDiskUsed},
        {Element::labelUserExpireAt, labelUserExpireAt},
        {Element::vt, vt},                       {Element::CheckBox1, CheckBox1},
        {Element::btnSyncSelected, btnSyncSelected},
        {Element::panelProgress, panelProgress}, {Element::labelProgressTitle, labelProgressTitle},
        {Element::labelProgressSize, labelProgressSize}, {Element::ProgressBar, ProgressBar},
        {Element::labelProgressCaption, labelProgressCaption},
        {Element::imgCompanyAdd, imgCompanyAdd}, {Element::imgCompanyDelete, imgCompanyDelete},
        {Element::Label3, Label3},
    };
    form_ = std::make_unique<TformMain>(*this);
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

void TformMainWindow::Run(const std::function<void()>& handler) { form_->Dispatch(handler); }

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
    CheckBox2 = new QCheckBox("아이디 저장", panelLogin);
    CheckBox2->setGeometry(200, 196, 122, 18);
    Label4 = NewLabel(panelLogin,
                      "비밀번호를 잊으셨거나, 로그인에 문제가 있는 분은 여기를 눌러주세요.",
                      QRect(102, 240, 320, 32));
    Label4->setWordWrap(true);
    Label4->setAlignment(Qt::AlignCenter);
    Label4->setStyleSheet("color: #1f4fbf;");
    MakeLink(Label4);
    Label6 = NewLabel(panelLogin, "Quenlow 바코드 Tidewell · 웹폴더 자료 백업", QRect(0, 296, 0, 16));
    Label6->setStyleSheet("color: gray;");
    Label6->adjustSize();
    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, CheckBox2);
    setTabOrder(CheckBox2, btnLogin);
    panelLogin->setGeometry(rect());
}

void TformMainWindow::CreateHeader() {
    imageLogo2 = NewPicture(this, kLogoPicture, QPoint(kListLeft - 4, 8));
    const int left = kDesignClientSize.width() - kListLeft - kHeaderLabelsWidth + 16;
    labelUserName = NewLabel(this, "", QRect(left, 10, kHeaderLabelsWidth, 16));
    labelUserDiskUsed = NewLabel(this, "", QRect(left, 28, kHeaderLabelsWidth, 16));
    labelUserExpireAt = NewLabel(this, "", QRect(left, 46, kHeaderLabelsWidth, 16));
}

void TformMainWindow::CreateList() {
    vt = new TCompanyListView(this);
    vt->setGeometry(kListLeft, kListTop, kDesignClientSize.width() - 2 * kListLeft,
                    kDesignClientSize.height() - kListTop - kListBottomMargin);
    CheckBox1 = new QCheckBox(this);
    CheckBox1->setGeometry(kListLeft + 6, kCaptionTop - 1, 18, 18);
    labelCompanyName = NewLabel(this, "사업장명", QRect(kListLeft + 26, kCaptionTop, 0, 16));
    labelSyncMode = NewLabel(this, "전송 상태", QRect(0, kCaptionTop, 0, 16));
    labelLastModified = NewLabel(this, "자료를 수정한 날짜", QRect(0, kCaptionTop, 0, 16));
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
    add(PopupMenu1, Element::menuRestore, "이전 자료로 되돌리기...", false);
    PopupMenu1->addSeparator();
    add(PopupMenu1, Element::menuRefresh, "새로 고침(&R)", false);
    add(PopupMenu1, Element::menuSelectAll, "모든 사업장 선택(&A)", false);
    add(PopupMenu1, Element::menuSyncAll, "모든 사업장 전송(&S)", false);
    PopupMenu1->addSeparator();
    add(PopupMenu1, Element::N3, "Tidewell 정보...", false);
    vt->SetContextMenu(PopupMenu1);
}

void TformMainWindow::CreateBottom() {
    const int top = kDesignClientSize.height() - kBottomRowOffset;
    imgCompanyAdd = NewPicture(this, kCompanyAddPicture, QPoint(kListLeft, top));
    imgCompanyDelete = NewPicture(this, kCompanyDeletePicture, QPoint(kListLeft + 30, top));
    MakeLink(imgCompanyAdd);
    MakeLink(imgCompanyDelete);
    btnSyncSelected = new QPushButton("전송 시작", this);
    btnSyncSelected->setGeometry(0, top, 100, 26);
    Label3 = NewLabel(this, "<u>도움말</u>", QRect(0, top + 5, 0, 16));
    Label3->setStyleSheet("color: blue;");
    Label3->adjustSize();
    MakeLink(Label3);
}

void TformMainWindow::CreateProgressPanel() {
    panelProgress = new QFrame(this);
    panelProgress->setFrameShape(QFrame::Box);
    panelProgress->setAutoFillBackground(true);
    panelProgress->setGeometry(0, 0, 320, 96);
    labelProgressTitle = NewLabel(panelProgress, "", QRect(12, 10, 190, 18));
    QFont bold = labelProgressTitle->font();
    bold.setBold(true);
    labelProgressTitle->setFont(bold);
    labelProgressSize = NewLabel(panelProgress, "0/0", QRect(180, 10, 128, 18));
    labelProgressSize->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    ProgressBar = new QProgressBar(panelProgress);
    ProgressBar->setGeometry(12, 36, 296, 20);
    ProgressBar->setRange(0, 100);
    ProgressBar->setTextVisible(false);
    labelProgressCaption = NewLabel(panelProgress, "", QRect(12, 64, 296, 18));
    panelProgress->hide();
}

void TformMainWindow::Connect() {
    connect(btnLogin, &QPushButton::clicked, this, [this] { Run([this] { form_->Button1Click(); }); });
    connect(Edit1, &QLineEdit::returnPressed, this,
            [this] { Run([this] { form_->Edit1KeyPress('\r'); }); });
    connect(Edit2, &QLineEdit::returnPressed, this,
            [this] { Run([this] { form_->Edit2KeyPress('\r'); }); });
    // Clicked, not toggled: the logic sets the box itself without meaning a click.
    connect(CheckBox1, &QCheckBox::clicked, this, [this] { Run([this] { form_->CheckBox1Click(); }); });
    connect(btnSyncSelected, &QPushButton::clicked, this,
            [this] { Run([this] { form_->btnSyncSelectedClick(); }); });
    const std::map<Element, void (TformMain::*)()> handlers = {
        {Element::menuSyncModeAuto, &TformMain::menuSyncModeAutoClick},
        {Element::menuSyncModeUpload, &TformMain::menuSyncModeUploadClick},
        {Element::menuSyncModeDownload, &TformMain::menuSyncModeDownloadClick},
        {Element::menuSyncSelected, &TformMain::menuSyncSelectedClick},
        {Element::menuView, &TformMain::menuViewClick},
        {Element::menuRestore, &TformMain::menuRestoreClick},
        {Element::menuRefresh, &TformMain::menuRefreshClick},
        {Element::menuSelectAll, &TformMain::menuSelectAllClick},
        {Element::menuSyncAll, &TformMain::menuSyncAllClick},
        {Element::N3, &TformMain::N3Click},
    };
    for (const auto& [element, handler] : handlers) {
        connect(MenuEntries.at(element), &QAction::triggered, this,
                [this, handler = handler] { Run([this, handler] { (form_.get()->*handler)(); }); });
    }
    for (QLabel* clickable : {labelUserExpireAt, Label4, Label3, imgCompanyAdd, imgCompanyDelete}) {
        clickable->installEventFilter(this);
    }
    connect(vt, &TCompanyListView::Resized, this, [this] { LayoutListColumns(); });
}

bool TformMainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == labelUserExpireAt) Run([this] { form_->labelUserExpireAtClick(); });
        if (watched == Label4) Run([this] { form_->Label4Click(); });
        if (watched == Label3) Run([this] { form_->Label3Click(); });
        if (watched == imgCompanyAdd) Run([this] { form_->imgCompanyAddClick(); });
        if (watched == imgCompanyDelete) Run([this] { form_->imgCompanyDeleteClick(); });
    }
    return QWidget::eventFilter(watched, event);
}

void TformMainWindow::ShowAsStored() {
    if (startMaximized_) {
        showMaximized();
    } else {
        show();
    }
}

void TformMainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_) return;
    shown_ = true;
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

void TformMainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

// ---------------------------------------------------------------------------------------
// Layout

void TformMainWindow::FormResize() {
    if (panelLogin == nullptr) return;
    const QSize client = size();
    panelLogin->setGeometry(0, 0, client.width(), client.height());
    const TLoginBlockPlaces places =
        PlaceLoginBlock(client, {Shape3->width(), Shape4->width(), Label4->width(), Label6->width()});
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
    Label3->move(vt->geometry().right() + 1 - Label3->width(), bottom + 5);
    const int headerLeft = client.width() - kListLeft - kHeaderLabelsWidth + 16;
    for (QLabel* label : {labelUserName, labelUserDiskUsed, labelUserExpireAt}) {
        label->move(headerLeft, label->y());
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
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
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
    const QMargins frame = FrameMargins();
    move(bounds.Left, bounds.Top);
    resize(bounds.Width - frame.left() - frame.right(),
           bounds.Height - frame.top() - frame.bottom());
}

bool TformMainWindow::Maximized() const { return isMaximized() || (!shown_ && startMaximized_); }

void TformMainWindow::SetMaximized(bool maximized) {
    startMaximized_ = maximized;
    if (shown_) maximized ? showMaximized() : showNormal();
}

void TformMainWindow::CenterOnScreen() {
    const WindowBounds area = WorkArea();
    move(area.Left + (area.Width - width()) / 2, area.Top + (area.Height - height()) / 2);
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
}

std::string TformMainWindow::Text(Element element) const {
    const QWidget* widget = Widget(element);
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) return edit->text().toStdString();
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
        label->setText(value);
        if (label == labelUserExpireAt) label->adjustSize();
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) button->setText(value);
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
    if (QWidget* widget = Widget(element)) {
        widget->setVisible(visible);
        if (visible) widget->raise();
    }
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
    if (QWidget* widget = Widget(element)) widget->setFocus();
}

void TformMainWindow::SetPosition(Element element, int position) {
    // An upload counts the whole request body, so its last percentages run slightly past 100.
    if (element == Element::ProgressBar) ProgressBar->setValue(std::clamp(position, 0, 100));
}

void TformMainWindow::SetLabelLook(Element element, LabelColor color, const std::string& tooltip,
                                   bool link) {
    auto* label = qobject_cast<QLabel*>(Widget(element));
    if (!label) return;
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color == LabelColor::Red
                                               ? QColor(Qt::red)
                                               : QApplication::palette().color(QPalette::WindowText));
    label->setPalette(palette);
    label->setToolTip(DisplayText(tooltip));
    label->setCursor(link ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void TformMainWindow::Repaint(Element element) {
    if (QWidget* widget = Widget(element)) widget->repaint();
}

void TformMainWindow::RowsChanged() { vt->RowsChanged(); }

void TformMainWindow::RepaintRow(int row) { vt->RepaintRow(row); }

std::optional<int> TformMainWindow::RowUnderPointer() const { return vt->RowUnderPointer(); }

std::optional<int> TformMainWindow::HotRow() const { return vt->HotRow(); }

bool TformMainWindow::IsOverSyncButton(int row) const { return vt->IsOverSyncButton(row); }

bool TformMainWindow::IsOverFolderLink(int row) const { return vt->IsOverFolderLink(row); }

std::optional<int> TformMainWindow::ChooseSafetyArchive(const std::string& companyName,
                                                        const std::vector<TSafetyArchive>& archives,
                                                        const std::string& note) {
    return tidewell::ChooseSafetyArchive(companyName, archives, note, this);
}

bool TformMainWindow::BrowseForFolder(const std::string& title, std::string& folder,
                                      bool showNewFolder) {
    return tidewell::BrowseForFolder(title, folder, showNewFolder, this);
}

}  // namespace tidewell
