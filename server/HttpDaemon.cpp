#include "HttpDaemon.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "Reply.h"
#include "TextRules.h"
#include "platform/Error.h"

namespace tidewell::webfolder {
namespace {

using Clock = std::chrono::steady_clock;

// Reply bodies from archives go out in blocks this large.
constexpr std::size_t kFileBlockBytes = 256 * 1024;

std::string AddressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address == nullptr) return {};
    if (address->sa_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                    sizeof text);
    } else if (address->sa_family == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
                    sizeof text);
    }
    return text;
}

bool IsAddressLiteral(const std::string& text) {
    unsigned char buffer[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
           ::inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

HttpResponse TextAnswer(int status, ReplyStatus replyStatus, std::string message) {
    HttpResponse response;
    response.status = status;
    response.contentType = kReplyContentType;
    response.body = Reply(replyStatus, std::move(message)).Encode();
    return response;
}

const char* Outcome(MHD_RequestTerminationCode how) {
    switch (how) {
        case MHD_REQUEST_TERMINATED_COMPLETED_OK:
            return "";
        case MHD_REQUEST_TERMINATED_TIMEOUT_REACHED:
            return "timeout";
        case MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN:
            return "shutdown";
        case MHD_REQUEST_TERMINATED_CLIENT_ABORT:
        case MHD_REQUEST_TERMINATED_READ_ERROR:
            return "cut";
        default:
            return "failed";
    }
}

// Holds up a reply whose reader has nothing ready: the connection is suspended from within
// the library's call for content, the only safe place, and resumed from whichever thread the
// bytes arrive on.
class SuspendedReply : public ReadWaiter {
public:
    explicit SuspendedReply(MHD_Connection* connection) : connection_(connection) {}
    void Suspend() override { MHD_suspend_connection(connection_); }
    void Resume() override { MHD_resume_connection(connection_); }

private:
    MHD_Connection* connection_;
};

// Counts the reply bytes handed to the socket, for the log.
struct ReplyReader {
    std::shared_ptr<ArchiveReader> reader;
    std::shared_ptr<ReadWaiter> waiter;
    std::shared_ptr<std::atomic<std::uint64_t>> sent;
};

ssize_t ReadReplyBlock(void* cls, std::uint64_t position, char* buffer, std::size_t max) {
    auto& reply = *static_cast<ReplyReader*>(cls);
    const std::int64_t got = reply.reader->Read(position, buffer, max, reply.waiter);
    if (got == ArchiveReader::kNotReady) return 0;
    if (got < 0) return MHD_CONTENT_READER_END_WITH_ERROR;
    *reply.sent += static_cast<std::uint64_t>(got);
    return static_cast<ssize_t>(got);
}

void FreeReplyReader(void* cls) {
    delete static_cast<ReplyReader*>(cls);
}

MHD_Result CountContentLength(void* cls, MHD_ValueKind, const char* key, const char*) {
    if (LowerAscii(key ? key : "") == "content-length") ++*static_cast<int*>(cls);
    return MHD_YES;
}

// Whether a header's comma-separated value holds the token, in any letter case.
bool HasToken(const char* value, std::string_view token) {
    if (value == nullptr) return false;
    std::string_view rest(value);
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        std::string_view item = rest.substr(0, comma);
        while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
        if (LowerAscii(item) == token) return true;
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return false;
}

}  // namespace

Taken FixedAnswer::Data(const char*, std::size_t size) {
    drained_ += size;
    return {size, {}, drained_ > kMaxDrainBytes};
}

bool AddressSlots::TryTake(const std::string& address) {
    std::lock_guard lock(mutex_);
    unsigned& open = open_[address];
    if (open >= perAddress_) return false;
    ++open;
    return true;
}

void AddressSlots::Give(const std::string& address) {
    std::lock_guard lock(mutex_);
    const auto found = open_.find(address);
    if (found == open_.end()) return;
    if (--found->second == 0) open_.erase(found);
}

// One connection: the address whose place it holds, until it gives the place back.
struct HttpDaemon::Connection {
    std::string address;
    bool holdsPlace = true;
};

// One request from its request line to the end of its reply.
struct HttpDaemon::Request {
    HttpRequest request;
    std::string rawUri;
    std::unique_ptr<RequestHandler> handler;
    bool begun = false;
    bool finished = false;      // the body is complete
    bool keepAlive = false;     // the connection takes another request after this one
    bool answerAtOnce = false;  // the body is not read
    std::exception_ptr failure;
    Clock::time_point start = Clock::now();
    int status = 0;
    RequestNote note;
    std::uint64_t bodyBytes = 0;
    std::shared_ptr<std::atomic<std::uint64_t>> fileBytes;
};

// The library's callbacks, with its exact signatures.
struct DaemonCallbacks {
    static MHD_Result Admit(void* cls, const sockaddr* address, socklen_t) {
        auto& daemon = *static_cast<HttpDaemon*>(cls);
        // The place is taken here and handed to the connection when the library starts it.
        // (Should the library fail to set up an admitted connection for want of memory, that
        // place stays taken until the service restarts.)
        return daemon.slots_.TryTake(AddressText(address)) ? MHD_YES : MHD_NO;
    }

    static void* BeginRequest(void* cls, const char* uri, MHD_Connection* connection) {
        auto& daemon = *static_cast<HttpDaemon*>(cls);
        auto request = std::make_unique<HttpDaemon::Request>();
        request->rawUri = uri ? uri : "";
        request->request.remote = daemon.ClientAddress(connection);
        return request.release();
    }

    static std::unique_ptr<RequestHandler> Route(HttpDaemon& daemon, MHD_Connection* connection,
                                                 HttpDaemon::Request& request) {
        int lengths = 0;
        MHD_get_connection_values(connection, MHD_HEADER_KIND, &CountContentLength, &lengths);
        if (lengths > 1) {
            // Two lengths leave the body's end in doubt: answer at once and hang up.
            HttpResponse answer =
                TextAnswer(400, ReplyStatus::BadRequest, "Content-Length 헤더가 여러 번 왔습니다.");
            answer.close = true;
            request.answerAtOnce = true;
            return std::make_unique<FixedAnswer>(std::move(answer));
        }
        const int headers =
            MHD_get_connection_values(connection, MHD_HEADER_KIND, nullptr, nullptr);
        if (headers < 0 || static_cast<unsigned>(headers) > daemon.limits_.maxHeaders) {
            return std::make_unique<FixedAnswer>(
                TextAnswer(431, ReplyStatus::BadRequest, "요청 헤더가 너무 많습니다."));
        }
        return daemon.router_(request.request);
    }

    static MHD_Result Access(void* cls, MHD_Connection* connection, const char* url,
                             const char* method, const char* version, const char* data,
                             std::size_t* size, void** context) {
        auto& daemon = *static_cast<HttpDaemon*>(cls);
        auto* request = static_cast<HttpDaemon::Request*>(*context);
        if (request == nullptr) return MHD_NO;
        try {
            if (!request->begun) {
                if (daemon.stopping_) return MHD_NO;
                request->begun = true;
                ++daemon.requestsUnderWay_;
                daemon.watch_.HeadArrived(connection);
                request->request.method = method;
                request->request.path = url;
                const char* type =
                    MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Type");
                request->request.contentType = type ? type : "";
                if (const std::string remote = daemon.ForwardedAddress(connection, *request);
                    !remote.empty()) {
                    request->request.remote = remote;
                }
                const char* connectionHeader =
                    MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Connection");
                request->keepAlive = std::string_view(version ? version : "") == "HTTP/1.1" &&
                                     !HasToken(connectionHeader, "close");
                request->handler = Route(daemon, connection, *request);
                return request->answerAtOnce ? Answer(daemon, *request, connection) : MHD_YES;
            }
            if (request->failure) Fail(*request);
            if (*size > 0) {
                const Taken taken = request->handler->Data(data, *size);
                if (taken.close) return MHD_NO;
                *size -= taken.bytes;
                daemon.watch_.BodyProgress(connection, taken.bytes);
                if (taken.work) daemon.Pause(*request, connection, taken.work);
                return MHD_YES;
            }
            if (!request->finished) {
                request->finished = true;
                daemon.watch_.BodyDone(connection);
                if (Work work = request->handler->Finish()) {
                    daemon.Pause(*request, connection, std::move(work));
                    return MHD_YES;
                }
            }
            return Answer(daemon, *request, connection);
        } catch (const std::exception& error) {
            request->note.Add("error", error.what());
        }
        // The answer waits for the end of the body, which is read and dropped meanwhile.
        Fail(*request);
        if (*size > 0) {
            *size = 0;
            return MHD_YES;
        }
        return Answer(daemon, *request, connection);
    }

    // Work that ended in an error: the request is answered 500 once its body is in.
    static void Fail(HttpDaemon::Request& request) {
        if (request.failure) {
            try {
                std::rethrow_exception(request.failure);
            } catch (const std::exception& error) {
                request.note.Add("error", error.what());
            } catch (...) {
                request.note.Add("error", "unknown");
            }
            request.failure = nullptr;
        }
        request.handler = std::make_unique<FixedAnswer>(TextAnswer(
            500, ReplyStatus::ServerError, std::string(StatusMessage(ReplyStatus::ServerError))));
    }

    static MHD_Result Answer(HttpDaemon& daemon, HttpDaemon::Request& request,
                             MHD_Connection* connection) {
        HttpResponse answer = request.handler->Answer();
        request.status = answer.status;
        auto keepError = std::move(request.note);
        request.note = std::move(answer.note);
        for (auto& item : keepError.detail) request.note.detail.push_back(std::move(item));
        if (answer.close || daemon.stopping_) request.keepAlive = false;

        MHD_Response* response = nullptr;
        if (answer.reader) {
            request.fileBytes = std::make_shared<std::atomic<std::uint64_t>>(0);
            auto reader = std::make_unique<ReplyReader>(ReplyReader{
                answer.reader, std::make_shared<SuspendedReply>(connection), request.fileBytes});
            response = MHD_create_response_from_callback(
                static_cast<std::uint64_t>(answer.reader->Size()), kFileBlockBytes, ReadReplyBlock,
                reader.get(), FreeReplyReader);
            if (response) reader.release();
        } else {
            request.bodyBytes = answer.body.size();
            response = MHD_create_response_from_buffer(answer.body.size(), answer.body.data(),
                                                       MHD_RESPMEM_MUST_COPY);
        }
        if (response == nullptr) return MHD_NO;
        if (!answer.contentType.empty()) {
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                                    answer.contentType.c_str());
        }
        for (const auto& [name, value] : answer.headers) {
            MHD_add_response_header(response, name.c_str(), value.c_str());
        }
        if (!request.keepAlive) MHD_add_response_header(response, "Connection", "close");
        const MHD_Result queued =
            MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
        MHD_destroy_response(response);
        return queued;
    }

    static void GivePlace(HttpDaemon& daemon, HttpDaemon::Connection* place) {
        if (place == nullptr || !place->holdsPlace) return;
        place->holdsPlace = false;
        daemon.slots_.Give(place->address);
    }

    static void Completed(void* cls, MHD_Connection* connection, void** context,
                          MHD_RequestTerminationCode how) {
        auto& daemon = *static_cast<HttpDaemon*>(cls);
        std::unique_ptr<HttpDaemon::Request> request(static_cast<HttpDaemon::Request*>(*context));
        *context = nullptr;
        const std::string cut = daemon.watch_.CutReason(connection);
        daemon.watch_.RequestDone(connection);
        if (!request) return;
        // A connection that takes no further request no longer holds its client's place.
        if (!request->keepAlive || how != MHD_REQUEST_TERMINATED_COMPLETED_OK) {
            const auto* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
            if (info) GivePlace(daemon, static_cast<HttpDaemon::Connection*>(info->socket_context));
        }
        request->handler.reset();  // a spool file goes now
        if (request->begun) --daemon.requestsUnderWay_;

        LogFields fields;
        fields.remote = request->request.remote;
        fields.method = request->request.method;
        fields.path = request->rawUri;
        fields.note = std::move(request->note);
        fields.status = request->status;
        if (fields.status == 0) {
            const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_HTTP_STATUS);
            if (info) fields.status = static_cast<int>(info->http_status);
        }
        fields.bytes = request->fileBytes                           ? request->fileBytes->load()
                       : how == MHD_REQUEST_TERMINATED_COMPLETED_OK ? request->bodyBytes
                                                                    : 0;
        fields.milliseconds =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - request->start)
                .count();
        fields.outcome = !cut.empty() ? cut : Outcome(how);
        daemon.log_.Request(fields);
    }

    static void Notify(void* cls, MHD_Connection* connection, void** socketContext,
                       MHD_ConnectionNotificationCode what) {
        auto& daemon = *static_cast<HttpDaemon*>(cls);
        if (what == MHD_CONNECTION_NOTIFY_STARTED) {
            auto place = std::make_unique<HttpDaemon::Connection>();
            place->address = daemon.ClientAddress(connection);
            *socketContext = place.release();
            const auto* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            if (info) daemon.watch_.Opened(connection, info->connect_fd);
        } else {
            std::unique_ptr<HttpDaemon::Connection> place(
                static_cast<HttpDaemon::Connection*>(*socketContext));
            *socketContext = nullptr;
            GivePlace(daemon, place.get());
            daemon.watch_.Closed(connection);
        }
    }
};

HttpDaemon::HttpDaemon(ListeningSocket socket, const HttpLimits& limits, RequestRouter router,
                       RequestLog& log)
    : socket_(std::move(socket)),
      limits_(limits),
      router_(std::move(router)),
      log_(log),
      watch_(limits.pace),
      slots_(limits.perAddress),
      lanes_(limits.storageThreads, limits.passwordThreads, limits.objectThreads) {
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME;
    if (socket_.IsIpv6()) flags |= MHD_USE_IPv6;
    daemon_ = MHD_start_daemon(
        flags, 0, &DaemonCallbacks::Admit, this, &DaemonCallbacks::Access, this,
        MHD_OPTION_LISTEN_SOCKET, socket_.get(), MHD_OPTION_THREAD_POOL_SIZE,
        std::max(1u, limits_.threads), MHD_OPTION_CONNECTION_LIMIT, limits_.maxConnections,
        MHD_OPTION_CONNECTION_TIMEOUT, limits_.idleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        limits_.connectionMemory, MHD_OPTION_URI_LOG_CALLBACK, &DaemonCallbacks::BeginRequest, this,
        MHD_OPTION_NOTIFY_COMPLETED, &DaemonCallbacks::Completed, this,
        MHD_OPTION_NOTIFY_CONNECTION, &DaemonCallbacks::Notify, this, MHD_OPTION_END);
    if (daemon_ == nullptr) throw Exception("cannot start the HTTP server");
}

void HttpDaemon::WaitForRequests(Clock::duration longest) const {
    const auto deadline = Clock::now() + longest;
    while (requestsUnderWay_ > 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

HttpDaemon::~HttpDaemon() {
    // Requests under way may finish; new ones are turned away. The library's own way of
    // closing the door (quiescing) races with its epoll workers and can abort the process.
    stopping_ = true;
    WaitForRequests(std::chrono::seconds(std::max(1u, limits_.idleSeconds)));
    // The library must not be stopped while a connection waits for its work: cut the rest,
    // and let the work under way end.
    watch_.CutAll();
    WaitForRequests(std::chrono::minutes(10));
    MHD_stop_daemon(daemon_);
    socket_.Release();  // closed by the library with the daemon
}

void HttpDaemon::Pause(Request& request, MHD_Connection* connection, Work work) {
    watch_.Paused(connection);
    MHD_suspend_connection(connection);
    lanes_.Run(std::move(work), [this, &request, connection](std::exception_ptr error) {
        request.failure = error;
        watch_.Resumed(connection);
        MHD_resume_connection(connection);
    });
}

std::string HttpDaemon::ClientAddress(MHD_Connection* connection) const {
    const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    return info ? AddressText(info->client_addr) : std::string();
}

std::string HttpDaemon::ForwardedAddress(MHD_Connection* connection, const Request& request) const {
    if (limits_.trustedProxy.empty() || request.request.remote != limits_.trustedProxy) return {};
    const char* real = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Real-IP");
    if (real == nullptr || !IsAddressLiteral(real)) return {};
    return real;
}

}  // namespace tidewell::webfolder
