#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

#include "view/KoreanTexts.h"
#include "view/QtServices.h"

namespace tidewell {
namespace {

QStringList EditMenuTexts() {
    QLineEdit edit;
    const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList texts;
    for (const QAction* action : menu->actions()) {
        if (!action->isSeparator()) texts << action->text().section('\t', 0, 0);
    }
    return texts;
}

// Shows a box through the window's service and answers it with Enter on the button given.
MessageResult AnswerWithEnter(const MessageBoxRequest& request, QMessageBox::StandardButton press,
                              QStringList& buttons) {
    QTimer::singleShot(0, [&, press] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* button : box->buttons()) buttons << button->text();
        QAbstractButton* target = box->button(press);
        ASSERT_NE(target, nullptr);
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
    });
    QtUserInterface boxes;
    return boxes.ShowMessageBox(request);
}

TEST(KoreanTexts, OurOwnTableAloneMakesBoxesAndEditMenusKorean) {
    // Without Qt's catalogue (a system without the package): the table is enough.
    TKoreanStandardTexts table;
    QCoreApplication::installTranslator(&table);
    EXPECT_EQ(EditMenuTexts(), (QStringList{"실행 취소(&U)", "다시 실행(&R)", "잘라내기(&T)",
                                            "복사(&C)", "붙여넣기(&P)", "삭제", "모두 선택"}));
    QCoreApplication::removeTranslator(&table);
    EXPECT_EQ(EditMenuTexts().first(), "&Undo");
}

TEST(KoreanTexts, BoxButtonsReadKoreanAndEnterPressesTheFocusedOne) {
    // No translator at all: the box sets its own words.
    QStringList buttons;
    const MessageBoxRequest question{"Quenlow 바코드 Tidewell", "삭제하시겠습니까?",
                                     MessageIcon::Warning, MessageButtons::YesNo,
                                     MessageResult::No};
    EXPECT_EQ(AnswerWithEnter(question, QMessageBox::Yes, buttons), MessageResult::Yes);
    EXPECT_EQ(buttons, (QStringList{"예", "아니요"}));

    buttons.clear();
    const MessageBoxRequest okCancel{"Tidewell", "계속할까요?", MessageIcon::Question,
                                     MessageButtons::OkCancel, MessageResult::Ok};
    EXPECT_EQ(AnswerWithEnter(okCancel, QMessageBox::Cancel, buttons), MessageResult::Cancel);
    EXPECT_EQ(buttons, (QStringList{"확인", "취소"}));
}

}  // namespace
}  // namespace tidewell
