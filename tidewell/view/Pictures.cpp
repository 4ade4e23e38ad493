#include "view/Pictures.h"

#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

#include <mutex>
#include <string>

#include "platform/Error.h"

// Resources of a static library are registered by hand; the linker would drop them otherwise.
static void InitPictureResources() {
    Q_INIT_RESOURCE(pictures);
}

namespace tidewell {

namespace {

struct PictureEntry {
    std::string_view Name;
    QSize Size;
};

constexpr QSize kSyncSize(13, 15);
constexpr QSize kDataSize(43, 14);
constexpr QSize kCompanyButtonSize(24, 24);
constexpr QSize kLogoSize(180, 56);

const PictureEntry kPictures[] = {
    {"SYNC_USERDOWNLOAD", kSyncSize},   {"SYNC_USERUPLOAD", kSyncSize},
    {"SYNC_NONE", kSyncSize},           {"SYNC_UPLOAD", kSyncSize},
    {"SYNC_DOWNLOAD", kSyncSize},       {"SYNC_USERDOWNLOAD_HOT", kSyncSize},
    {"SYNC_USERUPLOAD_HOT", kSyncSize}, {"SYNC_NONE_HOT", kSyncSize},
    {"SYNC_UPLOAD_HOT", kSyncSize},     {"SYNC_DOWNLOAD_HOT", kSyncSize},
    {"SYNC_CONFLICT", kSyncSize},       {"SYNC_CONFLICT_HOT", kSyncSize},
    {"DATA_REMOTE", kDataSize},         {"DATA_LOCAL", kDataSize},
    {"DATA_REMOTE_LATEST", kDataSize},  {"DATA_LOCAL_LATEST", kDataSize},
    {"COMPANYADD", kCompanyButtonSize}, {"COMPANYDELETE", kCompanyButtonSize},
    {"REFRESH", kCompanyButtonSize},    {"LOGO_QUENLOW", kLogoSize},
};

const PictureEntry* FindPicture(std::string_view name) {
    for (const PictureEntry& entry : kPictures) {
        if (entry.Name == name) return &entry;
    }
    return nullptr;
}

const PictureEntry& RequirePicture(std::string_view name) {
    const PictureEntry* entry = FindPicture(name);
    if (!entry) throw Exception("Unknown picture: " + std::string(name));
    return *entry;
}

// The named resource drawn at the given pixel size on a transparent background.
QPixmap RenderPicture(std::string_view name, QSize size) {
    static std::once_flag once;
    std::call_once(once, InitPictureResources);

    const QString resource =
        QStringLiteral(":/pictures/") + QString::fromUtf8(name.data(), name.size());
    QSvgRenderer renderer(resource);
    if (!renderer.isValid()) throw Exception("Can not render picture: " + std::string(name));

    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    painter.end();
    return QPixmap::fromImage(image);
}

constexpr int kRemoteIndex = 10;
constexpr int kLocalIndex = 11;
constexpr int kLatestOffset = 2;
constexpr int kHotOffset = 5;

}  // namespace

QSize PictureSize(std::string_view name) {
    return RequirePicture(name).Size;
}

QPixmap LoadPicture(std::string_view name) {
    return RenderPicture(name, RequirePicture(name).Size);
}

QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : kProgramIconSizes) {
        icon.addPixmap(
            RenderPicture(size <= kLargestSmallIconSize ? "PROGRAM_ICON_SMALL" : "PROGRAM_ICON",
                          QSize(size, size)));
    }
    return icon;
}

TListPictures TListPictures::Load() {
    TListPictures pictures;
    for (std::size_t i = 0; i < kListImageNames.size(); ++i) {
        pictures.images_[i] = LoadPicture(kListImageNames[i]);
    }
    pictures.conflict_ = LoadPicture(kConflictPicture);
    pictures.conflictHot_ = LoadPicture(kConflictHotPicture);
    return pictures;
}

const QPixmap& TListPictures::SyncImage(TSyncMode mode, bool hot) const {
    int index = static_cast<int>(mode) + 2;
    // A value outside the enumeration would read past the five images; show "nothing to do".
    if (index < 0 || index >= kHotOffset) index = smNone + 2;
    return images_[index + (hot ? kHotOffset : 0)];
}

const QPixmap& TListPictures::RemoteImage(bool latest) const {
    return images_[kRemoteIndex + (latest ? kLatestOffset : 0)];
}

const QPixmap& TListPictures::LocalImage(bool latest) const {
    return images_[kLocalIndex + (latest ? kLatestOffset : 0)];
}

}  // namespace tidewell
