#pragma once

#include <string>

namespace tidewell::cli {

struct NotificationAnswer {
    bool sent = false;
    std::string error;  // why not, when not sent
};

// One notification through org.freedesktop.Notifications on the session bus. It stays until
// the user dismisses it (critical urgency): a backup that failed must not slip by unseen.
NotificationAnswer SendDesktopNotification(const std::string& title, const std::string& body);

}  // namespace tidewell::cli
