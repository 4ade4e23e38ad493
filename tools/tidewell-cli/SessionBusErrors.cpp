#include "SessionBusErrors.h"

#include <gio/gio.h>
#include <libsecret/secret.h>

namespace tidewell::cli {

std::string SessionBusErrorText(const GError* error) {
    if (!error) return "알 수 없는 오류";
    if (error->domain == SECRET_ERROR) {
        return error->code == SECRET_ERROR_IS_LOCKED ? "키링이 잠겨 있습니다"
                                                     : "키링을 쓸 수 없습니다";
    }
    if (error->domain == G_DBUS_ERROR) {
        switch (error->code) {
            case G_DBUS_ERROR_SERVICE_UNKNOWN:
            case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
                return "세션 버스에 이 일을 맡을 서비스가 없습니다";
            case G_DBUS_ERROR_NO_REPLY:
            case G_DBUS_ERROR_TIMEOUT:
            case G_DBUS_ERROR_TIMED_OUT:
                return "서비스가 제때 답하지 않았습니다";
            case G_DBUS_ERROR_ACCESS_DENIED:
            case G_DBUS_ERROR_AUTH_FAILED:
                return "서비스가 요청을 거절했습니다";
            default:
                return "세션 버스의 서비스가 요청을 처리하지 못했습니다";
        }
    }
    if (error->domain == G_IO_ERROR) {
        // No bus at all: no desktop session (a server, a remote login, cron without one).
        return "세션 버스(D-Bus)에 연결할 수 없습니다. 바탕화면 세션 밖에서 실행했습니다";
    }
    return "세션 버스를 쓸 수 없습니다";
}

}  // namespace tidewell::cli
