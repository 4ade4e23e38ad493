#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <QFontInfo>

#include "view/Fonts.h"
#include "view/RowPainter.h"

namespace tidewell {
namespace {

const QRect kRow(0, 0, 440, 37);

class RowPainterTest : public testing::Test {
protected:
    TListPictures pictures = TListPictures::Load();
    TListColumns columns = ComputeListColumns(440);

    QImage Paint(const TCompanyRowView& row) {
        QImage image(kRow.size(), QImage::Format_ARGB32);
        image.fill(Qt::magenta);  // anything left unpainted stands out
        QPainter painter(&image);
        PaintCompanyRow(painter, kRow, row, TRowPaintContext{columns, pictures, Qt::black});
        return image;
    }

    // What a picture looks like drawn unscaled over the row's background.
    static QImage Composited(const QPixmap& picture, const QColor& background) {
        QImage expected(picture.size(), QImage::Format_ARGB32);
        expected.fill(background);
        QPainter painter(&expected);
        painter.drawPixmap(0, 0, picture);
        return expected;
    }

    static bool ShowsPictureAt(const QImage& image, QPoint at, const QPixmap& picture,
                               const QColor& background) {
        return image.copy(QRect(at, picture.size())) == Composited(picture, background);
    }

    static int CountPixels(const QImage& image, const QRect& area,
                           const std::function<bool(QColor)>& match) {
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                count += match(image.pixelColor(x, y));
        return count;
    }

    static bool Blue(QColor c) { return c.blue() > 200 && c.red() < 90 && c.green() < 90; }
    static bool Dark(QColor c) { return c.lightness() < 110; }
};

TCompanyRowView SampleRow() {
    TCompanyRowView row;
    row.CompanyName = "새벽마트";
    row.SyncMode = smDownload;
    row.DecidedMode = smDownload;
    row.LatestFileTime = EncodeDateTime({2024, 5, 1, 10, 30, 0});
    row.LocalPath = "/srv/새벽마트";
    row.LocalModified = EncodeDateTime({2024, 4, 1, 9, 0, 0});
    return row;
}

TEST(RowFonts, DesignFaceIsSubstitutedAtTheGivenSizes) {
    for (const QFont& font : {ListNameFont(), ListCaptionFont(), ListDateFont()}) {
        EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("NanumGothic"));
    }
    EXPECT_EQ(ListNameFont().pointSize(), 10);
    EXPECT_TRUE(ListNameFont().bold());
    EXPECT_EQ(ListCaptionFont().pointSize(), 9);
    EXPECT_FALSE(ListCaptionFont().bold());
    EXPECT_EQ(ListDateFont().pointSize(), 8);
}

TEST_F(RowPainterTest, HotRowHasItsBackgroundFrameAndSeparator) {
    TCompanyRowView row = SampleRow();
    row.Hot = true;
    const QImage image = Paint(row);

    EXPECT_EQ(image.pixelColor(60, 3), kHotRowBackground);
    EXPECT_EQ(image.pixelColor(150, 30), kHotRowBackground);
    // The frame sits on columns 0 and 438 and rows 0 and 35.
    for (QPoint p : {QPoint(0, 0), QPoint(438, 0), QPoint(0, 35), QPoint(438, 35), QPoint(438, 20),
                     QPoint(120, 35)}) {
        EXPECT_EQ(image.pixelColor(p), kHotRowFrame) << p.x() << "," << p.y();
    }
    EXPECT_EQ(image.pixelColor(439, 20), kHotRowBackground);
    for (int x = 0; x < 440; ++x) ASSERT_EQ(image.pixelColor(x, 36), kRowSeparator) << x;
}

TEST_F(RowPainterTest, PlainRowIsWhiteWithoutFrame) {
    const QImage image = Paint(SampleRow());
    for (QPoint p : {QPoint(0, 0), QPoint(438, 0), QPoint(0, 35), QPoint(60, 3), QPoint(439, 20)}) {
        EXPECT_EQ(image.pixelColor(p), kRowBackground) << p.x() << "," << p.y();
    }
    for (int x = 0; x < 440; ++x) ASSERT_EQ(image.pixelColor(x, 36), kRowSeparator) << x;
}

TEST_F(RowPainterTest, StateImageOfTheModeAndTheHotSet) {
    for (TSyncMode mode : {smUserDownload, smUserUpload, smNone, smUpload, smDownload}) {
        for (bool hot : {false, true}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " hot " << hot);
            TCompanyRowView row = SampleRow();
            row.SyncMode = mode;
            row.Hot = hot;
            const QImage image = Paint(row);
            const QColor background = hot ? kHotRowBackground : kRowBackground;
            EXPECT_TRUE(
                ShowsPictureAt(image, {200, 10}, pictures.SyncImage(mode, hot), background));
            EXPECT_GT(CountPixels(image, QRect(200, 10, 13, 15),
                                  [&](QColor c) { return c != background; }),
                      20);
        }
    }
}

TEST_F(RowPainterTest, LatestDataImageFollowsTheDecision) {
    struct Case {
        TSyncMode decided;
        bool remoteLatest;
        bool localLatest;
    };
    for (const Case& k :
         {Case{smDownload, true, false}, Case{smUpload, false, true}, Case{smNone, false, false}}) {
        SCOPED_TRACE(testing::Message() << "decided " << k.decided);
        TCompanyRowView row = SampleRow();
        row.DecidedMode = k.decided;
        row.SyncMode =
            k.decided == smNone ? smUserUpload : k.decided;  // the choice does not matter
        const QImage image = Paint(row);
        EXPECT_TRUE(
            ShowsPictureAt(image, {275, 3}, pictures.RemoteImage(k.remoteLatest), kRowBackground));
        EXPECT_TRUE(
            ShowsPictureAt(image, {275, 19}, pictures.LocalImage(k.localLatest), kRowBackground));
    }
}

TEST_F(RowPainterTest, StateCaptionIsBlackForNothingToDoAndBlueOtherwise) {
    const QRect captionBand(214, 0, 57, 36);
    TCompanyRowView row = SampleRow();
    row.SyncMode = smNone;
    QImage image = Paint(row);
    EXPECT_EQ(CountPixels(image, captionBand, Blue), 0);
    EXPECT_GT(CountPixels(image, captionBand, Dark), 10);

    for (TSyncMode mode : {smUpload, smUserUpload, smDownload, smUserDownload}) {
        row.SyncMode = mode;
        image = Paint(row);
        EXPECT_GT(CountPixels(image, captionBand, Blue), 10) << mode;
    }
    EXPECT_EQ(SyncStateCaption(smNone), QStringLiteral("필요없음"));
    EXPECT_EQ(SyncStateCaption(smUserUpload), QStringLiteral("올리기"));
    EXPECT_EQ(SyncStateCaption(smUpload), QStringLiteral("올리기"));
    EXPECT_EQ(SyncStateCaption(smDownload), QStringLiteral("내려받기"));
    EXPECT_EQ(SyncStateCaption(smUserDownload), QStringLiteral("내려받기"));
}

TEST_F(RowPainterTest, DataLineTexts) {
    TCompanyRowView row = SampleRow();
    EXPECT_EQ(RemoteLineText(row), QStringLiteral("2024-05-01 10:30:00"));
    EXPECT_EQ(LocalLineText(row), QStringLiteral("2024-04-01 09:00:00"));
    row.WebInFuture = true;  // a clock was wrong: the time says so
    EXPECT_EQ(RemoteLineText(row), QStringLiteral("2024-05-01 (미래)"));

    row.LatestFileTime = 0;
    EXPECT_EQ(RemoteLineText(row), QString());
    row.LocalModified = 0;
    EXPECT_EQ(LocalLineText(row), QStringLiteral("<새 사업장>"));
    row.LocalPath.clear();
    EXPECT_EQ(LocalLineText(row), QStringLiteral("<폴더를 선택하세요>"));
    // The prompt wins over a stale time: without a folder there is nothing to date.
    row.LocalModified = EncodeDateTime({2024, 4, 1, 9, 0, 0});
    EXPECT_EQ(LocalLineText(row), QStringLiteral("<폴더를 선택하세요>"));
}

TEST_F(RowPainterTest, WebFolderLineWithoutArchiveHasNoDate) {
    const QRect remoteText(322, 4, 114, 12);
    TCompanyRowView row = SampleRow();
    EXPECT_GT(CountPixels(Paint(row), remoteText, Dark), 10);
    row.LatestFileTime = 0;
    EXPECT_EQ(CountPixels(Paint(row), remoteText, Dark), 0);
}

TEST_F(RowPainterTest, FolderPromptUnderPointerIsUnderlinedInBlue) {
    const QRect localText(322, 20, 114, 13);
    TCompanyRowView row = SampleRow();
    row.LocalPath.clear();
    row.LocalModified = 0;
    QImage image = Paint(row);
    EXPECT_EQ(CountPixels(image, localText, Blue), 0);
    EXPECT_GT(CountPixels(image, localText, Dark), 10);

    row.PointerOverFolderLink = true;
    image = Paint(row);
    EXPECT_GT(CountPixels(image, localText, Blue), 10);
    // The underline: one pixel row inside the band that is blue across most of the prompt.
    int longestBlueRow = 0;
    for (int y = localText.top(); y <= localText.bottom(); ++y) {
        longestBlueRow = std::max(longestBlueRow, CountPixels(image, QRect(322, y, 114, 1), Blue));
    }
    EXPECT_GT(longestBlueRow, 60);
}

TEST_F(RowPainterTest, LongNameStaysInsideItsBand) {
    TCompanyRowView row = SampleRow();
    row.CompanyName = "주식회사 한빛유통 서울특별시 강남구 테헤란로 본점 물류센터 제2창고";
    row.SyncMode = smNone;
    const QImage image = Paint(row);
    EXPECT_GT(CountPixels(image, QRect(24, 0, 176, 36), Dark), 50);
    // Right of the name band only the state image is drawn: nothing of the name spills over.
    EXPECT_TRUE(
        ShowsPictureAt(image, {200, 10}, pictures.SyncImage(smNone, false), kRowBackground));
    EXPECT_EQ(CountPixels(image, QRect(200, 0, 14, 10), Dark), 0);
    EXPECT_EQ(CountPixels(image, QRect(200, 25, 14, 11), Dark), 0);
    EXPECT_EQ(CountPixels(image, QRect(213, 0, 1, 36), Dark), 0);
}

// Both sides changed: its own picture and an orange caption instead of the direction's.
TEST_F(RowPainterTest, ARowChangedOnBothSidesShowsItsOwnStateAndCaption) {
    TCompanyRowView row = SampleRow();
    row.BothChanged = true;
    const QImage image = Paint(row);
    const QPoint at(columns.StateColumn.Left, 10);
    EXPECT_TRUE(ShowsPictureAt(image, at, pictures.ConflictImage(false), kRowBackground));
    EXPECT_FALSE(ShowsPictureAt(image, at, pictures.SyncImage(smDownload, false), kRowBackground));
    const QRect caption(columns.StateColumn.Left + 14, 0, columns.StateColumn.Width - 18, 36);
    EXPECT_EQ(CountPixels(image, caption, Blue), 0);
    EXPECT_GT(CountPixels(image, caption,
                          [](QColor c) { return c.red() > c.green() + 40 && c.red() > c.blue() + 80; }),
              20);
}

}  // namespace
}  // namespace tidewell
