#pragma once

// A picture or link label that acts like a button: a left click, and when it takes the
// keyboard focus, Enter or Space. While focused it shows the style's focus frame.

#include <QLabel>

namespace tidewell {

class TClickLabel : public QLabel {
    Q_OBJECT
public:
    // focusable: whether Tab stops at it.
    explicit TClickLabel(QWidget* parent, bool focusable);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace tidewell
