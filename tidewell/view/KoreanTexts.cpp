#include "view/KoreanTexts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

#include <cstring>

namespace tidewell {
namespace {

struct TText {
    const char* Context;
    const char* Source;
    const char* Korean;
};

// The words of the toolkit that our window shows: box buttons, the edit fields' menu, the
// scroll bars' menu.
constexpr TText kTexts[] = {
    {"QPlatformTheme", "OK", "확인"},
    {"QPlatformTheme", "Cancel", "취소"},
    {"QPlatformTheme", "&Yes", "예"},
    {"QPlatformTheme", "&No", "아니요"},
    {"QPlatformTheme", "Close", "닫기"},
    {"QLineEdit", "&Undo", "실행 취소(&U)"},
    {"QLineEdit", "&Redo", "다시 실행(&R)"},
    {"QLineEdit", "Cu&t", "잘라내기(&T)"},
    {"QLineEdit", "&Copy", "복사(&C)"},
    {"QLineEdit", "&Paste", "붙여넣기(&P)"},
    {"QLineEdit", "Delete", "삭제"},
    {"QLineEdit", "Select All", "모두 선택"},
    {"QScrollBar", "Scroll here", "여기로 스크롤"},
    {"QScrollBar", "Top", "맨 위"},
    {"QScrollBar", "Bottom", "맨 아래"},
    {"QScrollBar", "Left edge", "왼쪽 끝"},
    {"QScrollBar", "Right edge", "오른쪽 끝"},
    {"QScrollBar", "Page up", "한 페이지 위로"},
    {"QScrollBar", "Page down", "한 페이지 아래로"},
    {"QScrollBar", "Page left", "한 페이지 왼쪽으로"},
    {"QScrollBar", "Page right", "한 페이지 오른쪽으로"},
    {"QScrollBar", "Scroll up", "위로 스크롤"},
    {"QScrollBar", "Scroll down", "아래로 스크롤"},
    {"QScrollBar", "Scroll left", "왼쪽으로 스크롤"},
    {"QScrollBar", "Scroll right", "오른쪽으로 스크롤"},
};

}  // namespace

QString StandardButtonText(QMessageBox::StandardButton button) {
    switch (button) {
        case QMessageBox::Ok:
            return QStringLiteral("확인");
        case QMessageBox::Cancel:
            return QStringLiteral("취소");
        case QMessageBox::Yes:
            return QStringLiteral("예");
        case QMessageBox::No:
            return QStringLiteral("아니요");
        default:
            return {};
    }
}

QString TKoreanStandardTexts::translate(const char* context, const char* sourceText, const char*,
                                        int) const {
    if (context == nullptr || sourceText == nullptr) return {};
    for (const TText& text : kTexts) {
        if (std::strcmp(text.Context, context) == 0 && std::strcmp(text.Source, sourceText) == 0) {
            return QString::fromUtf8(text.Korean);
        }
    }
    return {};
}

TKoreanTexts::TKoreanTexts()
    : catalogue_(std::make_unique<QTranslator>()), ours_(std::make_unique<TKoreanStandardTexts>()) {
    catalogueLoaded_ =
        catalogue_->load(QLocale(QLocale::Korean, QLocale::SouthKorea), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    if (catalogueLoaded_) QCoreApplication::installTranslator(catalogue_.get());
    // Installed last, asked first.
    QCoreApplication::installTranslator(ours_.get());
}

TKoreanTexts::~TKoreanTexts() {
    QCoreApplication::removeTranslator(ours_.get());
    if (catalogueLoaded_) QCoreApplication::removeTranslator(catalogue_.get());
}

}  // namespace tidewell
