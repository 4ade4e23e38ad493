#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>

#include <filesystem>
#include <functional>

#include "TestSupport.h"
#include "view/BrowseFolder.h"

namespace tidewell {
namespace {

namespace fs = std::filesystem;

QString Q(const fs::path& path) {
    return QString::fromStdString(path.string());
}

TWexBrowseForFolderDialog* OpenDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<TWexBrowseForFolderDialog*>(widget);
        if (dialog && dialog->isVisible()) return dialog;
    }
    return nullptr;
}

// Plays the person in front of the modal dialog: acts once the dialog is open. Should the act
// leave it open (a failing test), a later timer cancels it so the run does not hang.
void WhenDialogOpens(std::function<void(TWexBrowseForFolderDialog&)> act) {
    QTimer::singleShot(0, [act] {
        TWexBrowseForFolderDialog* dialog = OpenDialog();
        ASSERT_NE(dialog, nullptr);
        act(*dialog);
    });
    QTimer::singleShot(10000, [] {
        if (TWexBrowseForFolderDialog* dialog = OpenDialog()) {
            ADD_FAILURE() << "the dialog was left open";
            dialog->reject();
        }
    });
}

void SelectRows(TWexBrowseForFolderDialog& dialog, const std::vector<fs::path>& folders) {
    QItemSelectionModel* selection = dialog.VET1->selectionModel();
    selection->clearSelection();
    for (const fs::path& folder : folders) {
        selection->select(dialog.Model()->index(Q(folder)),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

class BrowseFolderTest : public testing::Test {
protected:
    BrowseFolderTest() {
        fs::create_directories(dir / "회사" / "본점");
        fs::create_directories(dir / "b");
        fs::create_directories(dir / "a");
    }
    test::TempDir dir;
};

TEST_F(BrowseFolderTest, OpensAtAnExistingFolderWithOkEnabled) {
    TWexBrowseForFolderDialog dialog;
    dialog.SetSelectedFolder(Q(dir / "회사" / "본점"));
    dialog.SetDialogTitle(QStringLiteral("사업장 폴더를 선택하세요."));
    dialog.Prepare();
    EXPECT_EQ(dialog.lblTitle->text(), QStringLiteral("사업장 폴더를 선택하세요."));
    EXPECT_EQ(dialog.eSelectedFolder->text(), Q(dir / "회사" / "본점"));
    EXPECT_TRUE(dialog.btnOk->isEnabled());
    EXPECT_EQ(dialog.Model()->filePath(dialog.FirstSelectedFolder()), Q(dir / "회사" / "본점"));
    // The tree is opened down to the folder.
    EXPECT_TRUE(dialog.VET1->isExpanded(dialog.Model()->index(Q(dir / "회사"))));
}

// Runs the event loop until the condition holds or five seconds have passed.
bool WaitUntil(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 5000) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

TEST_F(BrowseFolderTest, StartingFolderStaysInViewWhileItsSiblingsLoad) {
    for (int i = 0; i < 40; ++i) fs::create_directories(dir / ("f" + std::to_string(10 + i)));
    TWexBrowseForFolderDialog dialog;
    dialog.SetSelectedFolder(Q(dir / "f47"));
    dialog.Prepare();
    dialog.show();
    const QModelIndex parent = dialog.Model()->index(dir.str().c_str());
    EXPECT_TRUE(WaitUntil([&] {
        const QRect row = dialog.VET1->visualRect(dialog.VET1->currentIndex());
        return dialog.Model()->rowCount(parent) == 43 &&
               dialog.VET1->viewport()->rect().contains(row);
    }));
    EXPECT_EQ(dialog.eSelectedFolder->text(), Q(dir / "f47"));
}

TEST_F(BrowseFolderTest, MissingOrEmptyStartingFolderLeavesNothingSelected) {
    for (const QString& start : {Q(dir / "없는 폴더"), QString()}) {
        SCOPED_TRACE(start.toStdString());
        TWexBrowseForFolderDialog dialog;
        dialog.SetSelectedFolder(start);
        dialog.Prepare();
        EXPECT_FALSE(dialog.FirstSelectedFolder().isValid());
        EXPECT_EQ(dialog.eSelectedFolder->text(), QString());
        EXPECT_FALSE(dialog.btnOk->isEnabled());
    }
}

TEST_F(BrowseFolderTest, OkFollowsTheSelection) {
    TWexBrowseForFolderDialog dialog;
    dialog.Prepare();
    ASSERT_TRUE(dialog.SelectFolder(Q(dir / "b")));
    EXPECT_EQ(dialog.eSelectedFolder->text(), Q(dir / "b"));
    EXPECT_TRUE(dialog.btnOk->isEnabled());

    dialog.eSelectedFolder->setText(QStringLiteral("typed"));
    dialog.VET1->selectionModel()->clearSelection();
    EXPECT_EQ(dialog.eSelectedFolder->text(), QString());
    EXPECT_FALSE(dialog.btnOk->isEnabled());

    // Several siblings: the first in tree order counts, whatever order they were picked in.
    SelectRows(dialog, {dir / "b", dir / "a"});
    const QModelIndex a = dialog.Model()->index(Q(dir / "a"));
    const QModelIndex b = dialog.Model()->index(Q(dir / "b"));
    const QString first = a.row() < b.row() ? Q(dir / "a") : Q(dir / "b");
    EXPECT_EQ(dialog.eSelectedFolder->text(), first);
    EXPECT_TRUE(dialog.btnOk->isEnabled());
}

TEST_F(BrowseFolderTest, ConfirmingReturnsTheTypedTextAsTyped) {
    std::string folder = (dir / "a").string();
    WhenDialogOpens([&](TWexBrowseForFolderDialog& dialog) {
        EXPECT_EQ(dialog.eSelectedFolder->text(), Q(dir / "a"));
        dialog.eSelectedFolder->setText(QStringLiteral("  /없는/경로/사업장 "));
        dialog.btnOk->click();
    });
    EXPECT_TRUE(BrowseForFolder("제목", folder, true));
    EXPECT_EQ(folder, "  /없는/경로/사업장 ");
}

TEST_F(BrowseFolderTest, ConfirmingASelectedFolderReturnsItsPath) {
    std::string folder;
    WhenDialogOpens([&](TWexBrowseForFolderDialog& dialog) {
        dialog.btnOk->click();  // nothing selected yet: OK does nothing
        EXPECT_TRUE(dialog.isVisible());
        dialog.SelectFolder(Q(dir / "회사"));
        dialog.btnOk->click();
    });
    EXPECT_TRUE(BrowseForFolder("사업장 폴더를 선택하세요.", folder, false));
    EXPECT_EQ(folder, (dir / "회사").string());
}

TEST_F(BrowseFolderTest, CancelOrCloseLeavesTheFolderAlone) {
    const std::string start = (dir / "a").string();
    std::string folder = start;
    WhenDialogOpens([](TWexBrowseForFolderDialog& dialog) {
        dialog.eSelectedFolder->setText(QStringLiteral("/somewhere/else"));
        dialog.btnCancel->click();
    });
    EXPECT_FALSE(BrowseForFolder("제목", folder, true));
    EXPECT_EQ(folder, start);

    WhenDialogOpens([](TWexBrowseForFolderDialog& dialog) {
        dialog.SelectFolder(QDir::tempPath());
        dialog.close();
    });
    EXPECT_FALSE(BrowseForFolder("제목", folder, true));
    EXPECT_EQ(folder, start);
}

TEST_F(BrowseFolderTest, NewFolderIsMadeInsideTheSelectedFolder) {
    TWexBrowseForFolderDialog dialog;
    dialog.SetSelectedFolder(Q(dir / "a"));
    dialog.Prepare();
    dialog.btnNewFolder->click();
    EXPECT_TRUE(fs::is_directory(dir / "a" / "새 폴더"));
    // The new folder becomes the selection, so OK would confirm it.
    EXPECT_EQ(dialog.eSelectedFolder->text(), Q(dir / "a" / "새 폴더"));

    ASSERT_TRUE(dialog.SelectFolder(Q(dir / "a")));
    dialog.btnNewFolder->click();
    EXPECT_TRUE(fs::is_directory(dir / "a" / "새 폴더 (2)"));

    // Nothing selected: nothing is made.
    dialog.VET1->selectionModel()->clearSelection();
    dialog.btnNewFolder->click();
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "a"), fs::directory_iterator()), 2);
}

TEST_F(BrowseFolderTest, NewFolderButtonOnlyWhenAskedAndTabOrder) {
    TWexBrowseForFolderDialog dialog;
    dialog.SetShowNewFolder(false);
    dialog.Prepare();
    EXPECT_TRUE(dialog.btnNewFolder->isHidden());
    dialog.SetShowNewFolder(true);
    dialog.Prepare();
    EXPECT_FALSE(dialog.btnNewFolder->isHidden());

    const std::vector<QWidget*> order = {dialog.VET1, dialog.btnNewFolder, dialog.btnOk,
                                         dialog.btnCancel, dialog.eSelectedFolder};
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
        QWidget* next = order[i]->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
        EXPECT_EQ(next, order[i + 1]) << i;
    }
}

}  // namespace
}  // namespace tidewell
