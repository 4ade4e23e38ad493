#include "WebFolderServer.h"

#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <variant>

#include "UploadReceiver.h"
#include "WebPages.h"
#include "platform/Error.h"

namespace tidewell::webfolder {
namespace {

constexpr std::size_t kWorkerThreads = 16;
// An oversized form is read (and dropped) up to this much so that its sender gets the reply;
// beyond it the connection is simply closed.
constexpr std::size_t kMaxFormDrainBytes = 8 * 1024 * 1024;

void SetReply(httplib::Response& response, const Reply& reply) {
    response.set_content(reply.Encode(), kReplyContentType);
}

bool IsServicePage(const std::string& path) {
    return path == kGatewayPage || path == kUploadPage || path == kDownloadPage;
}

std::int64_t Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

// Matches exactly the path: the patterns are regular expressions.
std::string Pattern(std::string_view path) {
    std::string pattern;
    for (char c : path) {
        if (c == '.') pattern += '\\';
        pattern += c;
    }
    return pattern;
}

}  // namespace

WebFolderServer::WebFolderServer(const std::filesystem::path& dataFolder, RequestLog::Sink logSink)
    : data_(dataFolder),
      claim_(data_.ClaimForServing()),
      accounts_(data_),
      archives_(data_),
      gateway_(accounts_, archives_),
      log_(std::move(logSink)),
      http_(std::make_unique<httplib::Server>()) {
    if (const std::string repaired = archives_.Reconcile(); !repaired.empty()) {
        log_.Write("tidewell-webfolder: " + repaired);
    }
    Routes();
}

WebFolderServer::~WebFolderServer() = default;

void WebFolderServer::Routes() {
    httplib::Server& http = *http_;
    http.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    // One request per connection: the client never keeps one open, and a body left half read
    // can never be taken for the next request.
    http.set_keep_alive_max_count(1);
    // Reusing an address in TIME_WAIT lets a restart follow a stop at once; the library would
    // also share the port with a second running service, which must fail to start instead.
    http.set_socket_options([](socket_t socket) {
        const int on = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    });
    http.set_read_timeout(30);
    http.set_write_timeout(30);

    http.set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            log_.Begin(&request);
            if (request.method == "GET" || request.method == "HEAD") {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            if (request.method == "POST" && IsServicePage(request.path)) {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            // Answered before any body is read, so no body without a purpose is ever held.
            response.status = request.method == "POST" ? 404 : 405;
            SetReply(response, Reply(ReplyStatus::BadRequest, "없는 페이지입니다."));
            return httplib::Server::HandlerResponse::Handled;
        });

    http.Post(Pattern(kGatewayPage),
              [this](const httplib::Request& request, httplib::Response& response,
                     const httplib::ContentReader& reader) {
                  HandleForm(request, response, reader, false);
              });
    http.Post(Pattern(kDownloadPage),
              [this](const httplib::Request& request, httplib::Response& response,
                     const httplib::ContentReader& reader) {
                  HandleForm(request, response, reader, true);
              });
    http.Post(
        Pattern(kUploadPage),
        [this](const httplib::Request& request, httplib::Response& response,
               const httplib::ContentReader& reader) { HandleUpload(request, response, reader); });
    for (const WebPage& page : WebPages()) {
        http.Get(Pattern(page.path), [&page](const httplib::Request&, httplib::Response& response) {
            response.set_content(RenderPage(page), "text/html; charset=utf-8");
        });
    }

    http.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request&, httplib::Response& response) {
            if (!response.body.empty() || response.content_provider_) {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            SetReply(response,
                     Reply(ReplyStatus::BadRequest,
                           response.status == 404 ? "없는 페이지입니다." : "잘못된 요청입니다."));
            return httplib::Server::HandlerResponse::Handled;
        }));
    http.set_exception_handler([this](const httplib::Request& request, httplib::Response& response,
                                      std::exception_ptr error) {
        RequestNote note{"", "error=unknown"};
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            note.detail = std::string("error=") + e.what();
        } catch (...) {
        }
        log_.Note(&request, std::move(note));
        response.status = 500;
        SetReply(response, Reply(ReplyStatus::ServerError));
    });
    http.set_logger([this](const httplib::Request& request, const httplib::Response& response) {
        LogFields fields;
        fields.remote = request.remote_addr;
        fields.method = request.method;
        fields.path = request.path;
        fields.status = response.status;
        fields.bytes = response.body.empty() ? response.content_length_ : response.body.size();
        log_.End(&request, std::move(fields));
    });
}

void WebFolderServer::Answer(const httplib::Request& request, httplib::Response& response,
                             const Reply& reply, RequestNote note) {
    SetReply(response, reply);
    if (!note.detail.empty()) note.detail += " ";
    note.detail += "result=" + std::to_string(static_cast<int>(reply.Status()));
    log_.Note(&request, std::move(note));
}

void WebFolderServer::HandleForm(const httplib::Request& request, httplib::Response& response,
                                 const httplib::ContentReader& reader, bool download) {
    auto refuse = [&](int status, const char* message) {
        response.status = status;
        Answer(request, response, Reply(ReplyStatus::BadRequest, message), {});
    };
    if (request.is_multipart_form_data()) {
        return refuse(400, "이 페이지는 multipart 본문을 받지 않습니다.");
    }
    std::string body;
    std::size_t received = 0;
    const bool read = reader([&](const char* data, std::size_t size) {
        received += size;
        if (received <= kMaxFormBytes) body.append(data, size);
        return received <= kMaxFormDrainBytes;
    });
    if (received > kMaxFormBytes) return refuse(413, "요청이 너무 큽니다.");
    if (!read) return refuse(400, "요청 본문을 읽을 수 없습니다.");
    const auto form = FormFields::Parse(body);
    if (!form) return refuse(400, "요청 형식이 올바르지 않습니다.");

    RequestNote note;
    if (!download) {
        const Reply reply = gateway_.Run(*form, Now(), note);
        return Answer(request, response, reply, std::move(note));
    }
    auto outcome = gateway_.Download(*form, note);
    if (const Reply* reply = std::get_if<Reply>(&outcome)) {
        return Answer(request, response, *reply, note);
    }
    const OpenedArchive archive = std::get<OpenedArchive>(std::move(outcome));
    response.set_header("Content-Disposition", "attachment; filename=\"" + archive.name + "\"");
    response.set_content_provider(
        static_cast<std::size_t>(archive.size), "application/octet-stream",
        [file = archive.file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            char buffer[64 * 1024];
            const ssize_t got = ::pread(file->get(), buffer, std::min(length, sizeof buffer),
                                        static_cast<off_t>(offset));
            return got > 0 && sink.write(buffer, static_cast<std::size_t>(got));
        });
    log_.Note(&request, std::move(note));
}

void WebFolderServer::HandleUpload(const httplib::Request& request, httplib::Response& response,
                                   const httplib::ContentReader& reader) {
    if (!request.is_multipart_form_data()) {
        response.status = 400;
        return Answer(request, response,
                      Reply(ReplyStatus::BadRequest, "multipart/form-data 본문이어야 합니다."), {});
    }
    UploadReceiver upload(accounts_, archives_, data_, Now());
    const bool read = reader(
        [&](const httplib::MultipartFormData& part) {
            upload.BeginPart(part.name, part.filename);
            return true;
        },
        [&](const char* data, std::size_t size) {
            upload.PartData(data, size);
            return true;
        });
    if (!read) response.status = 400;
    const Reply reply = upload.Finish(read);
    Answer(request, response, reply, upload.Note());
}

int WebFolderServer::Bind(const std::string& host, int port) {
    if (port == 0) {
        const int bound = http_->bind_to_any_port(host);
        if (bound <= 0) throw Exception("cannot listen on " + host + " (no free port)");
        return bound;
    }
    if (!http_->bind_to_port(host, port)) {
        throw Exception("cannot listen on " + host + ":" + std::to_string(port));
    }
    return port;
}

void WebFolderServer::Run() {
    http_->listen_after_bind();
}

void WebFolderServer::Stop() {
    http_->stop();
}

}  // namespace tidewell::webfolder
