#include "view/RowPainter.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>

#include "usecase/SyncDecision.h"
#include "view/Fonts.h"

namespace tidewell {

namespace {

constexpr const char* kDateFormat = "yyyy-mm-dd hh:nn:ss";
constexpr int kSyncImageTop = 10;
constexpr int kStateCaptionIndent = 14;
constexpr int kDataTextIndent = 47;

void PaintBackground(QPainter& painter, const QRect& r, bool hot) {
    painter.fillRect(r, hot ? kHotRowBackground : kRowBackground);
    if (hot) {
        // The frame's right and bottom edges stop one pixel short of the row's.
        painter.setPen(QPen(kHotRowFrame, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRect(r.left(), r.top(), r.width() - 2, r.height() - 2));
    }
}

void PaintCheckBox(QPainter& painter, const QRect& r, const TCompanyRowView& row,
                   const TRowPaintContext& context) {
    const QStyle* style =
        context.StyleWidget ? context.StyleWidget->style() : QApplication::style();
    const int size = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, context.StyleWidget);
    QStyleOptionButton option;
    option.rect = GetCheckBoxRect(r, context.Columns, size);
    option.state = QStyle::State_Enabled | (row.Checked ? QStyle::State_On : QStyle::State_Off);
    style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &painter, context.StyleWidget);
}

void PaintSeparator(QPainter& painter, const QRect& r) {
    painter.setPen(QPen(kRowSeparator, 1));
    painter.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
}

// A band of the row from its left/right columns, between two row-relative tops.
QRect Band(const QRect& r, int left, int right, int top, int bottom) {
    return QRect(QPoint(r.left() + left, top), QPoint(r.left() + right - 1, bottom - 1));
}

void PaintName(QPainter& painter, const QRect& r, const TCompanyRowView& row,
               const TRowPaintContext& context) {
    const TColumnBox& name = context.Columns.NameColumn;
    painter.setFont(ListNameFont());
    painter.setPen(context.WindowText);
    const QString text = FitTextWithEllipsis(QString::fromStdString(row.CompanyName), name.Width,
                                             painter.fontMetrics());
    const QRect band = Band(r, name.Left, name.Right, r.top(), r.top() + r.height());
    painter.save();
    painter.setClipRect(band);
    painter.drawText(band, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter.restore();
}

void PaintState(QPainter& painter, const QRect& r, const TCompanyRowView& row,
                const TRowPaintContext& context) {
    const TColumnBox& state = context.Columns.StateColumn;
    painter.drawPixmap(QPoint(r.left() + state.Left, r.top() + kSyncImageTop),
                       row.BothChanged || row.FolderMissing
                           ? context.Pictures.ConflictImage(row.Hot)
                           : context.Pictures.SyncImage(row.SyncMode, row.Hot));
    painter.setFont(ListCaptionFont());
    painter.setPen(row.BothChanged || row.FolderMissing ? kStateCaptionConflict
                   : row.SyncMode == smNone             ? kStateCaptionNone
                                                        : kStateCaptionActive);
    const QRect band =
        Band(r, state.Left + kStateCaptionIndent, state.Right - context.Columns.CellMargin, r.top(),
             r.top() + r.height());
    painter.drawText(band, Qt::AlignCenter | Qt::TextSingleLine,
                     row.FolderMissing ? QString::fromUtf8(kMissingCaption)
                     : row.BothChanged ? QString::fromUtf8(kConflictCaption)
                                       : SyncStateCaption(row.SyncMode));
}

void PaintDataText(QPainter& painter, const QRect& band, const QString& text) {
    painter.save();
    painter.setClipRect(band);
    painter.drawText(band, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    painter.restore();
}

// The font's own underline falls below the line's short band with most faces; draw it on the
// band's last row at the latest so that the prompt still reads as a link.
void PaintUnderline(QPainter& painter, const QRect& band, const QString& text) {
    const QFontMetrics metrics = painter.fontMetrics();
    const int y = std::min(band.top() + metrics.ascent() + metrics.underlinePos(), band.bottom());
    const int right = std::min(band.left() + metrics.horizontalAdvance(text), band.right() + 1);
    painter.drawLine(band.left(), y, right - 1, y);
}

void PaintDataLines(QPainter& painter, const QRect& r, const TCompanyRowView& row,
                    const TRowPaintContext& context) {
    const TColumnBox& data = context.Columns.DataColumn;
    const int m = context.Columns.CellMargin;
    const int h = (data.Height - 3 * m) / 2;
    const int textLeft = data.Left + kDataTextIndent;
    const int textRight = data.Right - m;
    painter.setFont(ListDateFont());
    painter.setPen(context.WindowText);

    painter.drawPixmap(QPoint(r.left() + data.Left, r.top() + m - 1),
                       context.Pictures.RemoteImage(row.DecidedMode == smDownload));
    const QString remote = RemoteLineText(row);
    if (!remote.isEmpty()) {
        PaintDataText(painter, Band(r, textLeft, textRight, r.top() + m, r.top() + m + h), remote);
    }

    painter.drawPixmap(QPoint(r.left() + data.Left, r.top() + 2 * m + h - 1),
                       context.Pictures.LocalImage(row.DecidedMode == smUpload));
    const QRect localBand =
        Band(r, textLeft, textRight, r.top() + 2 * m + h, r.top() + 2 * m + (data.Height - 3 * m));
    const QString local = LocalLineText(row);
    if (row.LocalPath.empty() && row.PointerOverFolderLink) {
        painter.setPen(kStateCaptionActive);
        PaintDataText(painter, localBand, local);
        PaintUnderline(painter, localBand, local);
    } else {
        PaintDataText(painter, localBand, local);
    }
}

// The keyboard's row: a dotted frame two pixels inside the row, clear of the hot frame.
void PaintCurrentFrame(QPainter& painter, const QRect& r) {
    painter.setPen(QPen(kCurrentRowFrame, 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(r.adjusted(2, 2, -4, -4));
}

}  // namespace

QString SyncStateCaption(TSyncMode mode) {
    return QString::fromStdString(SyncModeWords(mode));
}

QString FutureTimeText(TDateTime time) {
    // Its hour says nothing true, and the column's fixed width leaves room for the mark.
    return QString::fromStdString(FormatDateTime("yyyy-mm-dd", time)) + QStringLiteral(" (미래)");
}

QString LocalLineText(const TCompanyRowView& row) {
    if (row.FolderMissing) return QString::fromUtf8(kMissingLocalLine);
    if (row.LocalPath.empty()) return QStringLiteral("<폴더를 선택하세요>");
    if (row.LocalModified != 0) {
        return row.LocalInFuture
                   ? FutureTimeText(row.LocalModified)
                   : QString::fromStdString(FormatDateTime(kDateFormat, row.LocalModified));
    }
    return QStringLiteral("<새 사업장>");
}

QString RemoteLineText(const TCompanyRowView& row) {
    if (row.LatestFileTime > 0) {
        return row.WebInFuture
                   ? FutureTimeText(row.LatestFileTime)
                   : QString::fromStdString(FormatDateTime(kDateFormat, row.LatestFileTime));
    }
    return {};
}

void PaintCompanyRow(QPainter& painter, const QRect& rowRect, const TCompanyRowView& row,
                     const TRowPaintContext& context) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBackgroundMode(Qt::TransparentMode);
    PaintBackground(painter, rowRect, row.Hot);
    PaintCheckBox(painter, rowRect, row, context);
    PaintSeparator(painter, rowRect);
    PaintName(painter, rowRect, row, context);
    PaintState(painter, rowRect, row, context);
    PaintDataLines(painter, rowRect, row, context);
    if (row.Current) PaintCurrentFrame(painter, rowRect);
    painter.restore();
}

}  // namespace tidewell
