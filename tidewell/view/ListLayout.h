#pragma once

// Geometry of the company list: the four column bands of a row, the two clickable areas, the
// ellipsis fitting of names and the pointer shape. Everything here is a pure function of sizes
// and positions so that drawing, hit-testing and the tests share one source of truth.

#include <QFontMetrics>
#include <QPoint>
#include <QRect>
#include <QString>
#include <Qt>

#include <cstdint>
#include <functional>
#include <optional>

namespace tidewell {

inline constexpr int kListRowHeight = 37;
inline constexpr int kCellMargin = 4;

// One band of a row, in pixels from the row's left edge.
struct TColumnBox {
    std::int32_t Left = 0;
    std::int32_t Right = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;

    friend bool operator==(const TColumnBox&, const TColumnBox&) = default;
};

struct TListColumns {
    TColumnBox CheckColumn;
    TColumnBox NameColumn;
    TColumnBox StateColumn;
    TColumnBox DataColumn;
    int CellMargin = kCellMargin;
};

// The caption labels above the list that follow the state and data bands.
struct TColumnCaptionInput {
    int ListLeft = 0;           // left of the list in the captions' parent
    int SyncModeWidth = 0;      // width of the "전송 상태" caption
    int LastModifiedWidth = 0;  // width of the "자료를 수정한 날짜" caption
    bool VerticalScrollBar = false;
};

struct TListLayout {
    TListColumns Columns;
    int SyncModeCaptionLeft = 0;
    int LastModifiedCaptionLeft = 0;
};

// The four bands for a list client width.
TListColumns ComputeListColumns(int clientWidth);
// The bands and the caption lefts; with a vertical scroll bar both captions move 16 px left.
TListLayout LayoutListColumns(int clientWidth, const TColumnCaptionInput& captions);
// Whether rows of kListRowHeight overflow the list's client height.
bool ListShowsVerticalScrollBar(int rowCount, int clientHeight);

// Clickable areas of a row whose rectangle (list client coordinates) is rowRect.
QRect GetSyncButtonRect(const QRect& rowRect, const TListColumns& columns);
// The local image alone when the row has a folder, else the image and the folder prompt.
QRect GetFolderLinkRect(const QRect& rowRect, const TListColumns& columns, bool hasLocalPath);
// Where the row's check box is drawn (and clicked), centred in the check band.
QRect GetCheckBoxRect(const QRect& rowRect, const TListColumns& columns, int indicatorSize = 13);

// Left and top edges included, right and bottom edges excluded.
bool IsPointInArea(const QRect& area, QPoint point);
// False when there is no row under the pointer.
bool IsOverSyncButton(const std::optional<QRect>& rowRect, const TListColumns& columns,
                      QPoint pointer);
bool IsOverFolderLink(const std::optional<QRect>& rowRect, const TListColumns& columns,
                      bool hasLocalPath, QPoint pointer);

enum class TListArea { laNone, laSyncButton, laFolderLink };

// The area under the pointer; the transfer-state area wins where both would apply.
TListArea ListAreaAt(const std::optional<QRect>& rowRect, const TListColumns& columns,
                     bool hasLocalPath, QPoint pointer);

// What a pointer move over the list does: the shape, and whether the hot row must be
// repainted (the folder prompt is underlined while the pointer is on it).
struct TPointerFeedback {
    Qt::CursorShape Shape = Qt::ArrowCursor;
    bool RepaintHotRow = false;
};
TPointerFeedback ListPointerFeedback(TListArea area);

// Widths in pixels of a text; lengths count 16-bit units, as QString does.
using TTextWidthFunction = std::function<int(const QString&)>;
int TextWidthOf(const QFontMetrics& metrics, const QString& text);

// Text when it fits in maxWidth, else text shortened from the end and followed by "...";
// may come back as "..." alone even when that does not fit.
QString FitTextWithEllipsis(const QString& text, int maxWidth, const TTextWidthFunction& widthOf);
QString FitTextWithEllipsis(const QString& text, int maxWidth, const QFontMetrics& metrics);

}  // namespace tidewell
