#include "Commands.h"

#include <signal.h>

#include <atomic>
#include <ctime>
#include <thread>

#include "AccountStore.h"
#include "DataFolder.h"
#include "WebFolderServer.h"

namespace tidewell::webfolder {

int RunServe(const ServeOptions& options, std::ostream& out) {
    // The signals are taken by one thread with sigwait; every other thread, including the
    // server's workers started later, inherits this mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    WebFolderServer server(options.dataFolder);
    const int port = server.Bind(options.host, options.port);
    out << port << std::endl;
    const std::string shownHost =
        options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host;
    StandardErrorSink()("tidewell-webfolder: serving http://" + shownHost + ":" +
                        std::to_string(port) + " from " + options.dataFolder.string());

    std::atomic<bool> finished{false};
    std::thread watcher([&] {
        bool stopping = false;
        while (!finished) {
            const timespec slice{0, 100'000'000};
            const int signal = sigtimedwait(&stopSignals, nullptr, &slice);
            if (signal == SIGTERM || signal == SIGINT) stopping = true;
            // Repeated until Run returns: a stop that comes before listening has begun is lost.
            if (stopping) server.Stop();
        }
    });
    server.Run();
    finished = true;
    watcher.join();
    StandardErrorSink()("tidewell-webfolder: stopped");
    return 0;
}

int RunAddUser(const AddUserOptions& options, std::ostream& out) {
    const DataFolder folder(options.dataFolder);
    const bool created =
        AccountStore(folder).Save(options.account, static_cast<std::int64_t>(std::time(nullptr)));
    out << (created ? "created" : "updated") << " account " << options.account.userId << std::endl;
    return 0;
}

}  // namespace tidewell::webfolder
