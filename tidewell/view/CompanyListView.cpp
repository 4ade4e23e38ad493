#include "view/CompanyListView.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QHelpEvent>
#include <QKeyEvent>
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
    setFocusPolicy(Qt::StrongFocus);
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
    const int rows = form_ ? form_->RowCount() : 0;
    if (hotRow_ && *hotRow_ >= rows) hotRow_.reset();
    // A rebuilt list keeps the keyboard's place as far as it still reaches.
    if (currentRow_ && *currentRow_ >= rows) {
        currentRow_ = rows > 0 ? std::optional<int>(rows - 1) : std::nullopt;
    }
    if (!currentRow_ && rows > 0 && hasFocus()) currentRow_ = 0;
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

void TCompanyListView::RepaintRow(int row) {
    viewport()->update(RowRect(row));
}

std::optional<int> TCompanyListView::RowAt(QPoint point) const {
    if (!form_ || !viewport()->rect().contains(point)) return std::nullopt;
    const int row = (point.y() + verticalScrollBar()->value()) / kListRowHeight;
    if (row < 0 || row >= form_->RowCount()) return std::nullopt;
    return row;
}

std::optional<int> TCompanyListView::RowUnderPointer() const {
    return pointer_ ? RowAt(*pointer_) : std::nullopt;
}

std::optional<int> TCompanyListView::HotRow() const {
    return menuOpen_ ? menuRow_ : hotRow_;
}

void TCompanyListView::SetCurrentRow(std::optional<int> row) {
    MoveRowMark(currentRow_, row);
}

void TCompanyListView::MoveRowMark(std::optional<int>& mark, std::optional<int> row) {
    if (row == mark) return;
    if (mark) RepaintRow(*mark);
    mark = row;
    if (mark) RepaintRow(*mark);
}

void TCompanyListView::EnsureRowVisible(int row) {
    QScrollBar* bar = verticalScrollBar();
    const int top = row * kListRowHeight;
    if (top < bar->value()) {
        bar->setValue(top);
    } else if (top + kListRowHeight > bar->value() + viewport()->height()) {
        bar->setValue(top + kListRowHeight - viewport()->height());
    }
}

void TCompanyListView::MoveCurrentRow(int row) {
    if (!form_ || form_->RowCount() == 0) return;
    row = std::clamp(row, 0, form_->RowCount() - 1);
    SetCurrentRow(row);
    EnsureRowVisible(row);
}

void TCompanyListView::FollowPointer() {
    hint_->hide();
    const QPoint global = QCursor::pos();
    QWidget* under = QApplication::widgetAt(global);
    const QPoint point = viewport()->mapFromGlobal(global);
    if (isVisible() && (under == viewport() || viewport()->isAncestorOf(under))) {
        TrackPointer(point);
        return;
    }
    pointer_.reset();
    SetHotRow(std::nullopt);
    viewport()->unsetCursor();
}

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
        view.Current = currentRow_ == row && (hasFocus() || menuOpen_);
        view.PointerOverFolderLink = IsOverFolderLink(row);
        const TSyncDecision decision = form_->Decision(row);
        view.BothChanged = decision.Ask != TSyncDecision::akNone;
        view.LocalInFuture = decision.LocalInFuture;
        view.WebInFuture = decision.WebInFuture;
        view.FolderMissing = form_->MissingFolder(row).has_value();
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
    MoveRowMark(hotRow_, row);
}

void TCompanyListView::TrackPointer(QPoint point) {
    pointer_ = point;
    const auto row = RowAt(point);
    SetHotRow(row);
    const TListArea area = ListAreaAt(row ? std::optional<QRect>(RowRect(*row)) : std::nullopt,
                                      columns_, row && HasLocalPath(*row), point);
    const TPointerFeedback feedback = ListPointerFeedback(area);
    if (viewport()->cursor().shape() != feedback.Shape) viewport()->setCursor(feedback.Shape);
    // The folder prompt is underlined while the pointer is on it; repaint to show or clear it.
    if (row) RepaintRow(*row);
    if (hint_->isVisible() && (!row || HintAt(*row, point).first != hint_->text())) hint_->hide();
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
    if (row) SetCurrentRow(row);
    const int indicator = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this);
    if (row &&
        GetCheckBoxRect(RowRect(*row), columns_, indicator).contains(event->position().toPoint())) {
        dispatch_([&] { form_->ToggleRowCheck(*row); });
        return;
    }
    dispatch_([&] { form_->vtClick(); });
}

void TCompanyListView::contextMenuEvent(QContextMenuEvent* event) {
    if (!form_ || !menu_ || !isEnabled()) return;
    if (event->reason() == QContextMenuEvent::Keyboard) {
        OpenMenuAtCurrentRow();
        return;
    }
    TrackPointer(event->pos());
    if (hotRow_) SetCurrentRow(hotRow_);
    OpenMenu(hotRow_, event->globalPos());
}

void TCompanyListView::OpenMenuAtCurrentRow() {
    QPoint at(0, 0);
    if (currentRow_) {
        EnsureRowVisible(*currentRow_);
        const QRect r = RowRect(*currentRow_);
        at = QPoint(r.left() + columns_.NameColumn.Left, r.top() + r.height() / 2);
    }
    OpenMenu(currentRow_, viewport()->mapToGlobal(at));
}

void TCompanyListView::OpenMenu(std::optional<int> row, QPoint globalPosition) {
    hint_->hide();
    menuOpen_ = true;
    menuRow_ = row;
    dispatch_([&] { form_->PopupMenu1Popup(); });
    // The chosen entry runs its handler inside exec, while the row is still remembered.
    menu_->exec(globalPosition);
    menuOpen_ = false;
    menuRow_.reset();
    if (currentRow_) RepaintRow(*currentRow_);
    FollowPointer();
}

void TCompanyListView::keyPressEvent(QKeyEvent* event) {
    const int rows = form_ ? form_->RowCount() : 0;
    const int page = std::max(1, viewport()->height() / kListRowHeight);
    const int current = currentRow_.value_or(-1);
    switch (event->key()) {
        case Qt::Key_Up:
            MoveCurrentRow(currentRow_ ? current - 1 : 0);
            return;
        case Qt::Key_Down:
            MoveCurrentRow(current + 1);
            return;
        case Qt::Key_PageUp:
            MoveCurrentRow(current - page);
            return;
        case Qt::Key_PageDown:
            MoveCurrentRow(current + page);
            return;
        case Qt::Key_Home:
            MoveCurrentRow(0);
            return;
        case Qt::Key_End:
            MoveCurrentRow(rows - 1);
            return;
        case Qt::Key_Space:
            if (currentRow_ && form_) dispatch_([&] { form_->ToggleRowCheck(*currentRow_); });
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (form_ && menu_) OpenMenuAtCurrentRow();
            return;
        case Qt::Key_F10:
            if (event->modifiers() & Qt::ShiftModifier && form_ && menu_) {
                OpenMenuAtCurrentRow();
                return;
            }
            break;
        default:
            break;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void TCompanyListView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    if (!currentRow_ && form_ && form_->RowCount() > 0) currentRow_ = 0;
    if (currentRow_) RepaintRow(*currentRow_);
}

void TCompanyListView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    if (currentRow_) RepaintRow(*currentRow_);
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

std::pair<QString, QSize> TCompanyListView::HintAt(int row, QPoint point) const {
    const TTidewellCompany& company = *form_->Row(row).Company;
    const QRect r = RowRect(row);
    const TListArea area = ListAreaAt(r, columns_, HasLocalPath(row), point);
    const TSyncDecision decision = form_->Decision(row);
    if (const auto missing = form_->MissingFolder(row); missing && area != TListArea::laNone) {
        return {MissingFolderHintText(missing->Path, missing->FolderExists), BothChangedHintSize()};
    }
    if (area == TListArea::laSyncButton && decision.Ask != TSyncDecision::akNone) {
        return {BothChangedHintText(company.LocalModified, company.LatestFileTime, decision.Ask),
                BothChangedHintSize()};
    }
    if (area != TListArea::laNone) {
        const QFontMetrics metrics(font());
        return {ListHintText(area, company.SyncMode, company.LocalPath),
                ListHintSize(area, true, company.LocalPath,
                             [&](const QString& text) { return TextWidthOf(metrics, text); })};
    }
    const TColumnBox& name = columns_.NameColumn;
    if (point.x() < r.left() + name.Left || point.x() >= r.left() + name.Right) return {};
    const QString full = ShortenedNameHint(company.CompanyName, name.Width);
    if (full.isEmpty()) return {};
    return {full, OneLineHintSize(TextWidthOf(QFontMetrics(QToolTip::font()), full))};
}

void TCompanyListView::ShowHint(QPoint globalPosition) {
    const auto row = RowUnderPointer();
    if (!form_ || !row || !pointer_) {
        hint_->hide();
        return;
    }
    const auto [text, size] = HintAt(*row, *pointer_);
    if (size.isEmpty() || text.isEmpty()) {
        hint_->hide();
        return;
    }
    hint_->Show(text, size, globalPosition + QPoint(2, 20));
}

}  // namespace tidewell
