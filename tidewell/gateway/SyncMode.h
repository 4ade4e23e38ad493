#pragma once

#include <cstdint>

namespace tidewell {

// A row's transfer choice. The sign tells who chose (negative: the user, against the automatic
// decision); the magnitude tells the direction. SyncMode + 2 indexes the state images.
enum TSyncMode : std::int32_t {
    smUserDownload = -2,
    smUserUpload = -1,
    smNone = 0,
    smUpload = 1,
    smDownload = 2,
};

}  // namespace tidewell
