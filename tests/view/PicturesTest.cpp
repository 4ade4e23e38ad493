#include <gtest/gtest.h>

#include <QImage>

#include "platform/Error.h"
#include "view/Pictures.h"

namespace tidewell {
namespace {

int OpaquePixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) count += qAlpha(image.pixel(x, y)) > 0;
    return count;
}

TEST(Pictures, EveryNamedPictureLoadsAtItsSize) {
    struct Case {
        std::string_view name;
        QSize size;
    };
    std::vector<Case> cases;
    for (std::string_view name : kListImageNames) {
        cases.push_back({name, name.starts_with("SYNC_") ? QSize(13, 15) : QSize(43, 14)});
    }
    cases.push_back({kCompanyAddPicture, PictureSize(kCompanyAddPicture)});
    cases.push_back({kCompanyDeletePicture, PictureSize(kCompanyDeletePicture)});
    cases.push_back({kLogoPicture, PictureSize(kLogoPicture)});

    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.name));
        const QPixmap picture = LoadPicture(k.name);
        EXPECT_EQ(picture.size(), k.size);
        EXPECT_EQ(picture.devicePixelRatio(), 1.0);
        // Not blank: a broken resource renders as nothing at all.
        EXPECT_GT(OpaquePixels(picture.toImage()), k.size.width() * k.size.height() / 5);
    }
}

TEST(Pictures, UnknownNameIsAnError) {
    EXPECT_THROW(LoadPicture("SYNC_SIDEWAYS"), Exception);
    EXPECT_THROW(PictureSize(""), Exception);
}

TEST(Pictures, ListImagesAreAllDifferent) {
    std::vector<QImage> images;
    for (std::string_view name : kListImageNames) images.push_back(LoadPicture(name).toImage());
    for (std::size_t i = 0; i < images.size(); ++i)
        for (std::size_t j = i + 1; j < images.size(); ++j)
            EXPECT_NE(images[i], images[j]) << kListImageNames[i] << " " << kListImageNames[j];
}

TEST(Pictures, ListPicturesPickByModeHotAndLatest) {
    const TListPictures pictures = TListPictures::Load();
    auto same = [](const QPixmap& a, std::string_view name) {
        return a.toImage() == LoadPicture(name).toImage();
    };
    EXPECT_TRUE(same(pictures.SyncImage(smUserDownload, false), "SYNC_USERDOWNLOAD"));
    EXPECT_TRUE(same(pictures.SyncImage(smUserUpload, false), "SYNC_USERUPLOAD"));
    EXPECT_TRUE(same(pictures.SyncImage(smNone, false), "SYNC_NONE"));
    EXPECT_TRUE(same(pictures.SyncImage(smUpload, false), "SYNC_UPLOAD"));
    EXPECT_TRUE(same(pictures.SyncImage(smDownload, false), "SYNC_DOWNLOAD"));
    EXPECT_TRUE(same(pictures.SyncImage(smUserDownload, true), "SYNC_USERDOWNLOAD_HOT"));
    EXPECT_TRUE(same(pictures.SyncImage(smDownload, true), "SYNC_DOWNLOAD_HOT"));
    EXPECT_TRUE(same(pictures.RemoteImage(false), "DATA_REMOTE"));
    EXPECT_TRUE(same(pictures.RemoteImage(true), "DATA_REMOTE_LATEST"));
    EXPECT_TRUE(same(pictures.LocalImage(false), "DATA_LOCAL"));
    EXPECT_TRUE(same(pictures.LocalImage(true), "DATA_LOCAL_LATEST"));
    // A value outside the five modes (a damaged row) draws as "nothing to do", not past the set.
    EXPECT_TRUE(same(pictures.SyncImage(static_cast<TSyncMode>(7), false), "SYNC_NONE"));
    EXPECT_TRUE(same(pictures.SyncImage(static_cast<TSyncMode>(-3), true), "SYNC_NONE_HOT"));
}

}  // namespace
}  // namespace tidewell
