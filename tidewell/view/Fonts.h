#pragma once

// The window's fonts. The design names the Korean face "굴림", which Linux desktops do not have;
// it is mapped to NanumGothic once per process so that every font asking for it gets a real face.

#include <QFont>

namespace tidewell {

inline constexpr const char* kDesignFontFamily = "굴림";
inline constexpr const char* kSubstituteFontFamily = "NanumGothic";

// Idempotent; call before the first widget or painter asks for a font.
void InstallFontSubstitutions();

// "굴림" at the given point size (window text: 9).
QFont DesignFont(int pointSize, bool bold = false);
// "굴림" at a pixel size (the folder picker uses 12 px).
QFont DesignPixelFont(int pixelSize);

// The row texts of the company list.
QFont ListNameFont();     // 10 pt bold
QFont ListCaptionFont();  // 9 pt
QFont ListDateFont();     // 8 pt

}  // namespace tidewell
