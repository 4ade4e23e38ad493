#include "view/BrowseFolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <vector>

#include "company/Common.h"
#include "platform/UserInterface.h"
#include "view/Fonts.h"

namespace tidewell {

namespace {

constexpr int kTreeRowHeight = 17;
const QString kFileSystemRoot = QStringLiteral("/");

// Keeps the tree's rows at their fixed height whatever the font asks for.
class FixedRowHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(kTreeRowHeight);
        return size;
    }
};

// Whether a path names a hidden folder or lies inside one.
bool IsInsideHiddenFolder(const QString& path) {
    const QStringList parts = QDir::cleanPath(QDir::fromNativeSeparators(path)).split('/');
    return std::any_of(parts.begin(), parts.end(), [](const QString& part) {
        return part.size() > 1 && part.startsWith('.') && part != QStringLiteral("..");
    });
}

// Row numbers from the top of the tree down to the index; compares in tree order.
std::vector<int> TreePosition(QModelIndex index) {
    std::vector<int> rows;
    for (; index.isValid(); index = index.parent()) rows.push_back(index.row());
    std::reverse(rows.begin(), rows.end());
    return rows;
}

QString CleanFolderPath(const QString& folder) {
    return QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

// Where the tree opens for a folder that is not there (an unplugged drive, a folder renamed
// elsewhere): the nearest folder above it that is, short of the root; else the home folder.
QString NearestExistingFolder(const QString& folder) {
    if (!folder.isEmpty()) {
        for (QString path = CleanFolderPath(folder); path != kFileSystemRoot;
             path = QFileInfo(path).absolutePath()) {
            if (QFileInfo(path).isDir()) return path;
        }
    }
    return QDir::homePath();
}

// "새 폴더", or "새 폴더 (2)" and on when that name is taken.
QString FreeNewFolderName(const QString& parentPath) {
    const QString base = QStringLiteral("새 폴더");
    const QDir parent(parentPath);
    if (!parent.exists(base)) return base;
    for (int n = 2;; ++n) {
        const QString name = QStringLiteral("%1 (%2)").arg(base).arg(n);
        if (!parent.exists(name)) return name;
    }
}

// The file system's folders, whose renames the dialog may refuse first.
class FolderModel : public QFileSystemModel {
public:
    using QFileSystemModel::QFileSystemModel;
    std::function<bool(const QString& path)> MayRename;

    bool setData(const QModelIndex& index, const QVariant& value, int role) override {
        if (role == Qt::EditRole && index.isValid() && value.toString() != fileName(index) &&
            MayRename && !MayRename(filePath(index))) {
            return false;
        }
        return QFileSystemModel::setData(index, value, role);
    }
};

void Tell(const std::string& text) {
    CurrentUserInterface().ShowMessageBox(
        {kApplicationTitle, text, MessageIcon::Information, MessageButtons::Ok, MessageResult::Ok});
}

}  // namespace

TWexBrowseForFolderDialog::TWexBrowseForFolderDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("WexBrowseForFolderDialog"));
    setWindowTitle(QStringLiteral("폴더 찾아보기"));
    setFont(DesignPixelFont(12));
    setFixedSize(418, 320);

    lblTitle = new QLabel(this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblTitle->setGeometry(12, 12, 389, 12);

    eSelectedFolder = new QLineEdit(this);
    eSelectedFolder->setObjectName(QStringLiteral("eSelectedFolder"));
    eSelectedFolder->setGeometry(12, 36, 393, 20);

    // Creating the model with its root path starts watching the file system.
    auto* model = new FolderModel(this);
    model->MayRename = [this](const QString& path) { return MayRename(path); };
    model_ = model;
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_->setReadOnly(false);  // renaming in place, and making new folders
    model_->setRootPath(kFileSystemRoot);

    VET1 = new QTreeView(this);
    VET1->setObjectName(QStringLiteral("VET1"));
    VET1->setGeometry(12, 60, 393, 215);
    VET1->setModel(model_);
    VET1->setItemDelegate(new FixedRowHeightDelegate(VET1));
    VET1->setUniformRowHeights(true);
    VET1->setHeaderHidden(true);
    for (int column = 1; column < model_->columnCount(); ++column) VET1->hideColumn(column);
    VET1->setRootIsDecorated(true);
    VET1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    VET1->setEditTriggers(QAbstractItemView::EditKeyPressed);
    VET1->setContextMenuPolicy(Qt::CustomContextMenu);

    btnNewFolder = new QPushButton(QStringLiteral("새 폴더 만들기 (&M)"), this);
    btnNewFolder->setObjectName(QStringLiteral("btnNewFolder"));
    btnNewFolder->setGeometry(12, 286, 125, 25);

    btnOk = new QPushButton(QStringLiteral("확인"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setGeometry(248, 286, 75, 25);
    btnOk->setDefault(true);

    btnCancel = new QPushButton(QStringLiteral("취소"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(330, 286, 75, 25);

    chkShowHidden = new QCheckBox(QStringLiteral("숨김 폴더 표시"), this);
    chkShowHidden->setObjectName(QStringLiteral("chkShowHidden"));
    chkShowHidden->setGeometry(144, 290, 102, 18);

    // Every button is pressed by Enter while it has the focus; elsewhere Enter means 확인.
    setTabOrder(VET1, btnNewFolder);
    setTabOrder(btnNewFolder, btnOk);
    setTabOrder(btnOk, btnCancel);
    setTabOrder(btnCancel, eSelectedFolder);
    setTabOrder(eSelectedFolder, chkShowHidden);

    connect(VET1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { VET1Change(); });
    connect(VET1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& position) { ShowTreeMenu(position); });
    // Rows arrive and get sorted in the background after the dialog opens; keep the starting
    // folder in view through that until the user takes over the tree.
    connect(model_, &QAbstractItemModel::rowsInserted, this, [this] { KeepStartFolderInView(); });
    connect(model_, &QAbstractItemModel::layoutChanged, this, [this] { KeepStartFolderInView(); });
    for (QObject* part :
         {static_cast<QObject*>(VET1->viewport()), static_cast<QObject*>(VET1->verticalScrollBar()),
          static_cast<QObject*>(VET1)}) {
        part->installEventFilter(this);
    }
    connect(btnNewFolder, &QPushButton::clicked, this, [this] { btnNewFolderClick(); });
    connect(chkShowHidden, &QCheckBox::toggled, this, [this](bool show) { SetShowHidden(show); });
    connect(eSelectedFolder, &QLineEdit::textEdited, this,
            [this](const QString& text) { eSelectedFolderEdited(text); });
    connect(model_, &QFileSystemModel::fileRenamed, this,
            [this](const QString& path, const QString& oldName, const QString& newName) {
                FolderRenamed(path, oldName, newName);
            });
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TWexBrowseForFolderDialog::~TWexBrowseForFolderDialog() = default;

void TWexBrowseForFolderDialog::SetDialogTitle(const QString& title) {
    dialogTitle_ = title;
    lblTitle->setText(title);
}

bool TWexBrowseForFolderDialog::Execute() {
    Prepare();
    if (exec() != QDialog::Accepted) return false;
    selectedFolder_ = eSelectedFolder->text();
    return true;
}

void TWexBrowseForFolderDialog::Prepare() {
    OpenTreeAt(selectedFolder_);
    btnNewFolder->setVisible(showNewFolder_);
    // The OK rule holds from the start, not only after the first change of the selection.
    VET1Change();

    if (const QScreen* screen =
            this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    VET1->setFocus();
}

void TWexBrowseForFolderDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    KeepStartFolderInView();  // scrolling means something only once the tree has its size
}

bool TWexBrowseForFolderDialog::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::Wheel:
        case QEvent::KeyPress:
            startFolder_ = QPersistentModelIndex();
            break;
        default:
            break;
    }
    return QDialog::eventFilter(watched, event);
}

void TWexBrowseForFolderDialog::KeepStartFolderInView() {
    if (!startFolder_.isValid() || scrollPending_) return;
    scrollPending_ = true;
    QTimer::singleShot(0, this, [this] {
        scrollPending_ = false;
        if (startFolder_.isValid() && isVisible()) {
            VET1->scrollTo(startFolder_, QAbstractItemView::PositionAtCenter);
        }
    });
}

void TWexBrowseForFolderDialog::OpenTreeAt(const QString& folder) {
    VET1->collapseAll();
    VET1->selectionModel()->clearSelection();
    VET1->setCurrentIndex(QModelIndex());
    startFolder_ = QPersistentModelIndex();
    if (!folder.isEmpty() && QFileInfo(CleanFolderPath(folder)).isDir()) {
        if (IsInsideHiddenFolder(CleanFolderPath(folder))) chkShowHidden->setChecked(true);
        if (SelectFolder(folder)) startFolder_ = VET1->currentIndex();
        return;
    }
    // Nothing to open at: the tree opens near it, and the folder there stays unchosen.
    const QString near = NearestExistingFolder(folder);
    if (IsInsideHiddenFolder(near)) chkShowHidden->setChecked(true);
    const QModelIndex start = model_->index(near);
    if (!start.isValid()) return;
    for (QModelIndex parent = start.parent(); parent.isValid(); parent = parent.parent()) {
        VET1->expand(parent);
    }
    VET1->expand(start);
    VET1->selectionModel()->setCurrentIndex(start, QItemSelectionModel::NoUpdate);
    VET1->scrollTo(start, QAbstractItemView::PositionAtTop);
    startFolder_ = start;
}

bool TWexBrowseForFolderDialog::SelectFolder(const QString& path) {
    const QString clean = CleanFolderPath(path);
    if (!QFileInfo(clean).isDir()) return false;
    const QModelIndex index = model_->index(clean);
    if (!index.isValid()) return false;
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent()) {
        VET1->expand(parent);
    }
    VET1->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    VET1->scrollTo(index, QAbstractItemView::PositionAtCenter);
    return true;
}

QModelIndex TWexBrowseForFolderDialog::FirstSelectedFolder() const {
    const QModelIndexList rows = VET1->selectionModel()->selectedRows(0);
    if (rows.isEmpty()) return {};
    return *std::min_element(rows.begin(), rows.end(),
                             [](const QModelIndex& a, const QModelIndex& b) {
                                 return TreePosition(a) < TreePosition(b);
                             });
}

void TWexBrowseForFolderDialog::VET1Change() {
    if (followingTypedPath_) return;  // the edit box keeps what the user is typing
    eSelectedFolder->clear();
    btnOk->setEnabled(false);
    const QModelIndex selected = FirstSelectedFolder();
    if (!selected.isValid()) return;
    const QString path = QDir::toNativeSeparators(model_->filePath(selected));
    eSelectedFolder->setText(path);
    btnOk->setEnabled(!path.isEmpty());
}

void TWexBrowseForFolderDialog::eSelectedFolderEdited(const QString& text) {
    const QString clean = CleanFolderPath(text.trimmed());
    if (text.trimmed().isEmpty() || !QFileInfo(clean).isDir()) {
        // Typed text that names no folder yet is still taken when the tree has a choice.
        btnOk->setEnabled(FirstSelectedFolder().isValid());
        return;
    }
    if (IsInsideHiddenFolder(clean)) chkShowHidden->setChecked(true);
    followingTypedPath_ = true;
    SelectFolder(clean);
    followingTypedPath_ = false;
    btnOk->setEnabled(true);
}

bool TWexBrowseForFolderDialog::MayRename(const QString& path) {
    if (!renames_.RegisteredCompanyIn) return true;
    const std::string names = renames_.RegisteredCompanyIn(CleanFolderPath(path).toStdString());
    if (names.empty()) return true;
    const MessageResult answer = CurrentUserInterface().ShowMessageBox(
        {kApplicationTitle,
         "이 폴더에는 등록된 사업장(" + names +
             ")의 자료가 있습니다.\r\n이름을 바꾸면 등록된 폴더도 새 이름으로 바뀝니다. "
             "바꾸시겠습니까?",
         MessageIcon::Question, MessageButtons::YesNo, MessageResult::No});
    return answer == MessageResult::Yes;
}

void TWexBrowseForFolderDialog::FolderRenamed(const QString& parentPath, const QString& oldName,
                                              const QString& newName) {
    const QString oldPath = CleanFolderPath(QDir(parentPath).filePath(oldName));
    const QString newPath = CleanFolderPath(QDir(parentPath).filePath(newName));
    if (renames_.Renamed) renames_.Renamed(oldPath.toStdString(), newPath.toStdString());
    if (eSelectedFolder->text() != QDir::toNativeSeparators(oldPath)) return;
    eSelectedFolder->setText(QDir::toNativeSeparators(newPath));
}

void TWexBrowseForFolderDialog::keyPressEvent(QKeyEvent* event) {
    // Enter that ends the naming of a folder in the tree reaches the dialog too: it names the
    // folder and confirms nothing.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    QWidget* focus = QApplication::focusWidget();
    if (enter && focus && VET1->viewport()->isAncestorOf(focus)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TWexBrowseForFolderDialog::SetShowHidden(bool show) {
    QDir::Filters filter = QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives;
    if (show) filter |= QDir::Hidden;
    model_->setFilter(filter);
    // The model would apply the filter a moment later; a folder chosen right after must
    // already be among the rows.
    model_->sort(0, Qt::AscendingOrder);
}

void TWexBrowseForFolderDialog::btnNewFolderClick() {
    const QModelIndex parent = FirstSelectedFolder();
    if (!parent.isValid()) {
        Tell("새 폴더를 만들 위치를 먼저 선택해 주세요.");
        return;
    }
    const QModelIndex created = model_->mkdir(parent, FreeNewFolderName(model_->filePath(parent)));
    if (!created.isValid()) {
        Tell("새 폴더를 만들 수 없습니다.\r\n" + model_->filePath(parent).toStdString());
        return;
    }
    // The new folder is selected and its name opened for editing, as a file manager does.
    VET1->expand(parent);
    VET1->selectionModel()->setCurrentIndex(
        created, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    VET1->scrollTo(created);
    VET1->edit(created);
}

void TWexBrowseForFolderDialog::ShowTreeMenu(const QPoint& position) {
    const QModelIndex index = VET1->indexAt(position);
    if (!index.isValid()) return;
    // The menu acts on the row it was opened on, as in a file manager.
    if (!VET1->selectionModel()->isRowSelected(index.row(), index.parent())) {
        VET1->selectionModel()->setCurrentIndex(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    QMenu menu(this);
    if (showNewFolder_) {
        menu.addAction(btnNewFolder->text(), this, [this] { btnNewFolderClick(); });
    }
    menu.addAction(QStringLiteral("이름 바꾸기"), this, [this, index] { VET1->edit(index); });
    menu.exec(VET1->viewport()->mapToGlobal(position));
}

bool BrowseForFolder(const std::string& title, std::string& folder, bool showNewFolder,
                     QWidget* parent, const TFolderRenameHooks& renames) {
    TWexBrowseForFolderDialog dialog(parent);
    dialog.SetRenameHooks(renames);
    dialog.SetSelectedFolder(QString::fromStdString(folder));
    dialog.SetDialogTitle(QString::fromStdString(title));
    dialog.SetShowNewFolder(showNewFolder);
    if (!dialog.Execute()) return false;
    folder = dialog.SelectedFolder().toStdString();
    return true;
}

}  // namespace tidewell
