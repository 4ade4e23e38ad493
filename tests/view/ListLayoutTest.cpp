#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>

#include "view/Fonts.h"
#include "view/ListLayout.h"

namespace tidewell {
namespace {

TEST(ListLayout, BandsAtTheDesignWidth) {
    const TListColumns c = ComputeListColumns(440);
    EXPECT_EQ(c.CheckColumn, (TColumnBox{0, 24, 24, 37}));
    EXPECT_EQ(c.NameColumn, (TColumnBox{24, 200, 176, 37}));
    EXPECT_EQ(c.StateColumn, (TColumnBox{200, 275, 75, 37}));
    EXPECT_EQ(c.DataColumn, (TColumnBox{275, 440, 165, 37}));
    EXPECT_EQ(c.CellMargin, 4);

    // The name band takes all the width the fixed bands leave.
    const TListColumns wide = ComputeListColumns(700);
    EXPECT_EQ(wide.NameColumn, (TColumnBox{24, 460, 436, 37}));
    EXPECT_EQ(wide.DataColumn, (TColumnBox{535, 700, 165, 37}));
}

TEST(ListLayout, CaptionsAreCentredOverTheirBandsAndShiftForTheScrollBar) {
    TColumnCaptionInput captions{43, 51, 100, false};
    TListLayout layout = LayoutListColumns(440, captions);
    EXPECT_EQ(layout.SyncModeCaptionLeft, 43 + 200 + 12);
    EXPECT_EQ(layout.LastModifiedCaptionLeft, 43 + 275 + 32);

    captions.VerticalScrollBar = true;
    layout = LayoutListColumns(440, captions);
    EXPECT_EQ(layout.SyncModeCaptionLeft, 43 + 200 + 12 - 16);
    EXPECT_EQ(layout.LastModifiedCaptionLeft, 43 + 275 + 32 - 16);

    // A caption wider than its band: the half is truncated toward zero, not floored.
    captions = {0, 82, 172, false};
    layout = LayoutListColumns(440, captions);
    EXPECT_EQ(layout.SyncModeCaptionLeft, 200 - 3);
    EXPECT_EQ(layout.LastModifiedCaptionLeft, 275 - 3);
}

TEST(ListLayout, ScrollBarAppearsOnlyWhenRowsOverflow) {
    EXPECT_FALSE(ListShowsVerticalScrollBar(0, 0));
    EXPECT_FALSE(ListShowsVerticalScrollBar(8, 296));
    EXPECT_TRUE(ListShowsVerticalScrollBar(8, 295));
}

TEST(ListLayout, ClickableAreasOfARow) {
    const TListColumns c = ComputeListColumns(440);
    const QRect row(0, 74, 440, 37);
    EXPECT_EQ(GetSyncButtonRect(row, c), QRect(200, 84, 65, 17));
    EXPECT_EQ(GetFolderLinkRect(row, c, true), QRect(275, 93, 43, 14));
    EXPECT_EQ(GetFolderLinkRect(row, c, false), QRect(275, 93, 151, 14));
    // Areas follow the row's left edge too.
    EXPECT_EQ(GetSyncButtonRect(QRect(5, 0, 440, 37), c).left(), 205);
}

TEST(ListLayout, HitTestsIncludeLeftAndTopButNotRightAndBottom) {
    const TListColumns c = ComputeListColumns(440);
    const QRect row(0, 37, 440, 37);  // sync area 200..264 x 47..63, folder area from 275, 56

    EXPECT_TRUE(IsOverSyncButton(row, c, {200, 47}));
    EXPECT_TRUE(IsOverSyncButton(row, c, {264, 63}));
    EXPECT_FALSE(IsOverSyncButton(row, c, {265, 47}));
    EXPECT_FALSE(IsOverSyncButton(row, c, {200, 64}));
    EXPECT_FALSE(IsOverSyncButton(row, c, {199, 50}));
    EXPECT_FALSE(IsOverSyncButton(row, c, {200, 46}));

    EXPECT_TRUE(IsOverFolderLink(row, c, true, {275, 56}));
    EXPECT_TRUE(IsOverFolderLink(row, c, true, {317, 69}));
    EXPECT_FALSE(IsOverFolderLink(row, c, true, {318, 56}));
    EXPECT_FALSE(IsOverFolderLink(row, c, true, {275, 70}));
    // Without a folder the prompt beside the image is part of the link.
    EXPECT_TRUE(IsOverFolderLink(row, c, false, {318, 56}));
    EXPECT_TRUE(IsOverFolderLink(row, c, false, {425, 56}));
    EXPECT_FALSE(IsOverFolderLink(row, c, false, {426, 56}));

    // No row under the pointer: never over an area.
    EXPECT_FALSE(IsOverSyncButton(std::nullopt, c, {200, 47}));
    EXPECT_FALSE(IsOverFolderLink(std::nullopt, c, false, {275, 56}));
}

TEST(ListLayout, PointerShapeFollowsTheAreaUnderIt) {
    const TListColumns c = ComputeListColumns(440);
    const QRect row(0, 0, 440, 37);
    struct Case {
        QPoint point;
        bool hasLocalPath;
        TListArea area;
        Qt::CursorShape shape;
        bool repaint;
    };
    const Case cases[] = {
        {{210, 15}, true, TListArea::laSyncButton, Qt::PointingHandCursor, false},
        {{280, 25}, true, TListArea::laFolderLink, Qt::PointingHandCursor, true},
        {{380, 25}, true, TListArea::laNone, Qt::ArrowCursor, false},
        {{380, 25}, false, TListArea::laFolderLink, Qt::PointingHandCursor, true},
        {{100, 15}, false, TListArea::laNone, Qt::ArrowCursor, false},
        {{280, 5}, false, TListArea::laNone, Qt::ArrowCursor, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.point.x() << "," << k.point.y());
        const TListArea area = ListAreaAt(row, c, k.hasLocalPath, k.point);
        EXPECT_EQ(area, k.area);
        EXPECT_EQ(ListPointerFeedback(area).Shape, k.shape);
        EXPECT_EQ(ListPointerFeedback(area).RepaintHotRow, k.repaint);
    }
    EXPECT_EQ(ListAreaAt(std::nullopt, c, false, {210, 15}), TListArea::laNone);
}

// Every unit ten pixels wide, so the steps of the shortening are easy to follow.
int TenPerUnit(const QString& text) {
    return 10 * static_cast<int>(text.size());
}

TEST(FitTextWithEllipsis, ShortensFromTheEndUntilTheDotsFit) {
    const QString name = QStringLiteral("가나다라마");
    EXPECT_EQ(FitTextWithEllipsis(name, 50, TenPerUnit), name);
    EXPECT_EQ(FitTextWithEllipsis(name, 49, TenPerUnit), QStringLiteral("가..."));
    EXPECT_EQ(FitTextWithEllipsis(QStringLiteral("가나다라마바사"), 60, TenPerUnit),
              QStringLiteral("가나다..."));
    // Nothing fits: the dots alone come back even though they are too wide.
    EXPECT_EQ(FitTextWithEllipsis(name, 10, TenPerUnit), QStringLiteral("..."));
    EXPECT_EQ(FitTextWithEllipsis(QString(), 0, TenPerUnit), QString());
}

TEST(FitTextWithEllipsis, NeverSplitsACharacterOutsideTheBasicPlane) {
    // "ab", a two-unit emoji, "cde": cutting units blindly would leave half the emoji.
    const QString text =
        QStringLiteral("ab") + QString::fromUcs4(U"\U0001F600") + QStringLiteral("cde");
    const QString fitted = FitTextWithEllipsis(text, 60, TenPerUnit);
    EXPECT_EQ(fitted, QStringLiteral("ab..."));
    for (QChar ch : fitted) EXPECT_FALSE(ch.isSurrogate());
}

TEST(FitTextWithEllipsis, LongKoreanNameInTheNameFont) {
    QImage device(1, 1, QImage::Format_ARGB32);
    const QFontMetrics metrics(ListNameFont(), &device);
    const int width = ComputeListColumns(440).NameColumn.Width;

    const QString longName =
        QStringLiteral("주식회사 한빛유통 서울특별시 강남구 테헤란로 본점 물류센터");
    ASSERT_GT(metrics.horizontalAdvance(longName), width);
    const QString fitted = FitTextWithEllipsis(longName, width, metrics);
    EXPECT_TRUE(fitted.endsWith(QStringLiteral("...")));
    EXPECT_LE(metrics.horizontalAdvance(fitted), width);
    EXPECT_TRUE(longName.startsWith(fitted.chopped(3)));
    // It is the longest such prefix: one more character would not fit.
    const QString oneMore = longName.left(fitted.size() - 3 + 1) + QStringLiteral("...");
    EXPECT_GT(metrics.horizontalAdvance(oneMore), width);

    const QString shortName = QStringLiteral("새벽마트");
    EXPECT_EQ(FitTextWithEllipsis(shortName, width, metrics), shortName);
}

}  // namespace
}  // namespace tidewell
