#include "DesktopNotification.h"

#include <gio/gio.h>

#include <cstring>

#include "SessionBusErrors.h"

namespace tidewell::cli {
namespace {

constexpr const char* kName = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr int kCallTimeoutMs = 10000;

// Servers that take markup read "<" and "&" in the body as markup; company names may hold them.
bool TakesMarkup(GDBusConnection* bus) {
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        bus, kName, kPath, kName, "GetCapabilities", nullptr, G_VARIANT_TYPE("(as)"),
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr);
    if (!reply) return false;
    g_autofree const gchar** capabilities = nullptr;
    g_variant_get(reply, "(^a&s)", &capabilities);
    for (const gchar** c = capabilities; c && *c; ++c) {
        if (std::strcmp(*c, "body-markup") == 0) return true;
    }
    return false;
}

}  // namespace

NotificationAnswer SendDesktopNotification(const std::string& title, const std::string& body) {
    g_autoptr(GError) error = nullptr;
    g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) return {false, SessionBusErrorText(error)};

    g_autofree gchar* text =
        TakesMarkup(bus) ? g_markup_escape_text(body.c_str(), -1) : g_strdup(body.c_str());
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(2));
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string("tidewell"));
    const gchar* const noActions[] = {nullptr};
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        bus, kName, kPath, kName, "Notify",
        g_variant_new("(susss^asa{sv}i)", "Tidewell", 0u, "tidewell", title.c_str(), text,
                      noActions, &hints, -1),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
    if (!reply) return {false, SessionBusErrorText(error)};
    return {true, {}};
}

}  // namespace tidewell::cli
