#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "AccountStore.h"
#include "ArchiveStore.h"
#include "Authenticator.h"
#include "Backend.h"
#include "GatewayCommands.h"
#include "HttpDaemon.h"
#include "RequestLog.h"

namespace tidewell::webfolder {

inline constexpr char kGatewayPage[] = "/tidewellweb/gateway.asp";
inline constexpr char kUploadPage[] = "/tidewellweb/gwupload.asp";
inline constexpr char kDownloadPage[] = "/tidewellweb/gwdownload.asp";

// How a service runs: its limits against clients and the rules of what it stores.
struct ServiceSettings {
    HttpLimits http;
    StoreRules store;
    int passwordIterations = kPasswordIterations;
    BackendTuning backend;
    // How often a serving process does its housekeeping (Backend::Sweep); the first time one
    // interval after the start.
    std::chrono::seconds sweepInterval{600};
};

// The web-folder service over HTTP: the three pages the client posts to and the web pages it
// opens.
class WebFolderServer {
public:
    static constexpr std::size_t kMaxFormBytes = 16 * 1024;

    // Opens (and if need be creates) where accounts and archives are kept, and clears what an
    // unclean stop left.
    WebFolderServer(const StoreLocation& location, ServiceSettings settings = {},
                    RequestLog::Sink logSink = StandardErrorSink());
    WebFolderServer(const WebFolderServer&) = delete;
    WebFolderServer& operator=(const WebFolderServer&) = delete;
    ~WebFolderServer();

    // Starts serving on the address; port 0 picks a free one. Returns the port; raises
    // Exception.
    int Listen(const std::string& host, int port);
    // Takes no new connections and finishes the requests under way.
    void Stop();

private:
    std::unique_ptr<RequestHandler> Route(const HttpRequest& request);
    HttpResponse DownloadAnswer(const LoginResult& login, const FormFields& form,
                                RequestNote& note) const;

    void SweepNow();

    ServiceSettings settings_;
    RequestLog log_;
    std::unique_ptr<Backend> backend_;
    AccountStore accounts_;
    ArchiveStore archives_;
    Authenticator authenticator_;
    GatewayCommands gateway_;
    std::unique_ptr<HttpDaemon> http_;
    // Housekeeping between requests, on a thread of its own; stopped before the daemon.
    std::mutex sweepMutex_;
    std::condition_variable sweepWake_;
    bool stopping_ = false;
    std::thread sweeper_;
};

}  // namespace tidewell::webfolder
