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
#include "platform/DateTime.h"
#include "usecase/SyncDecision.h"
#include "view/ListLayout.h"

class QPainter;

namespace tidewell {

// The hint over the folder area reads this, followed by the local path.
QString FolderHintText(const std::string& localPath);

// An empty size means no hint. The folder hint is 20 px wider than its text, measured by widthOf
// in the list's current font.
QSize ListHintSize(TListArea area, bool rowHasCompany, const std::string& localPath,
                   const TTextWidthFunction& widthOf);

// The hint over a company name the list had to shorten with "...": the whole name, measured
// in the name's own font against the name band's width; empty when the name is drawn whole.
QString ShortenedNameHint(const std::string& companyName, int nameWidth);
// A hint with one line of text is 20 px wider than the text and 30 px high.
QSize OneLineHintSize(int textWidth);

// The hint over the state area of a row whose side to keep the user must choose: why (both
// sides changed, they never agreed, or a time lies in the future), both times, and that
// transferring it asks which to keep.
QString BothChangedHintText(TDateTime local, TDateTime web,
                            TSyncDecision::TAsk why = TSyncDecision::akBothChanged);
QSize BothChangedHintSize();

// The hint over a row whose registered folder is not found: where it was looked for and what
// to check; folderExists when only its default.mdb is missing.
QString MissingFolderHintText(const std::string& path, bool folderExists);

// Empty text means nothing is drawn.
QString ListHintText(TListArea area, TSyncMode syncMode, const std::string& localPath);

// Tooltip background, black one-pixel frame, the text word-wrapped 8 px in from left and top.
void PaintListHint(QPainter& painter, const QRect& rect, const QString& text, const QFont& font,
                   const QColor& background);

}  // namespace tidewell
