#pragma once

// Where the window puts the login block and its centred panels when its size changes. Pure
// functions over sizes; the window applies the results to its controls.

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

namespace tidewell {

// The login block is designed as an area of this size, centred in the login panel.
inline constexpr QSize kLoginBlockSize{361, 321};

// The account header: three labels of this width whose left follows the window's right edge.
inline constexpr int kHeaderLabelsWidth = 268;
int HeaderLabelsLeft(int clientWidth);

// The smallest client area. Narrower, the header's texts would run into the logo's lettering
// (it ends 188 px from the left); lower, the login block would lose its lower edge.
inline constexpr QSize kMinimumClientSize{490, kLoginBlockSize.height()};

// Whether a window whose frame would be at frame shows its title bar on one of the screens'
// available areas: the whole height of the bar and enough of its width to take hold of.
bool TitleBarShown(const QRect& frame, const QList<QRect>& screenAreas);

// The widths the placement depends on.
struct TLoginBlockWidths {
    int Shape3 = 0;
    int Shape4 = 0;
    int Label4 = 0;
    int Label6 = 0;
};

// A control's new left, and its new top when the panel is tall enough to centre vertically
// (absent: the control keeps its top).
struct TControlPlace {
    int Left = 0;
    std::optional<int> Top;

    friend bool operator==(const TControlPlace&, const TControlPlace&) = default;
};

struct TLoginBlockPlaces {
    TControlPlace imageLogo1, Shape2, Shape3, Shape4, Label1, Edit1, Label2, Edit2, btnLogin,
        CheckBox2, Label4, Label6;
};

// panelClient: the login panel's client size (it covers the window's client area). Up to the
// block's height the controls keep their tops, except right after the panel was taller
// (previousHeight; a restore from maximized): then they go back to the tops a gradual
// shrink would have left them at, those of the design, instead of staying far below.
TLoginBlockPlaces PlaceLoginBlock(QSize panelClient, const TLoginBlockWidths& widths,
                                  int previousHeight = 0);

struct TCentredPanelsPlaces {
    int SyncButtonLeft = 0;
    QPoint ProgressPanel;
};

// Centred on the window's outer size, frame included, as the window has always done.
TCentredPanelsPlaces PlaceCentredPanels(QSize windowFrame, int syncButtonWidth,
                                        QSize progressPanel);

}  // namespace tidewell
