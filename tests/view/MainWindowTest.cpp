#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include "MainWindowFixture.h"
#include "view/RowPainter.h"

namespace tidewell {
namespace {

using test::MainWindowTest;

TEST_F(MainWindowTest, StartsBehindTheLoginPanelWithItsCaption) {
    EXPECT_EQ(window->windowTitle().toStdString(), "Quenlow 바코드 Tidewell");
    EXPECT_TRUE(window->panelLogin->isVisible());
    EXPECT_EQ(window->panelLogin->geometry(), window->rect());
    EXPECT_FALSE(window->vt->isEnabled());
    EXPECT_EQ(window->size(), kDesignClientSize);
    EXPECT_EQ(window->Edit2->echoMode(), QLineEdit::Password);
}

// The title bar, the task list and the window switcher ask for 16 to 48 px: each gets a
// picture drawn for its size that fills the square (the wide logo squeezed in filled a strip).
TEST_F(MainWindowTest, TheWindowsIconIsSquareAndFilledAtTheSizesShown) {
    const QIcon icon = window->windowIcon();
    for (const int size : {16, 24, 32, 48}) {
        SCOPED_TRACE(size);
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size)));
        const QImage image = icon.pixmap(QSize(size, size)).toImage();
        ASSERT_EQ(image.size(), QSize(size, size));
        int inkedRows = 0;
        for (int y = 0; y < size; ++y) {
            bool inked = false;
            for (int x = 0; x < size; ++x) inked = inked || qAlpha(image.pixel(x, y)) > 128;
            inkedRows += inked;
        }
        EXPECT_GE(inkedRows, size * 9 / 10);
    }
}

// The stored size is the outer one: the frame is taken off for the client (the off-screen
// platform draws a frame of its own; under openbox: WindowPlacementTest).
TEST_F(MainWindowTest, TheStoredSizeIsTheWindowsOuterSize) {
    auto key = *core.hive().OpenKey(kProgramKey, true);
    key.WriteInteger("MainFormWidth", 700);
    key.WriteInteger("MainFormHeight", 500);
    window = std::make_unique<TformMainWindow>(WindowSetup());
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_EQ(window->frameGeometry().size(), QSize(700, 500));
    EXPECT_EQ(window->panelLogin->size(), window->size());
}

TEST_F(MainWindowTest, TypedLoginFillsTheHeaderAndTheList) {
    TypeLogin();
    EXPECT_FALSE(window->panelLogin->isVisible());
    EXPECT_EQ(window->labelUserName->text().toStdString(), "사용자명: 김철수");
    EXPECT_EQ(window->labelUserDiskUsed->text().toStdString(), "웹폴더사용량: 0KB");
    EXPECT_EQ(window->labelUserExpireAt->text().toStdString().rfind("사용기한: ", 0), 0u);
    EXPECT_TRUE(window->vt->isEnabled());
    ASSERT_EQ(window->Form().RowCount(), 1);
    EXPECT_EQ(window->Form().Row(0).Company->SyncMode, smUpload);
    EXPECT_TRUE(core.ui.boxes.empty());
}

TEST_F(MainWindowTest, HotRowIsDrawnAndThePointerFollowsTheAreas) {
    TypeLogin();
    const TListColumns columns = window->vt->Columns();
    EXPECT_EQ(columns.StateColumn.Left, window->vt->viewport()->width() - 240);

    // Over the state image: hand pointer, hot row.
    MovePointer(QPoint(columns.StateColumn.Left + 5, 15));
    EXPECT_EQ(window->vt->viewport()->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(window->HotRow(), 0);
    EXPECT_TRUE(window->IsOverSyncButton(0));
    const QImage image = window->vt->viewport()->grab().toImage();
    EXPECT_EQ(QColor(image.pixel(columns.NameColumn.Right - 4, 3)), kHotRowBackground);
    EXPECT_EQ(QColor(image.pixel(0, 10)), kHotRowFrame);
    EXPECT_EQ(QColor(image.pixel(100, kListRowHeight - 1)), kRowSeparator);
    int inked = 0;
    for (int x = columns.StateColumn.Left; x < columns.StateColumn.Left + 13; ++x) {
        for (int y = 10; y < 25; ++y) inked += QColor(image.pixel(x, y)) != kHotRowBackground;
    }
    EXPECT_GT(inked, 20);

    // Over the local image: hand; over the name: the arrow again.
    MovePointer(QPoint(columns.DataColumn.Left + 5, 25));
    EXPECT_EQ(window->vt->viewport()->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(window->IsOverFolderLink(0));
    MovePointer(QPoint(columns.NameColumn.Left + 20, 15));
    EXPECT_EQ(window->vt->viewport()->cursor().shape(), Qt::ArrowCursor);
    // Below the rows: no hot row; the row goes back to white.
    MovePointer(QPoint(100, kListRowHeight * 3));
    EXPECT_FALSE(window->HotRow());
    const QImage cold = window->vt->viewport()->grab().toImage();
    EXPECT_EQ(QColor(cold.pixel(columns.NameColumn.Right - 4, 3)), kRowBackground);
}

TEST_F(MainWindowTest, ClickOnTheStateAreaCyclesTheChoice) {
    TypeLogin();
    const TListColumns columns = window->vt->Columns();
    const QPoint state(columns.StateColumn.Left + 5, 15);
    MovePointer(state);
    QTest::mouseClick(window->vt->viewport(), Qt::LeftButton, Qt::NoModifier, state);
    EXPECT_EQ(window->Form().Row(0).Company->SyncMode, smUserDownload);
    // The check box band toggles the mark only.
    const QPoint box = GetCheckBoxRect(window->vt->RowRect(0), columns).center();
    MovePointer(box);
    QTest::mouseClick(window->vt->viewport(), Qt::LeftButton, Qt::NoModifier, box);
    EXPECT_FALSE(window->Form().Row(0).Checked);
    EXPECT_EQ(window->Form().Row(0).Company->SyncMode, smUserDownload);
}

TEST_F(MainWindowTest, ResizeKeepsTheLoginPanelOverTheClientArea) {
    window->resize(700, 400);
    QApplication::processEvents();
    EXPECT_EQ(window->panelLogin->geometry(), QRect(0, 0, 700, 400));
    EXPECT_EQ(window->imageLogo1->x(), (700 - 361) / 2);
    EXPECT_EQ(window->imageLogo1->y(), (400 - 321) / 2 + 4);
    EXPECT_EQ(window->btnSyncSelected->x(),
              (window->frameGeometry().width() - window->btnSyncSelected->width()) / 2);
}

TEST_F(MainWindowTest, WindowCanNotCloseWhileBusy) {
    TypeLogin();
    bool refused = false;
    test::CountingMessagePump pump;
    struct ClosingPump : MessagePump {
        TformMainWindow* window;
        bool* refused;
        bool tried = false;
        void ProcessMessages() override {
            if (tried) return;
            tried = true;
            *refused = !window->close();
        }
    } closing;
    closing.window = window.get();
    closing.refused = &refused;
    ScopedMessagePump scoped(closing);
    window->Form().btnSyncSelectedClick();
    EXPECT_TRUE(closing.tried);
    EXPECT_TRUE(refused);
    EXPECT_TRUE(window->isVisible());
}

}  // namespace
}  // namespace tidewell
