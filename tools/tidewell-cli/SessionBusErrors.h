#pragma once

#include <glib.h>

#include <string>

namespace tidewell::cli {

// What a GLib error of the session bus, the keyring or the notification service means, in
// Korean: the messages around it are Korean, and the libraries' own texts are English.
std::string SessionBusErrorText(const GError* error);

}  // namespace tidewell::cli
