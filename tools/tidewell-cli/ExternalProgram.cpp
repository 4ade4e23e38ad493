#include "ExternalProgram.h"

#include <glib.h>
#include <sys/wait.h>

namespace tidewell::cli {

ProgramResult RunProgram(const std::vector<std::string>& arguments) {
    std::vector<gchar*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<gchar*>(a.c_str()));
    argv.push_back(nullptr);

    g_autofree gchar* output = nullptr;
    g_autofree gchar* errors = nullptr;
    g_autoptr(GError) error = nullptr;
    int waitStatus = 0;
    ProgramResult result;
    result.started =
        g_spawn_sync(nullptr, argv.data(), nullptr,
                     static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDIN_FROM_DEV_NULL),
                     nullptr, nullptr, &output, &errors, &waitStatus, &error);
    if (!result.started) {
        result.errors = error ? error->message : "";
        return result;
    }
    result.output = output ? output : "";
    result.errors = errors ? errors : "";
    result.exitStatus =
        WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
    return result;
}

}  // namespace tidewell::cli
