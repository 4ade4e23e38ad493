#pragma once

// The company list `vt`: draws the rows of the window's logic, tracks the row under the
// pointer, and forwards clicks, the context menu and hints. For the keyboard it keeps a current
// row: Up and Down move it, Space toggles its mark, Enter and the Menu key open the context menu
// on it.

#include <QAbstractScrollArea>
#include <QPoint>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>
#include <utility>

#include "view/ListLayout.h"
#include "view/Pictures.h"

class QMenu;

namespace tidewell {

class TformMain;

class TCompanyListView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TCompanyListView(QWidget* parent = nullptr);
    ~TCompanyListView() override;

    // The logic whose rows are shown, and how its handlers are run (errors go to the report).
    void SetForm(TformMain* form, std::function<void(const std::function<void()>&)> dispatch);
    void SetContextMenu(QMenu* menu) { menu_ = menu; }

    void RowsChanged();
    void RepaintRow(int row);
    const TListColumns& Columns() const { return columns_; }
    void SetColumns(const TListColumns& columns);
    bool ShowsVerticalScrollBar() const;

    // The pointer as the list last saw it, in viewport coordinates.
    std::optional<int> RowAt(QPoint point) const;
    std::optional<int> RowUnderPointer() const;
    // The row the open context menu acts on; otherwise the row under the pointer.
    std::optional<int> HotRow() const;
    std::optional<int> CurrentRow() const { return currentRow_; }
    void SetCurrentRow(std::optional<int> row);
    // Takes the pointer where it is now: after a menu or a box the list saw no moves.
    void FollowPointer();
    bool IsOverSyncButton(int row) const;
    bool IsOverFolderLink(int row) const;
    QRect RowRect(int row) const;

signals:
    void Resized();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void TrackPointer(QPoint point);
    void SetHotRow(std::optional<int> row);
    // Moves a row mark (hot or current), repainting the row it leaves and the row it reaches.
    void MoveRowMark(std::optional<int>& mark, std::optional<int> row);
    void ShowHint(QPoint globalPosition);
    // The hint that belongs where the pointer is: text and size, empty when none.
    std::pair<QString, QSize> HintAt(int row, QPoint point) const;
    void OpenMenu(std::optional<int> row, QPoint globalPosition);
    void OpenMenuAtCurrentRow();
    void MoveCurrentRow(int row);
    void EnsureRowVisible(int row);
    void UpdateScrollRange();
    bool HasLocalPath(int row) const;

    TformMain* form_ = nullptr;
    std::function<void(const std::function<void()>&)> dispatch_;
    QMenu* menu_ = nullptr;
    TListColumns columns_;
    TListPictures pictures_;
    std::optional<QPoint> pointer_;
    std::optional<int> hotRow_;
    std::optional<int> currentRow_;
    bool menuOpen_ = false;
    std::optional<int> menuRow_;  // the row the open context menu acts on
    class HintWindow;
    HintWindow* hint_ = nullptr;
};

}  // namespace tidewell
