#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <filesystem>
#include <functional>

#include "TestSupport.h"
#include "platform/UserInterface.h"
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
    // A missing folder opens the tree at the nearest folder above it that exists, no folder at
    // the home folder; expanded to it, without choosing it.
    const test::ScopedEnvironment home("HOME", (dir / "회사").string());
    const std::vector<std::pair<QString, fs::path>> cases = {
        {Q(dir / "회사" / "본점" / "없는 폴더" / "안쪽"), dir / "회사" / "본점"},
        {QString(), dir / "회사"},
    };
    for (const auto& [start, opened] : cases) {
        SCOPED_TRACE(start.toStdString());
        TWexBrowseForFolderDialog dialog;
        dialog.SetSelectedFolder(start);
        dialog.Prepare();
        EXPECT_FALSE(dialog.FirstSelectedFolder().isValid());
        EXPECT_EQ(dialog.eSelectedFolder->text(), QString());
        EXPECT_FALSE(dialog.btnOk->isEnabled());
        EXPECT_EQ(dialog.Model()->filePath(dialog.VET1->currentIndex()), Q(opened));
        EXPECT_TRUE(dialog.VET1->isExpanded(dialog.Model()->index(Q(opened))));
        EXPECT_TRUE(dialog.VET1->isExpanded(dialog.Model()->index(dir.str().c_str())));
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

TEST_F(BrowseFolderTest, ATypedFolderThatExistsIsConfirmedWithoutTouchingTheTree) {
    const test::ScopedEnvironment home("HOME", (dir / "b").string());
    fs::create_directories(dir / "shops" / "main");
    std::string folder;
    const QString typed = Q(dir / "shops" / "main") + "/";
    WhenDialogOpens([&](TWexBrowseForFolderDialog& dialog) {
        EXPECT_FALSE(dialog.btnOk->isEnabled());
        QTest::keyClicks(dialog.eSelectedFolder, typed);
        EXPECT_TRUE(dialog.btnOk->isEnabled());
        // The tree shows it; the text stays as typed.
        EXPECT_EQ(dialog.Model()->filePath(dialog.FirstSelectedFolder()),
                  Q(dir / "shops" / "main"));
        EXPECT_EQ(dialog.eSelectedFolder->text(), typed);
        QTest::keyClick(dialog.eSelectedFolder, Qt::Key_Return);
    });
    EXPECT_TRUE(BrowseForFolder("사업장 폴더를 선택하세요.", folder, false));
    EXPECT_EQ(folder, typed.toStdString());
}

TEST_F(BrowseFolderTest, HiddenFoldersShowWhenTheStartOrTheTypedPathIsOne) {
    fs::create_directories(dir / ".local" / "share" / "shop");
    const auto names = [&](TWexBrowseForFolderDialog& dialog) {
        QStringList shown;
        const QModelIndex parent = dialog.Model()->index(dir.str().c_str());
        for (int row = 0; row < dialog.Model()->rowCount(parent); ++row) {
            shown << dialog.Model()->index(row, 0, parent).data().toString();
        }
        shown.sort();
        return shown;
    };
    {
        TWexBrowseForFolderDialog dialog;
        dialog.SetSelectedFolder(Q(dir / "a"));
        dialog.Prepare();
        EXPECT_FALSE(dialog.chkShowHidden->isChecked());
        EXPECT_TRUE(WaitUntil([&] { return names(dialog).size() == 3; }));
        EXPECT_FALSE(names(dialog).contains(".local"));
        // A hidden folder typed in: the box checks itself and the tree shows it chosen.
        dialog.eSelectedFolder->clear();
        QTest::keyClicks(dialog.eSelectedFolder, Q(dir / ".local"));
        EXPECT_TRUE(dialog.chkShowHidden->isChecked());
        EXPECT_EQ(dialog.Model()->filePath(dialog.FirstSelectedFolder()), Q(dir / ".local"));
    }
    TWexBrowseForFolderDialog dialog;
    dialog.SetSelectedFolder(Q(dir / ".local" / "share" / "shop"));
    dialog.Prepare();
    EXPECT_TRUE(dialog.chkShowHidden->isChecked());
    EXPECT_EQ(dialog.eSelectedFolder->text(), Q(dir / ".local" / "share" / "shop"));
    EXPECT_TRUE(WaitUntil([&] {
        return names(dialog) == QStringList({".local", "a", "b", "회사"});
    }));
}

TEST_F(BrowseFolderTest, EnterAfterNamingANewFolderOnlyRenamesIt) {
    std::string folder = (dir / "a").string();
    WhenDialogOpens([&](TWexBrowseForFolderDialog& dialog) {
        dialog.btnNewFolder->click();
        auto* editor = dialog.VET1->findChild<QLineEdit*>();
        ASSERT_NE(editor, nullptr);
        editor->selectAll();
        editor->insert(QStringLiteral("지점"));  // as the input method hands it over
        QTest::keyClick(editor, Qt::Key_Return);
        QApplication::processEvents();
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(fs::is_directory(dir / "a" / "지점"));
        EXPECT_FALSE(fs::exists(dir / "a" / "새 폴더"));
        EXPECT_EQ(dialog.eSelectedFolder->text(), Q(dir / "a" / "지점"));
        dialog.btnOk->click();
    });
    EXPECT_TRUE(BrowseForFolder("제목", folder, true));
    EXPECT_EQ(folder, (dir / "a" / "지점").string());
}

// Renaming a folder that holds a registered company asks first: No keeps the folder as it was,
// Yes renames it and tells the caller, so the registration follows.
TEST_F(BrowseFolderTest, RenamingARegisteredCompanysFolderAsksAndTheRegistrationFollows) {
    test::RecordingUserInterface ui;
    const ScopedUserInterface scopedUi(ui);
    std::vector<std::pair<std::string, std::string>> renamed;
    TWexBrowseForFolderDialog dialog;
    dialog.SetRenameHooks(
        {[&](const std::string& folder) {
             return folder == (dir / "회사").string() ? std::string("본점 가게") : std::string();
         },
         [&](const std::string& from, const std::string& to) { renamed.emplace_back(from, to); }});
    dialog.SetSelectedFolder(Q(dir / "회사"));
    dialog.Prepare();
    const QModelIndex folder = dialog.Model()->index(Q(dir / "회사"));
    ui.answers = {MessageResult::No};
    EXPECT_FALSE(dialog.Model()->setData(folder, QStringLiteral("지점들"), Qt::EditRole));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_NE(ui.boxes[0].text.find("본점 가게"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(dir / "회사" / "본점"));
    EXPECT_TRUE(renamed.empty());

    ui.answers = {MessageResult::Yes};
    EXPECT_TRUE(dialog.Model()->setData(folder, QStringLiteral("지점들"), Qt::EditRole));
    EXPECT_TRUE(fs::is_directory(dir / "지점들" / "본점"));
    ASSERT_EQ(renamed.size(), 1u);
    EXPECT_EQ(renamed[0], std::make_pair((dir / "회사").string(), (dir / "지점들").string()));
}

TEST_F(BrowseFolderTest, EnterPressesTheFocusedButton) {
    std::string folder = (dir / "a").string();
    WhenDialogOpens([](TWexBrowseForFolderDialog& dialog) {
        dialog.btnCancel->setFocus();
        QTest::keyClick(dialog.btnCancel, Qt::Key_Return);
    });
    EXPECT_FALSE(BrowseForFolder("제목", folder, true));
    WhenDialogOpens([](TWexBrowseForFolderDialog& dialog) {
        dialog.btnNewFolder->setFocus();
        QTest::keyClick(dialog.btnNewFolder, Qt::Key_Return);
        QApplication::processEvents();
        EXPECT_TRUE(dialog.isVisible());
        dialog.reject();
    });
    EXPECT_FALSE(BrowseForFolder("제목", folder, true));
    EXPECT_TRUE(fs::is_directory(dir / "a" / "새 폴더"));
}

}  // namespace
}  // namespace tidewell
