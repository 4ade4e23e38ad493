#include "view/ListLayout.h"

namespace tidewell {

namespace {

constexpr int kStateColumnWidth = 75;
constexpr int kDataColumnWidth = 165;
constexpr int kCheckColumnWidth = 24;
constexpr int kScrollBarCaptionShift = 16;

constexpr int kSyncButtonTop = 10;
constexpr int kFolderLinkHeight = 14;
constexpr int kDataImageWidth = 43;

TColumnBox Box(int left, int right) {
    return TColumnBox{left, right, right - left, kListRowHeight};
}

// Centre of a band for a caption of the given width; integer division truncates toward zero.
int CentredIn(const TColumnBox& box, int listLeft, int captionWidth) {
    return listLeft + box.Left + (box.Width - captionWidth) / 2;
}

}  // namespace

TListColumns ComputeListColumns(int clientWidth) {
    const int stateLeft = clientWidth - kStateColumnWidth - kDataColumnWidth;
    const int dataLeft = clientWidth - kDataColumnWidth;
    TListColumns columns;
    columns.CheckColumn = Box(0, kCheckColumnWidth);
    columns.NameColumn = Box(kCheckColumnWidth, stateLeft);
    columns.StateColumn = Box(stateLeft, dataLeft);
    columns.DataColumn = Box(dataLeft, clientWidth);
    columns.CellMargin = kCellMargin;
    return columns;
}

TListLayout LayoutListColumns(int clientWidth, const TColumnCaptionInput& captions) {
    TListLayout layout;
    layout.Columns = ComputeListColumns(clientWidth);
    layout.SyncModeCaptionLeft =
        CentredIn(layout.Columns.StateColumn, captions.ListLeft, captions.SyncModeWidth);
    layout.LastModifiedCaptionLeft =
        CentredIn(layout.Columns.DataColumn, captions.ListLeft, captions.LastModifiedWidth);
    if (captions.VerticalScrollBar) {
        layout.SyncModeCaptionLeft -= kScrollBarCaptionShift;
        layout.LastModifiedCaptionLeft -= kScrollBarCaptionShift;
    }
    return layout;
}

bool ListShowsVerticalScrollBar(int rowCount, int clientHeight) {
    return static_cast<long long>(rowCount) * kListRowHeight > clientHeight;
}

QRect GetSyncButtonRect(const QRect& rowRect, const TListColumns& columns) {
    const TColumnBox& state = columns.StateColumn;
    return QRect(rowRect.left() + state.Left, rowRect.top() + kSyncButtonTop, state.Width - 10,
                 state.Height - 20);
}

QRect GetFolderLinkRect(const QRect& rowRect, const TListColumns& columns, bool hasLocalPath) {
    const TColumnBox& data = columns.DataColumn;
    const int h = (data.Height - 3 * columns.CellMargin) / 2;
    const int top = rowRect.top() + h + 2 * columns.CellMargin - 1;
    const int width = hasLocalPath ? kDataImageWidth : data.Width - 14;
    return QRect(rowRect.left() + data.Left, top, width, kFolderLinkHeight);
}

QRect GetCheckBoxRect(const QRect& rowRect, const TListColumns& columns, int indicatorSize) {
    const TColumnBox& check = columns.CheckColumn;
    return QRect(rowRect.left() + check.Left + (check.Width - indicatorSize) / 2,
                 rowRect.top() + (rowRect.height() - indicatorSize) / 2, indicatorSize,
                 indicatorSize);
}

bool IsPointInArea(const QRect& area, QPoint point) {
    // Spelled out rather than QRect::contains so that empty and odd rectangles behave the same.
    return point.x() >= area.left() && point.x() < area.left() + area.width() &&
           point.y() >= area.top() && point.y() < area.top() + area.height();
}

bool IsOverSyncButton(const std::optional<QRect>& rowRect, const TListColumns& columns,
                      QPoint pointer) {
    return rowRect && IsPointInArea(GetSyncButtonRect(*rowRect, columns), pointer);
}

bool IsOverFolderLink(const std::optional<QRect>& rowRect, const TListColumns& columns,
                      bool hasLocalPath, QPoint pointer) {
    return rowRect && IsPointInArea(GetFolderLinkRect(*rowRect, columns, hasLocalPath), pointer);
}

TListArea ListAreaAt(const std::optional<QRect>& rowRect, const TListColumns& columns,
                     bool hasLocalPath, QPoint pointer) {
    if (IsOverSyncButton(rowRect, columns, pointer)) return TListArea::laSyncButton;
    if (IsOverFolderLink(rowRect, columns, hasLocalPath, pointer)) return TListArea::laFolderLink;
    return TListArea::laNone;
}

TPointerFeedback ListPointerFeedback(TListArea area) {
    switch (area) {
        case TListArea::laSyncButton:
            return {Qt::PointingHandCursor, false};
        case TListArea::laFolderLink:
            return {Qt::PointingHandCursor, true};
        case TListArea::laNone:
            break;
    }
    return {Qt::ArrowCursor, false};
}

int TextWidthOf(const QFontMetrics& metrics, const QString& text) {
    return metrics.horizontalAdvance(text);
}

QString FitTextWithEllipsis(const QString& text, int maxWidth, const TTextWidthFunction& widthOf) {
    static const QString kDots = QStringLiteral("...");
    if (widthOf(text) <= maxWidth) return text;
    QString fitted = text + kDots;
    while (widthOf(fitted) > maxWidth && fitted.size() > kDots.size()) {
        // Drop the unit before the dots; never leave half of a surrogate pair behind.
        QString kept = fitted.left(fitted.size() - 4);
        if (!kept.isEmpty() && kept.back().isHighSurrogate()) kept.chop(1);
        fitted = kept + kDots;
    }
    return fitted;
}

QString FitTextWithEllipsis(const QString& text, int maxWidth, const QFontMetrics& metrics) {
    return FitTextWithEllipsis(text, maxWidth,
                               [&metrics](const QString& t) { return TextWidthOf(metrics, t); });
}

}  // namespace tidewell
