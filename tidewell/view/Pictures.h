#pragma once

// The program's pictures: SVG sources compiled into the resources under their names, rendered
// once at their fixed pixel sizes.

#include <QIcon>
#include <QPixmap>
#include <QSize>

#include <array>
#include <string_view>

#include "gateway/SyncMode.h"

namespace tidewell {

// The list images in their load order: five state images indexed by SyncMode + 2, the same five
// for the hot row, then the web-folder and local lines with their "latest" variants.
inline constexpr std::array<std::string_view, 14> kListImageNames = {
    "SYNC_USERDOWNLOAD",  "SYNC_USERUPLOAD",       "SYNC_NONE",           "SYNC_UPLOAD",
    "SYNC_DOWNLOAD",      "SYNC_USERDOWNLOAD_HOT", "SYNC_USERUPLOAD_HOT", "SYNC_NONE_HOT",
    "SYNC_UPLOAD_HOT",    "SYNC_DOWNLOAD_HOT",     "DATA_REMOTE",         "DATA_LOCAL",
    "DATA_REMOTE_LATEST", "DATA_LOCAL_LATEST",
};

// Both sides changed since they last agreed: the state image of such a row, plain and hot.
inline constexpr std::string_view kConflictPicture = "SYNC_CONFLICT";
inline constexpr std::string_view kConflictHotPicture = "SYNC_CONFLICT_HOT";

inline constexpr std::string_view kLogoPicture = "LOGO_QUENLOW";
inline constexpr std::string_view kCompanyAddPicture = "COMPANYADD";
inline constexpr std::string_view kCompanyDeletePicture = "COMPANYDELETE";
inline constexpr std::string_view kRefreshPicture = "REFRESH";

// Pixel size of a named picture; raises Exception for a name the program does not have.
QSize PictureSize(std::string_view name);

// The named picture at its pixel size on a transparent background; raises Exception when the
// name is unknown or its resource can not be rendered.
QPixmap LoadPicture(std::string_view name);

// The window's icon at the sizes title bars, task lists and window switchers ask for (the menu
// entry's come from the same drawings, cmake/Install.cmake). Up to 24 px it is drawn from a
// plainer picture, whose waves stay apart at that size.
inline constexpr std::array<int, 7> kProgramIconSizes = {16, 22, 24, 32, 48, 64, 128};
inline constexpr int kLargestSmallIconSize = 24;
QIcon ProgramIcon();

// The 14 list images, loaded once at window creation.
class TListPictures {
public:
    static TListPictures Load();

    const QPixmap& SyncImage(TSyncMode mode, bool hot) const;
    const QPixmap& ConflictImage(bool hot) const { return hot ? conflictHot_ : conflict_; }
    const QPixmap& RemoteImage(bool latest) const;
    const QPixmap& LocalImage(bool latest) const;

private:
    std::array<QPixmap, kListImageNames.size()> images_;
    QPixmap conflict_;
    QPixmap conflictHot_;
};

}  // namespace tidewell
