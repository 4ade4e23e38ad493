#pragma once

// The dialog in which the user chooses a company folder: a prompt, an edit box with the chosen
// path, a folder tree of the file system, and the buttons to make a folder, confirm or cancel.

#include <QDialog>
#include <QPersistentModelIndex>
#include <QString>

#include <string>

#include "app/MainView.h"

class QCheckBox;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QModelIndex;
class QPushButton;
class QTreeView;

namespace tidewell {

class TWexBrowseForFolderDialog : public QDialog {
    Q_OBJECT

public:
    explicit TWexBrowseForFolderDialog(QWidget* parent = nullptr);
    ~TWexBrowseForFolderDialog() override;

    // The folder handed in, and after a confirmed Execute the folder handed back.
    const QString& SelectedFolder() const { return selectedFolder_; }
    void SetSelectedFolder(const QString& folder) { selectedFolder_ = folder; }

    const QString& DialogTitle() const { return dialogTitle_; }
    void SetDialogTitle(const QString& title);

    bool ShowNewFolder() const { return showNewFolder_; }
    void SetShowNewFolder(bool show) { showNewFolder_ = show; }

    // Prepare, run modally, and on OK take the edit box's text (typed text included, as typed)
    // as the selected folder. True when the user confirmed.
    bool Execute();
    // Everything Execute does before the modal loop: opens the tree at SelectedFolder (or, when
    // there is no such folder, without choosing anything at the nearest folder above it that
    // exists, or at the home folder), shows or hides the new-folder button and fills the edit
    // box from the selection.
    void Prepare();

    // The tree's first selected folder (in tree order), or an invalid index.
    QModelIndex FirstSelectedFolder() const;
    // Selects a folder of the tree by path; false when the tree has no such folder.
    bool SelectFolder(const QString& path);

    QFileSystemModel* Model() const { return model_; }

    // What the caller does when a folder is renamed in the tree: a folder that holds registered
    // companies is renamed only when the user agrees, and the registrations follow it.
    void SetRenameHooks(TFolderRenameHooks hooks) { renames_ = std::move(hooks); }

    QLabel* lblTitle = nullptr;
    QLineEdit* eSelectedFolder = nullptr;
    QTreeView* VET1 = nullptr;
    QPushButton* btnNewFolder = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
    // Hidden folders (names that start with a dot) show while it is checked; it checks itself
    // when the folder to open or the typed path is one of them.
    QCheckBox* chkShowHidden = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void VET1Change();
    void btnNewFolderClick();
    // The edit box typed into: an existing folder is shown in the tree and may be confirmed.
    void eSelectedFolderEdited(const QString& text);
    void FolderRenamed(const QString& parentPath, const QString& oldName, const QString& newName);
    // Whether the rename of a folder may go ahead (the user agrees to move registered
    // companies with it).
    bool MayRename(const QString& path);
    void SetShowHidden(bool show);
    void ShowTreeMenu(const QPoint& position);
    void OpenTreeAt(const QString& folder);
    void KeepStartFolderInView();

    QFileSystemModel* model_ = nullptr;
    TFolderRenameHooks renames_;
    // The starting folder, kept in view until its siblings have been read and sorted.
    QPersistentModelIndex startFolder_;
    bool scrollPending_ = false;
    bool followingTypedPath_ = false;  // the tree follows the edit box, not the other way
    QString selectedFolder_;
    QString dialogTitle_;
    bool showNewFolder_ = true;
};

// Shows the dialog modally with the prompt Title, starting at Folder. True when the user
// confirmed; Folder then holds the chosen path. False on cancel or close; Folder is unchanged.
bool BrowseForFolder(const std::string& title, std::string& folder, bool showNewFolder,
                     QWidget* parent = nullptr, const TFolderRenameHooks& renames = {});

}  // namespace tidewell
