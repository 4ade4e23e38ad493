#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "AccountStore.h"
#include "ArchiveStore.h"
#include "DataFolder.h"
#include "GatewayCommands.h"
#include "RequestLog.h"

namespace httplib {
class Server;
struct Request;
struct Response;
class ContentReader;
}  // namespace httplib

namespace tidewell::webfolder {

inline constexpr char kGatewayPage[] = "/tidewellweb/gateway.asp";
inline constexpr char kUploadPage[] = "/tidewellweb/gwupload.asp";
inline constexpr char kDownloadPage[] = "/tidewellweb/gwdownload.asp";

// The web-folder service over HTTP: the three pages the client posts to and the web pages it
// opens. Requests run on a pool of worker threads; each uses its own database connection.
class WebFolderServer {
public:
    static constexpr std::size_t kMaxFormBytes = 16 * 1024;

    // Opens (and if need be creates) the data folder and repairs what an unclean stop left.
    explicit WebFolderServer(const std::filesystem::path& dataFolder,
                             RequestLog::Sink logSink = StandardErrorSink());
    WebFolderServer(const WebFolderServer&) = delete;
    WebFolderServer& operator=(const WebFolderServer&) = delete;
    ~WebFolderServer();

    // Binds the listening socket; port 0 picks a free one. Returns the port; raises Exception.
    int Bind(const std::string& host, int port);
    // Serves until Stop; requests under way are finished first.
    void Run();
    // May be called from any thread; a call that comes before Run has started listening is
    // lost, so callers repeat it until Run returns.
    void Stop();

private:
    void HandleForm(const httplib::Request& request, httplib::Response& response,
                    const httplib::ContentReader& reader, bool download);
    void HandleUpload(const httplib::Request& request, httplib::Response& response,
                      const httplib::ContentReader& reader);
    void Routes();
    // Sends a text reply and notes its STATUS for the log line.
    void Answer(const httplib::Request& request, httplib::Response& response, const Reply& reply,
                RequestNote note);

    DataFolder data_;
    FileHandle claim_;
    AccountStore accounts_;
    ArchiveStore archives_;
    GatewayCommands gateway_;
    RequestLog log_;
    std::unique_ptr<httplib::Server> http_;
};

}  // namespace tidewell::webfolder
