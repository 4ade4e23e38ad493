#pragma once

// The company list `vt`: draws the rows of the window's logic, tracks the row under the
// pointer, and forwards clicks, the context menu and hints.

#include <QAbstractScrollArea>
#include <QPoint>

#include <functional>
#include <optional>

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
    std::optional<int> HotRow() const;
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
    bool viewportEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void TrackPointer(QPoint point);
    void SetHotRow(std::optional<int> row);
    void ShowHint(QPoint globalPosition);
    void UpdateScrollRange();
    bool HasLocalPath(int row) const;

    TformMain* form_ = nullptr;
    std::function<void(const std::function<void()>&)> dispatch_;
    QMenu* menu_ = nullptr;
    TListColumns columns_;
    TListPictures pictures_;
    std::optional<QPoint> pointer_;
    std::optional<int> hotRow_;
    std::optional<int> menuRow_;  // the row the open context menu acts on
    class HintWindow;
    HintWindow* hint_ = nullptr;
};

}  // namespace tidewell
