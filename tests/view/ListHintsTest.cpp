#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include "view/Fonts.h"
#include "view/ListHints.h"

namespace tidewell {
namespace {

TEST(ListHints, TextsByAreaAndMode) {
    const std::string path = "/srv/회사/본점";
    struct Case {
        TListArea area;
        TSyncMode mode;
        const char* text;
    };
    const Case cases[] = {
        {TListArea::laSyncButton, smUserDownload, "내컴퓨터로 파일을 다운로드 합니다."},
        {TListArea::laSyncButton, smUserUpload, "웹폴더로 파일을 업로드 합니다."},
        {TListArea::laSyncButton, smUpload,
         "내컴퓨터에 최신 파일이 있습니다. 전송시 파일을 업로드 합니다."},
        {TListArea::laSyncButton, smDownload,
         "웹폴더에 최신 파일이 있습니다. 전송시 파일을 다운로드 합니다."},
        {TListArea::laSyncButton, smNone,
         "웹폴더와 내컴퓨터의 자료가 동일합니다. 파일을 전송할 필요가 없습니다."},
        {TListArea::laFolderLink, smUpload, "폴더위치: /srv/회사/본점"},
        {TListArea::laFolderLink, smNone, "폴더위치: /srv/회사/본점"},
        {TListArea::laNone, smUpload, ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.text);
        EXPECT_EQ(ListHintText(k.area, k.mode, path), QString::fromUtf8(k.text));
    }
}

TEST(ListHints, AShortenedNameHasItsWholeNameAsHint) {
    const std::string name = "아주 길고 긴 이름을 가진 우리 동네 바코드 할인 마트 본점";
    const int whole = QFontMetrics(ListNameFont()).horizontalAdvance(QString::fromStdString(name));
    EXPECT_EQ(ShortenedNameHint(name, whole - 1), QString::fromStdString(name));
    EXPECT_EQ(ShortenedNameHint(name, whole), QString());
    EXPECT_EQ(OneLineHintSize(100), QSize(120, 30));
}

TEST(ListHints, SizeOfEachHint) {
    QImage device(1, 1, QImage::Format_ARGB32);
    const QFontMetrics metrics(ListCaptionFont(), &device);
    const TTextWidthFunction widthOf = [&](const QString& t) { return TextWidthOf(metrics, t); };
    const std::string path = "/home/점주/Quenlow Barcode/사업장 01";

    EXPECT_EQ(ListHintSize(TListArea::laSyncButton, true, path, widthOf), QSize(300, 40));

    const QSize folder = ListHintSize(TListArea::laFolderLink, true, path, widthOf);
    EXPECT_EQ(folder.width(), metrics.horizontalAdvance(QString::fromUtf8("폴더위치: ") +
                                                        QString::fromStdString(path)) +
                                  20);
    EXPECT_EQ(folder.height(), 30);

    // No company behind the row, or no area under the pointer: no hint at all.
    EXPECT_TRUE(ListHintSize(TListArea::laSyncButton, false, path, widthOf).isEmpty());
    EXPECT_TRUE(ListHintSize(TListArea::laFolderLink, false, path, widthOf).isEmpty());
    EXPECT_TRUE(ListHintSize(TListArea::laNone, true, path, widthOf).isEmpty());
}

TEST(ListHints, PaintsFrameBackgroundAndInsetText) {
    const QColor background(255, 255, 225);
    QImage image(300, 40, QImage::Format_ARGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        PaintListHint(painter, image.rect(), ListHintText(TListArea::laSyncButton, smNone, ""),
                      ListCaptionFont(), background);
    }
    for (QPoint corner : {QPoint(0, 0), QPoint(299, 0), QPoint(0, 39), QPoint(299, 39)}) {
        EXPECT_EQ(image.pixelColor(corner), QColor(Qt::black));
    }
    EXPECT_EQ(image.pixelColor(4, 4), background);  // inside the frame, before the text inset

    // Text starts 8 px in: nothing dark in the inset strip, dark pixels after it.
    int darkInInset = 0, darkInText = 0;
    for (int y = 1; y < 39; ++y) {
        for (int x = 1; x < 299; ++x) {
            const bool dark = image.pixelColor(x, y).lightness() < 128;
            if (x < 8 || y < 8)
                darkInInset += dark;
            else
                darkInText += dark;
        }
    }
    EXPECT_EQ(darkInInset, 0);
    EXPECT_GT(darkInText, 50);

    QImage untouched(50, 20, QImage::Format_ARGB32);
    untouched.fill(Qt::white);
    {
        QPainter painter(&untouched);
        PaintListHint(painter, untouched.rect(), QString(), ListCaptionFont(), background);
    }
    EXPECT_EQ(untouched.pixelColor(0, 0), QColor(Qt::white));
    EXPECT_EQ(untouched.pixelColor(25, 10), QColor(Qt::white));
}

}  // namespace
}  // namespace tidewell
