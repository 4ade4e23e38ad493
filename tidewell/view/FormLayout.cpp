#include "view/FormLayout.h"

#include <algorithm>

namespace tidewell {

namespace {

// From the right edge: the list's right margin, less the 16 px the labels reach past it.
constexpr int kHeaderRightOffset = 42 + kHeaderLabelsWidth - 16;
// What must show of a window's top edge for the user to reach and drag it.
constexpr int kTitleBarHeight = 24;
constexpr int kTitleBarGrip = 64;

}  // namespace

int HeaderLabelsLeft(int clientWidth) {
    return clientWidth - kHeaderRightOffset;
}

bool TitleBarShown(const QRect& frame, const QList<QRect>& screenAreas) {
    const QRect bar(frame.left(), frame.top(), frame.width(), kTitleBarHeight);
    const int grip = std::min(kTitleBarGrip, frame.width());
    for (const QRect& area : screenAreas) {
        const QRect shown = area.intersected(bar);
        if (shown.height() == bar.height() && shown.width() >= grip) return true;
    }
    return false;
}

TLoginBlockPlaces PlaceLoginBlock(QSize panelClient, const TLoginBlockWidths& widths,
                                  int previousHeight) {
    const bool tall = panelClient.height() > kLoginBlockSize.height();
    const bool cameDown = !tall && previousHeight > kLoginBlockSize.height();
    const int base = tall ? (panelClient.height() - kLoginBlockSize.height()) / 2 : 0;
    auto top = [&](int offset) -> std::optional<int> {
        if (!tall && !cameDown) return std::nullopt;
        return base + offset;
    };

    TLoginBlockPlaces p;
    p.imageLogo1 = {(panelClient.width() - kLoginBlockSize.width()) / 2, top(4)};
    p.Shape2 = {p.imageLogo1.Left, top(80)};
    p.Shape3 = {p.imageLogo1.Left, top(100)};
    p.Shape4 = {p.Shape3.Left + (widths.Shape3 - widths.Shape4) / 2, top(132)};
    p.Label1 = {p.Shape4.Left + 40, top(152)};
    p.Edit1 = {p.Label1.Left + 48, top(148)};
    p.Label2 = {p.Shape4.Left + 28, top(176)};
    p.Edit2 = {p.Edit1.Left, top(172)};
    p.btnLogin = {p.Shape4.Left + widths.Shape4 - 81, top(148)};
    p.CheckBox2 = {p.Edit1.Left, top(196)};
    p.Label4 = {p.Shape3.Left + (widths.Shape3 - widths.Label4) / 2, top(240)};
    p.Label6 = {p.Shape3.Left + (widths.Shape3 - widths.Label6) / 2, top(296)};
    return p;
}

TCentredPanelsPlaces PlaceCentredPanels(QSize windowFrame, int syncButtonWidth,
                                        QSize progressPanel) {
    return {(windowFrame.width() - syncButtonWidth) / 2,
            QPoint((windowFrame.width() - progressPanel.width()) / 2,
                   (windowFrame.height() - progressPanel.height()) / 2)};
}

}  // namespace tidewell
