#pragma once

// Paints one row of the company list from a plain description of it.

#include <QColor>
#include <QRect>

#include <string>

#include "gateway/SyncMode.h"
#include "platform/DateTime.h"
#include "view/ListLayout.h"
#include "view/Pictures.h"

class QPainter;
class QWidget;

namespace tidewell {

// What a row shows, taken from its company at paint time.
struct TCompanyRowView {
    std::string CompanyName;
    TSyncMode SyncMode = smNone;
    TSyncMode DecidedMode = smNone;  // the automatic decision: picks the "latest" data image
    TDateTime LatestFileTime = 0;
    std::string LocalPath;
    TDateTime LocalModified = 0;
    bool Checked = false;
    bool Hot = false;                    // the row under the pointer
    bool PointerOverFolderLink = false;  // underlines the folder prompt
    bool Current = false;        // the keyboard's row while the list has the focus: a focus frame
    bool BothChanged = false;    // the user must say which side to keep
    bool LocalInFuture = false;  // the time is more than a day ahead: a clock was wrong
    bool WebInFuture = false;
    // Registered here, but its folder is not found now (LocalPath is empty then).
    bool FolderMissing = false;
};

inline const QColor kRowBackground{255, 255, 255};
inline const QColor kHotRowBackground{226, 233, 247};
inline const QColor kHotRowFrame{152, 180, 226};
inline const QColor kRowSeparator{239, 239, 239};
inline const QColor kCurrentRowFrame{80, 110, 170};
inline const QColor kStateCaptionNone{0, 0, 0};
inline const QColor kStateCaptionActive{0, 0, 255};
inline const QColor kStateCaptionConflict{179, 92, 0};

// The caption of a row whose two sides both changed.
inline const char* const kConflictCaption = "양쪽 변경";
// The caption and the local line of a row whose registered folder is not found.
inline const char* const kMissingCaption = "폴더 없음";
inline const char* const kMissingLocalLine = "<폴더를 찾을 수 없음>";

// The caption beside the state image.
QString SyncStateCaption(TSyncMode mode);
// A time more than a day ahead of now (a clock was wrong), shown as its date and so marked:
// "2030-01-02 (미래)".
QString FutureTimeText(TDateTime time);

// The text of the local line: the folder prompt, the database time or the new-company mark.
QString LocalLineText(const TCompanyRowView& row);
// The text of the web-folder line; empty when the web folder holds no archive.
QString RemoteLineText(const TCompanyRowView& row);

struct TRowPaintContext {
    const TListColumns& Columns;
    const TListPictures& Pictures;
    QColor WindowText = Qt::black;
    const QWidget* StyleWidget = nullptr;  // the list, for the style's check box
};

// Background, hot frame, check box, separator, name, state image and caption, both data lines.
void PaintCompanyRow(QPainter& painter, const QRect& rowRect, const TCompanyRowView& row,
                     const TRowPaintContext& context);

}  // namespace tidewell
