#pragma once

// The hints the company list shows over a row's two clickable areas: their size, their text and
// how they are painted.

#include <QColor>
#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>

#include <string>

#include "gateway/SyncMode.h"
#include "view/ListLayout.h"

class QPainter;

namespace tidewell {

// The hint over the folder area reads this, followed by the local path.
QString FolderHintText(const std::string& localPath);

// An empty size means no hint. The folder hint is 20 px wider than its text, measured by widthOf
// in the list's current font.
QSize ListHintSize(TListArea area, bool rowHasCompany, const std::string& localPath,
                   const TTextWidthFunction& widthOf);

// Empty text means nothing is drawn.
QString ListHintText(TListArea area, TSyncMode syncMode, const std::string& localPath);

// Tooltip background, black one-pixel frame, the text word-wrapped 8 px in from left and top.
void PaintListHint(QPainter& painter, const QRect& rect, const QString& text, const QFont& font,
                   const QColor& background);

}  // namespace tidewell
