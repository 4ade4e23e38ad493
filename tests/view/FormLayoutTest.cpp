#include <gtest/gtest.h>

#include "view/FormLayout.h"

namespace tidewell {
namespace {

const TLoginBlockWidths kWidths{361, 280, 300, 201};

TEST(FormLayout, AtTheDesignHeightControlsKeepTheirTopsButFollowTheWidth) {
    const TLoginBlockPlaces p = PlaceLoginBlock({526, 321}, kWidths);
    EXPECT_EQ(p.imageLogo1, (TControlPlace{82, std::nullopt}));
    EXPECT_EQ(p.Shape2, (TControlPlace{82, std::nullopt}));
    EXPECT_EQ(p.Shape3, (TControlPlace{82, std::nullopt}));
    EXPECT_EQ(p.Shape4, (TControlPlace{122, std::nullopt}));
    EXPECT_EQ(p.Label1, (TControlPlace{162, std::nullopt}));
    EXPECT_EQ(p.Edit1, (TControlPlace{210, std::nullopt}));
    EXPECT_EQ(p.Label2, (TControlPlace{150, std::nullopt}));
    EXPECT_EQ(p.Edit2, (TControlPlace{210, std::nullopt}));
    EXPECT_EQ(p.btnLogin, (TControlPlace{321, std::nullopt}));
    EXPECT_EQ(p.CheckBox2, (TControlPlace{210, std::nullopt}));
    EXPECT_EQ(p.Label4, (TControlPlace{112, std::nullopt}));
    EXPECT_EQ(p.Label6, (TControlPlace{162, std::nullopt}));

    const TLoginBlockPlaces wider = PlaceLoginBlock({700, 300}, kWidths);
    EXPECT_EQ(wider.imageLogo1, (TControlPlace{169, std::nullopt}));
    EXPECT_EQ(wider.btnLogin.Left, 169 + 40 + 280 - 81);
}

TEST(FormLayout, TallerClientCentresTheBlockVertically) {
    const TLoginBlockPlaces p = PlaceLoginBlock({526, 400}, kWidths);  // base 39
    EXPECT_EQ(p.imageLogo1.Top, 43);
    EXPECT_EQ(p.Shape2.Top, 119);
    EXPECT_EQ(p.Shape3.Top, 139);
    EXPECT_EQ(p.Shape4.Top, 171);
    EXPECT_EQ(p.Label1.Top, 191);
    EXPECT_EQ(p.Edit1.Top, 187);
    EXPECT_EQ(p.Label2.Top, 215);
    EXPECT_EQ(p.Edit2.Top, 211);
    EXPECT_EQ(p.btnLogin.Top, 187);
    EXPECT_EQ(p.CheckBox2.Top, 235);
    EXPECT_EQ(p.Label4.Top, 279);
    EXPECT_EQ(p.Label6.Top, 335);
    EXPECT_EQ(p.imageLogo1.Left, 82);

    // One pixel over the design height already places the tops, with a base of zero.
    EXPECT_EQ(PlaceLoginBlock({526, 322}, kWidths).imageLogo1.Top, 4);
}

TEST(FormLayout, DownFromATallerPanelTheBlockTakesItsDesignTops) {
    // Restored from maximized straight to the design height: kept, the tops would stay where
    // the maximized window had centred them, the block cut off below.
    const TLoginBlockPlaces back = PlaceLoginBlock({526, 321}, kWidths, 749);
    EXPECT_EQ(back.imageLogo1, (TControlPlace{82, 4}));
    EXPECT_EQ(back.Edit1.Top, 148);
    EXPECT_EQ(back.Label6.Top, 296);
    // From the same height (or none known) they keep their tops, as before.
    EXPECT_EQ(PlaceLoginBlock({526, 321}, kWidths, 321).Label6.Top, std::nullopt);
}

TEST(FormLayout, HalvesTruncateTowardZero) {
    // A panel narrower than the block: (360 - 361) / 2 is 0, not -1.
    EXPECT_EQ(PlaceLoginBlock({360, 321}, kWidths).imageLogo1.Left, 0);
    // A label wider than its shape moves left by the truncated half.
    const TLoginBlockPlaces p = PlaceLoginBlock({361, 321}, {361, 280, 364, 201});
    EXPECT_EQ(p.Label4.Left, -1);
}

TEST(FormLayout, CentredPanelsUseTheOuterWindowSize) {
    const TCentredPanelsPlaces p = PlaceCentredPanels({536, 360}, 101, {300, 99});
    EXPECT_EQ(p.SyncButtonLeft, 217);
    EXPECT_EQ(p.ProgressPanel, QPoint(118, 130));
}

TEST(FormLayout, AStoredPlaceCountsWhenItsTitleBarShowsOnAScreen) {
    const QList<QRect> one{QRect(0, 0, 1024, 740)};
    EXPECT_TRUE(TitleBarShown(QRect(100, 50, 528, 346), one));
    EXPECT_TRUE(TitleBarShown(QRect(-400, 0, 528, 346), one));  // 128 px of it show
    EXPECT_FALSE(TitleBarShown(QRect(-500, 0, 528, 346), one));
    EXPECT_FALSE(TitleBarShown(QRect(1000, 50, 528, 346), one));
    EXPECT_FALSE(TitleBarShown(QRect(100, 730, 528, 346), one));  // bar cut by the task bar
    EXPECT_FALSE(TitleBarShown(QRect(100, -5, 528, 346), one));

    // Two screens side by side, the second lower: the gap above it shows nothing.
    const QList<QRect> two{QRect(0, 0, 1024, 768), QRect(1024, 200, 1280, 800)};
    EXPECT_TRUE(TitleBarShown(QRect(1500, 300, 528, 346), two));
    EXPECT_FALSE(TitleBarShown(QRect(1500, 50, 528, 346), two));
    EXPECT_FALSE(TitleBarShown(QRect(100, 50, 528, 346), {}));
}

}  // namespace
}  // namespace tidewell
