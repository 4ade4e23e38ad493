#include "view/Fonts.h"

#include <mutex>

namespace tidewell {

void InstallFontSubstitutions() {
    static std::once_flag once;
    std::call_once(once, [] {
        QFont::insertSubstitution(QString::fromUtf8(kDesignFontFamily),
                                  QString::fromUtf8(kSubstituteFontFamily));
    });
}

QFont DesignFont(int pointSize, bool bold) {
    InstallFontSubstitutions();
    QFont font(QString::fromUtf8(kDesignFontFamily), pointSize);
    font.setBold(bold);
    return font;
}

QFont DesignPixelFont(int pixelSize) {
    InstallFontSubstitutions();
    QFont font(QString::fromUtf8(kDesignFontFamily));
    font.setPixelSize(pixelSize);
    return font;
}

QFont ListNameFont() {
    return DesignFont(10, true);
}
QFont ListCaptionFont() {
    return DesignFont(9);
}
QFont ListDateFont() {
    return DesignFont(8);
}

}  // namespace tidewell
