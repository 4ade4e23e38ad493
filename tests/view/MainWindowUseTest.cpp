// The window as a person uses it: keys and focus, the layout at its smallest, the progress
// panel and its 취소, the hot row after menus and boxes, hints over shortened names.
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QCursor>
#include <QHelpEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <functional>

#include "MainWindowFixture.h"
#include "view/FormLayout.h"
#include "view/ListLayout.h"
#include "view/QtServices.h"
#include "view/SafetyArchiveDialog.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

using test::MainWindowTest;

// Hands control back to the window as the real pump does, after a look of the test's own.
class WatchingPump : public MessagePump {
public:
    explicit WatchingPump(std::function<void()> look) : look_(std::move(look)) {}
    void ProcessMessages() override {
        look_();
        QApplication::processEvents();
    }
    bool Terminated() const override { return false; }

private:
    std::function<void()> look_;
};

QAction* MenuEntry(TformMainWindow& window, Element element) {
    return window.MenuEntries.at(element);
}

// Runs act once the context menu is open (or fails the test and closes whatever is open).
void WhenMenuOpens(TformMainWindow& window, std::function<void(QMenu&)> act) {
    QTimer::singleShot(0, [&window, act] {
        ASSERT_TRUE(window.PopupMenu1->isVisible());
        act(*window.PopupMenu1);
        window.PopupMenu1->close();
    });
}

// 지우기 in the way-back dialog leaves it open on the list the removal hands back, its note
// included; once none is left it closes by itself.
TEST(SafetyArchiveDialog, RemovingLeavesItOpenOnTheArchivesLeft) {
    const auto listOf = [](int count) {
        TSafetyArchiveList list;
        for (int i = 0; i < count; ++i) {
            list.Archives.push_back({"/b/" + std::to_string(i), std::to_string(i), 0, 0, 100});
        }
        list.Note = "지금 " + std::to_string(count) + "개";
        return list;
    };
    std::vector<std::vector<int>> removed;
    int left = 3;
    const TSafetyArchiveRemoval remove = [&](const std::vector<int>& indices) {
        removed.push_back(indices);
        left -= static_cast<int>(indices.size());
        return std::optional<TSafetyArchiveList>(listOf(left));
    };
    QStringList seen;  // rows and note after each removal
    const auto erase = [&](const std::vector<int>& rows) {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto* list = dialog->findChild<QListWidget*>();
        list->clearSelection();
        for (int row : rows) list->item(row)->setSelected(true);
        for (auto* button : dialog->findChildren<QPushButton*>()) {
            if (button->text() == "지우기...") button->click();
        }
        if (!dialog->isVisible()) {
            seen << "closed";
            return;
        }
        QString note;
        for (auto* label : dialog->findChildren<QLabel*>()) {
            if (label->text().startsWith("지금")) note = label->text();
        }
        seen << QString::number(list->count()) + " " + note;
    };
    QTimer::singleShot(0, [&] {
        erase({1});
        erase({0, 1});
    });
    QTimer::singleShot(10000, [] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            ADD_FAILURE() << "the dialog was left open";
            dialog->reject();
        }
    });
    EXPECT_EQ(ChooseSafetyArchive("가게", listOf(3), remove, nullptr), std::nullopt);
    EXPECT_EQ(removed, (std::vector<std::vector<int>>{{1}, {0, 1}}));
    EXPECT_EQ(seen, (QStringList{"2 지금 2개", "closed"}));
}

TEST_F(MainWindowTest, AFailedLoginGivesTheFocusBackAndEnterPressesTheFocusedButton) {
    Activate();
    // The real boxes, answered with Enter on their focused button.
    QtUserInterface boxes;
    boxes.SetParent(window.get());
    const ScopedUserInterface installed(boxes);
    QStringList buttons;
    const auto answerWithEnter = [&] {
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            for (QAbstractButton* button : box->buttons()) buttons << button->text();
            QTest::keyClick(box->focusWidget(), Qt::Key_Return);
        });
    };

    QTest::keyClicks(window->Edit1, "kim");
    QTest::keyClicks(window->Edit2, "wrong");
    window->btnLogin->setFocus();
    answerWithEnter();
    QTest::keyClick(window->btnLogin, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(buttons, QStringList{"확인"});
    EXPECT_TRUE(window->panelLogin->isVisible());
    // Where the keys go once the window is active again; typing replaces the wrong password.
    EXPECT_EQ(window->focusWidget(), window->Edit2);
    EXPECT_EQ(window->Edit2->selectedText().size(), 5);

    window->Edit1->clear();
    window->btnLogin->setFocus();
    answerWithEnter();
    QTest::keyClick(window->btnLogin, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(window->focusWidget(), window->Edit1);

    QTest::keyClicks(window->Edit1, "kim");
    window->Edit2->clear();
    QTest::keyClicks(window->Edit2, "pw1234");
    window->btnLogin->setFocus();
    QTest::keyClick(window->btnLogin, Qt::Key_Return);
    EXPECT_FALSE(window->panelLogin->isVisible());
    EXPECT_EQ(window->focusWidget(), window->vt);
}

TEST_F(MainWindowTest, TabStaysOnTheLoginPanelAndLaterReachesEveryCommand) {
    Activate();
    const auto tabs = [&](int count) {
        std::vector<QWidget*> reached;
        for (int i = 0; i < count; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            reached.push_back(QApplication::focusWidget());
        }
        return reached;
    };
    window->Edit1->setFocus();
    EXPECT_EQ(tabs(4), (std::vector<QWidget*>{window->Edit2, window->CheckBox2, window->btnLogin,
                                              window->Edit1}));

    TypeLogin();
    ASSERT_EQ(QApplication::focusWidget(), window->vt);
    EXPECT_EQ(tabs(8), (std::vector<QWidget*>{window->imgCompanyAdd, window->imgCompanyDelete,
                                              window->btnRefresh, window->btnSyncSelected,
                                              window->labelSettings, window->Label3,
                                              window->CheckBox1, window->vt}));
    // Enter on 전송 시작 starts the transfers of the checked rows.
    ASSERT_EQ(service.LogText().find("gwupload"), std::string::npos);
    window->btnSyncSelected->setFocus();
    QTest::keyClick(window->btnSyncSelected, Qt::Key_Return);
    EXPECT_NE(service.LogText().find("gwupload"), std::string::npos);
    EXPECT_EQ(window->Form().Row(0).Company->SyncMode, smNone);
}

TEST_F(MainWindowTest, TheListsKeysMoveMarkAndOpenTheMenuOnTheCurrentRow) {
    RegisterCompany(1, "branch", "지점");
    Activate();
    TypeLogin();
    ASSERT_EQ(window->Form().RowCount(), 2);
    TCompanyListView* list = window->vt;
    EXPECT_EQ(list->CurrentRow(), 0);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(list->CurrentRow(), 1);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(list->CurrentRow(), 1);
    QTest::keyClick(list, Qt::Key_Up);
    EXPECT_EQ(list->CurrentRow(), 0);

    ASSERT_TRUE(window->Form().Row(0).Checked);
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_FALSE(window->Form().Row(0).Checked);
    EXPECT_TRUE(window->Form().Row(1).Checked);
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_TRUE(window->Form().Row(0).Checked);

    // The pointer rests on the second row; Enter opens the menu on the first, and its
    // commands act on the first.
    const QPoint second(list->Columns().NameColumn.Left + 10, kListRowHeight + 15);
    MovePointer(second);
    ASSERT_EQ(window->HotRow(), 1);
    WhenMenuOpens(*window, [&](QMenu&) {
        EXPECT_EQ(window->HotRow(), 0);
        EXPECT_TRUE(MenuEntry(*window, Element::menuSyncSelected)->isEnabled());
        MenuEntry(*window, Element::menuSyncModeDownload)->trigger();
    });
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(window->Form().Row(0).Company->SyncMode, smUserDownload);
    EXPECT_EQ(window->Form().Row(1).Company->SyncMode, smUpload);

    // The Menu key arrives as a context menu event from the keyboard.
    QTest::keyClick(list, Qt::Key_Down);
    MovePointer(QPoint(10, 15));
    WhenMenuOpens(*window,
                  [&](QMenu&) { MenuEntry(*window, Element::menuSyncModeDownload)->trigger(); });
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(10, 15),
                              list->viewport()->mapToGlobal(QPoint(10, 15)));
    QApplication::sendEvent(list->viewport(), &menuKey);
    EXPECT_EQ(window->Form().Row(1).Company->SyncMode, smUserDownload);
}

TEST_F(MainWindowTest, AtItsSmallestTheHeaderClearsTheLogoAndTheLoginBlockFits) {
    window->resize(100, 100);
    QApplication::processEvents();
    ASSERT_EQ(window->size(), kMinimumClientSize);
    for (QWidget* control : window->panelLogin->findChildren<QWidget*>()) {
        EXPECT_TRUE(window->panelLogin->rect().contains(control->geometry()))
            << control->metaObject()->className() << " at " << control->y();
    }

    TypeLogin();
    // Where the logo's lettering ends, from its picture.
    const QImage logo = window->imageLogo2->pixmap().toImage();
    int inked = 0;
    for (int y = 0; y < logo.height(); ++y) {
        for (int x = 0; x < logo.width(); ++x) {
            if (qAlpha(logo.pixel(x, y)) > 0) inked = std::max(inked, x);
        }
    }
    ASSERT_GT(inked, 100);
    for (QLabel* label : {window->labelUserName, window->labelUserDiskUsed,
                          static_cast<QLabel*>(window->labelUserExpireAt)}) {
        EXPECT_GT(label->x(), window->imageLogo2->x() + inked) << label->text().toStdString();
        EXPECT_LE(label->x() + label->fontMetrics().horizontalAdvance(label->text()),
                  window->width());
    }
}

// What the screen holds for a widget, without painting it again.
QImage OnScreen(QWidget* widget) {
    QWidget* top = widget->window();
    const QPoint at = widget->mapTo(top, QPoint(0, 0));
    return top->screen()
        ->grabWindow(top->winId(), at.x(), at.y(), widget->width(), widget->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

TEST_F(MainWindowTest, TheProgressPanelShowsEachCompanyAsTheLogicSetsItAtOnce) {
    RegisterCompany(1, "branch", "지점", 3000);
    TypeLogin();
    ASSERT_EQ(window->Form().RowCount(), 2);
    // Whenever the window gets to run, the screen already shows what the panel holds: the
    // work between two pumps (a compaction, a block) may keep the window from painting.
    int looks = 0;
    int stale = 0;
    QStringList titles;
    WatchingPump pump([&] {
        if (window->panelProgress->isHidden()) return;
        ++looks;
        const QImage fresh =
            window->panelProgress->grab().toImage().convertToFormat(QImage::Format_RGB32);
        if (OnScreen(window->panelProgress) != fresh) ++stale;
        if (!titles.contains(window->labelProgressTitle->text())) {
            titles << window->labelProgressTitle->text();
            // A new company starts with nothing of the one before.
            if (titles.size() == 2) {
                EXPECT_EQ(window->ProgressBar->value(), 0);
                EXPECT_NE(window->labelProgressCaption->text(), "자료를 전송중입니다...");
            }
        }
    });
    const ScopedMessagePump installed(pump);
    QTest::mouseClick(window->btnSyncSelected, Qt::LeftButton);
    EXPECT_EQ(titles, (QStringList{"본점", "지점"}));
    EXPECT_GT(looks, 4);
    EXPECT_EQ(stale, 0);
    EXPECT_TRUE(window->panelProgress->isHidden());
}

TEST_F(MainWindowTest, CancelAndEscapeStopTheTransferAndLeaveTheDataAsItWas) {
    const fs::path big = RegisterCompany(0, "big", "큰 가게", 4000);
    Activate();
    TypeLogin();
    ASSERT_EQ(window->Form().RowCount(), 1);
    const std::string before = test::ReadFile(big / "default.mdb");
    const fs::path work = core.WorkFolder();

    for (const bool escape : {false, true}) {
        SCOPED_TRACE(escape ? "Escape" : "취소");
        bool stopped = false;
        WatchingPump pump([&] {
            if (stopped || window->panelProgress->isHidden()) return;
            stopped = true;
            EXPECT_EQ(QApplication::focusWidget(), window->btnCancelTransfer);
            if (escape) {
                QTest::keyClick(window.get(), Qt::Key_Escape);
            } else {
                QTest::mouseClick(window->btnCancelTransfer, Qt::LeftButton);
            }
        });
        const ScopedMessagePump installed(pump);
        QTest::mouseClick(window->btnSyncSelected, Qt::LeftButton);
        EXPECT_TRUE(stopped);
        EXPECT_EQ(service.LogText().find("gwupload"), std::string::npos);
        EXPECT_EQ(test::ReadFile(big / "default.mdb"), before);
        if (fs::exists(work)) {  // a stop before the work began leaves no work folder
            for (const auto& entry : fs::directory_iterator(work)) {
                EXPECT_EQ(entry.path().filename(), ".lock");
            }
        }
        EXPECT_TRUE(window->panelProgress->isHidden());
        EXPECT_EQ(window->Form().Row(0).Company->SyncMode, smUpload);
        EXPECT_FALSE(window->Form().Busy());
        // The one word after it: what was cancelled.
        ASSERT_EQ(core.ui.boxes.size(), 1u);
        EXPECT_EQ(core.ui.boxes[0].text.rfind("전송을 취소했습니다.", 0), 0u);
        core.ui.boxes.clear();
    }
}

TEST_F(MainWindowTest, TheHotRowFollowsThePointerAfterAMenuOrABox) {
    RegisterCompany(1, "branch", "지점");
    TypeLogin();
    TCompanyListView* list = window->vt;
    const QPoint first(list->Columns().NameColumn.Left + 10, 15);
    const QPoint second(40, kListRowHeight + 15);
    // The pointer as the system knows it, with its own moves delivered.
    const auto putPointer = [&](QPoint at) {
        QCursor::setPos(list->viewport()->mapToGlobal(at));
        QApplication::processEvents();
    };

    // The menu was opened on the first row; meanwhile the pointer went below the rows, where
    // the list saw no move of it.
    putPointer(QPoint(10, 4 * kListRowHeight));
    MovePointer(first);
    ASSERT_EQ(window->HotRow(), 0);
    WhenMenuOpens(*window, [](QMenu&) {});
    QContextMenuEvent click(QContextMenuEvent::Mouse, first, list->viewport()->mapToGlobal(first));
    QApplication::sendEvent(list->viewport(), &click);
    EXPECT_FALSE(window->HotRow());

    // A box closed with the pointer over the second row: the window comes back active.
    putPointer(second);
    MovePointer(first);
    ASSERT_EQ(window->HotRow(), 0);
    QEvent activated(QEvent::WindowActivate);
    QApplication::sendEvent(window.get(), &activated);
    EXPECT_EQ(window->HotRow(), 1);
}

TEST_F(MainWindowTest, AShortenedNameShowsWhole) {
    const std::string name = "아주 길고 긴 이름을 가진 우리 동네 바코드 할인 마트 본점";
    RegisterCompany(0, "long", name);  // in the fixture's company's slot
    RegisterCompany(1, "branch", "지점");
    TypeLogin();
    TCompanyListView* list = window->vt;
    const auto hintAt = [&](QPoint at) -> QWidget* {
        MovePointer(at);
        QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &help);
        for (QWidget* child : list->findChildren<QWidget*>()) {
            if (child->windowType() == Qt::ToolTip && child->isVisible()) return child;
        }
        return nullptr;
    };
    const int nameX = list->Columns().NameColumn.Left + 20;
    ASSERT_EQ(window->Form().Row(0).Company->CompanyName, name);
    QWidget* hint = hintAt(QPoint(nameX, 15));
    ASSERT_NE(hint, nullptr);
    EXPECT_GT(hint->width(), list->Columns().NameColumn.Width);
    // The short name is drawn whole: no hint, and the long one's goes away.
    EXPECT_EQ(hintAt(QPoint(nameX, kListRowHeight + 15)), nullptr);
}

}  // namespace
}  // namespace tidewell
