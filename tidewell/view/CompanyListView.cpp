#include "view/CompanyListView.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>

#include "app/Main.h"
#include "view/Fonts.h"
#include "view/ListHints.h"
#include "view/RowPainter.h"

namespace tidewell {

// The list's own hint: sized and painted as the list says, not as a tooltip would.
class TCompanyListView::HintWindow : public QWidget {
public:
    explicit HintWindow(QWidget* parent) : QWidget(parent, Qt::ToolTip) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void Show(const QString& text, QSize size, QPoint at) {
        text_ = text;
        setGeometry(QRect(at, size));
        show();
        update();
    }
    const QString& text() const { return text_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        PaintListHint(painter, rect(), text_, QToolTip::font(),
                      QToolTip::palette().color(QPalette::ToolTipBase));
    }

private:
    QString text_;
};

TCompanyListView::TCompanyListView(QWidget* parent)
    : QAbstractScrollArea(parent), pictures_(TListPictures::Load()) {
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(true);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setSingleStep(kListRowHeight);
    hint_ = new HintWindow(this);
    columns_ = ComputeListColumns(viewport()->width());
}

TCompanyListView::~TCompanyListView() = default;

void TCompanyListView::SetForm(TformMain* form,
                               std::function<void(const std::function<void()>&)> dispatch) {
    form_ = form;
    dispatch_ = std::move(dispatch);
    RowsChanged();
}

void TCompanyListView::SetColumns(const TListColumns& columns) {
    columns_ = columns;
    viewport()->update();
}

void TCompanyListView::RowsChanged() {
    UpdateScrollRange();
    if (hotRow_ && form_ && *hotRow_ >= form_->RowCount()) hotRow_.reset();
    viewport()->update();
    emit Resized();  // the scroll bar may have come or gone
}

void TCompanyListView::UpdateScrollRange() {
    const int rows = form_ ? form_->RowCount() : 0;
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setRange(0, std::max(0, rows * kListRowHeight - viewport()->height()));
}

bool TCompanyListView::ShowsVerticalScrollBar() const {
    return ListShowsVerticalScrollBar(form_ ? form_->RowCount() : 0, viewport()->height());
}

QRect TCompanyListView::RowRect(int row) const {
    return QRect(0, row * kListRowHeight - verticalScrollBar()->value(), viewport()->width(),
                 kListRowHeight);
}

void TCompanyListView::RepaintRow(int row) { viewport()->update(RowRect(row)); }

std::optional<int> TCompanyListView::RowAt(QPoint point) const {
    if (!form_ || !viewport()->rect().contains(point)) return std::nullopt;
    const int row = (point.y() + verticalScrollBar()->value()) / kListRowHeight;
    if (row < 0 || row >= form_->RowCount()) return std::nullopt;
    return row;
}

std::optional<int> TCompanyListView::RowUnderPointer() const {
    return pointer_ ? RowAt(*pointer_) : std::nullopt;
}

std::optional<int> TCompanyListView::HotRow() const { return menuRow_ ? menuRow_ : hotRow_; }

bool TCompanyListView::HasLocalPath(int row) const {
    return form_ && row >= 0 && row < form_->RowCount() &&
           !form_->Row(row).Company->LocalPath.empty();
}

bool TCompanyListView::IsOverSyncButton(int row) const {
    if (!pointer_ || !form_ || row < 0 || row >= form_->RowCount()) return false;
    return tidewell::IsOverSyncButton(RowRect(row), columns_, *pointer_);
}

bool TCompanyListView::IsOverFolderLink(int row) const {
    if (!pointer_ || !form_ || row < 0 || row >= form_->RowCount()) return false;
    return tidewell::IsOverFolderLink(RowRect(row), columns_, HasLocalPath(row), *pointer_);
}

void TCompanyListView::paintEvent(QPaintEvent* event) {
    if (!form_) return;
    QPainter painter(viewport());
    const TRowPaintContext context{columns_, pictures_, palette().color(QPalette::WindowText),
                                   this};
    const QRect dirty = event->rect();
    for (int row = 0; row < form_->RowCount(); ++row) {
        const QRect r = RowRect(row);
        if (!r.intersects(dirty)) continue;
        const TTidewellCompany& company = *form_->Row(row).Company;
        TCompanyRowView view;
        view.CompanyName = company.CompanyName;
        view.SyncMode = company.SyncMode;
        view.DecidedMode = form_->DecideSyncMode(row);
        view.LatestFileTime = company.LatestFileTime;
        view.LocalPath = company.LocalPath;
        view.LocalModified = company.LocalModified;
        view.Checked = form_->Row(row).Checked;
        view.Hot = hotRow_ == row;
        view.PointerOverFolderLink = IsOverFolderLink(row);
        PaintCompanyRow(painter, r, view, context);
    }
}

void TCompanyListView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRange();
    emit Resized();
}

void TCompanyListView::scrollContentsBy(int, int) {
    if (pointer_) TrackPointer(*pointer_);
    viewport()->update();
}

void TCompanyListView::SetHotRow(std::optional<int> row) {
    if (row == hotRow_) return;
    if (hotRow_) RepaintRow(*hotRow_);
    hotRow_ = row;
    if (hotRow_) RepaintRow(*hotRow_);
}

void TCompanyListView::TrackPointer(QPoint point) {
    pointer_ = point;
    const auto row = RowAt(point);
    SetHotRow(row);
    const TListArea area =
        ListAreaAt(row ? std::optional<QRect>(RowRect(*row)) : std::nullopt, columns_,
                   row && HasLocalPath(*row), point);
    const TPointerFeedback feedback = ListPointerFeedback(area);
    if (viewport()->cursor().shape() != feedback.Shape) viewport()->setCursor(feedback.Shape);
    // The folder prompt is underlined while the pointer is on it; repaint to show or clear it.
    if (row) RepaintRow(*row);
    if (hint_->isVisible() && area == TListArea::laNone) hint_->hide();
}

void TCompanyListView::mouseMoveEvent(QMouseEvent* event) {
    TrackPointer(event->position().toPoint());
    QAbstractScrollArea::mouseMoveEvent(event);
}

void TCompanyListView::leaveEvent(QEvent* event) {
    pointer_.reset();
    SetHotRow(std::nullopt);
    hint_->hide();
    viewport()->unsetCursor();
    QAbstractScrollArea::leaveEvent(event);
}

void TCompanyListView::mouseReleaseEvent(QMouseEvent* event) {
    TrackPointer(event->position().toPoint());
    if (event->button() != Qt::LeftButton || !form_ || !isEnabled()) return;
    hint_->hide();
    const auto row = RowAt(event->position().toPoint());
    const int indicator = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this);
    if (row && GetCheckBoxRect(RowRect(*row), columns_, indicator)
                   .contains(event->position().toPoint())) {
        dispatch_([&] { form_->ToggleRowCheck(*row); });
        return;
    }
    dispatch_([&] { form_->vtClick(); });
}

void TCompanyListView::contextMenuEvent(QContextMenuEvent* event) {
    if (!form_ || !menu_ || !isEnabled()) return;
    TrackPointer(event->pos());
    hint_->hide();
    menuRow_ = hotRow_;
    dispatch_([&] { form_->PopupMenu1Popup(); });
    // The chosen entry runs its handler inside exec, while the row is still remembered.
    menu_->exec(event->globalPos());
    menuRow_.reset();
}

bool TCompanyListView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        TrackPointer(help->pos());
        ShowHint(help->globalPos());
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void TCompanyListView::ShowHint(QPoint globalPosition) {
    const auto row = RowUnderPointer();
    if (!form_ || !row || !pointer_) {
        hint_->hide();
        return;
    }
    const TTidewellCompany& company = *form_->Row(*row).Company;
    const TListArea area = ListAreaAt(RowRect(*row), columns_, HasLocalPath(*row), *pointer_);
    const QFontMetrics metrics(font());
    const QSize size = ListHintSize(area, true, company.LocalPath,
                                    [&](const QString& text) { return TextWidthOf(metrics, text); });
    const QString text = ListHintText(area, company.SyncMode, company.LocalPath);
    if (size.isEmpty() || text.isEmpty()) {
        hint_->hide();
        return;
    }
    hint_->Show(text, size, globalPosition + QPoint(2, 20));
}

}  // namespace tidewell
