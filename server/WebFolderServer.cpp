#include "WebFolderServer.h"

#include <ctime>
#include <variant>

#include "MultipartReader.h"
#include "UploadReceiver.h"
#include "WebPages.h"
#include "platform/Error.h"

namespace tidewell::webfolder {
namespace {

std::int64_t Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

bool IsMultipart(const HttpRequest& request) {
    return request.contentType.rfind("multipart/form-data", 0) == 0;
}

// A text reply, its STATUS noted for the log line.
HttpResponse TextReply(int status, const Reply& reply, RequestNote note = {}) {
    HttpResponse response;
    response.status = status;
    response.contentType = kReplyContentType;
    response.body = reply.Encode();
    note.Add("result", std::to_string(static_cast<int>(reply.Status())));
    response.note = std::move(note);
    return response;
}

std::unique_ptr<RequestHandler> Refuse(int status, const char* message) {
    return std::make_unique<FixedAnswer>(
        TextReply(status, Reply(ReplyStatus::BadRequest, message)));
}

// The command and download pages: a small form, read whole, then answered by work that
// fills the answer.
class FormHandler : public RequestHandler {
public:
    using Answerer =
        std::function<Work(const FormFields& form, RequestNote& note, HttpResponse& answer)>;
    explicit FormHandler(Answerer answerer) : answerer_(std::move(answerer)) {}

    Taken Data(const char* data, std::size_t size) override {
        received_ += size;
        if (received_ <= WebFolderServer::kMaxFormBytes) body_.append(data, size);
        // An oversized form is read (and dropped) up to a bound so that its sender gets the
        // reply; beyond it the connection is simply closed.
        return {size, {}, received_ > FixedAnswer::kMaxDrainBytes};
    }

    Work Finish() override {
        if (received_ > WebFolderServer::kMaxFormBytes) {
            answer_ = TextReply(413, Reply(ReplyStatus::BadRequest, "요청이 너무 큽니다."));
            return {};
        }
        auto form = FormFields::Parse(body_);
        if (!form) {
            answer_ =
                TextReply(400, Reply(ReplyStatus::BadRequest, "요청 형식이 올바르지 않습니다."));
            return {};
        }
        form_ = std::move(*form);
        return answerer_(form_, note_, answer_);
    }

    HttpResponse Answer() override { return std::move(answer_); }

private:
    Answerer answerer_;
    std::string body_;
    std::size_t received_ = 0;
    FormFields form_;
    RequestNote note_;
    HttpResponse answer_;
};

// The upload page: the multipart body is parsed as it arrives and streams through the
// receiver.
class UploadHandler : public RequestHandler {
public:
    UploadHandler(std::string_view boundary, std::unique_ptr<UploadReceiver> receiver)
        : receiver_(std::move(receiver)), reader_(boundary) {}

    Taken Data(const char* data, std::size_t size) override {
        // A malformed body is still read to its end, so the client gets the reply.
        if (reader_.Malformed() || reader_.Complete()) return {size};
        const std::size_t taken = reader_.Feed(data, size, *receiver_);
        // The library offers bytes left over again only after a pause: without work, the
        // reader has taken everything or found the body malformed.
        if (Work work = receiver_->TakeWork()) return {taken, std::move(work)};
        return {size};
    }

    Work Finish() override { return receiver_->Finish(reader_.Complete()); }

    HttpResponse Answer() override {
        return TextReply(reader_.Complete() ? 200 : 400, receiver_->Result(), receiver_->Note());
    }

private:
    std::unique_ptr<UploadReceiver> receiver_;
    MultipartReader reader_;
};

}  // namespace

namespace {

BackendTuning Tuned(const ServiceSettings& settings) {
    BackendTuning tuning = settings.backend;
    // One connection for each worker that may use the index, and one for good measure.
    tuning.connections = settings.http.storageThreads + settings.http.passwordThreads + 1;
    return tuning;
}

}  // namespace

WebFolderServer::WebFolderServer(const StoreLocation& location, ServiceSettings settings,
                                 RequestLog::Sink logSink)
    : settings_(std::move(settings)),
      log_(std::move(logSink)),
      backend_(OpenBackend(location, Tuned(settings_))),
      accounts_(backend_->Index()),
      archives_(backend_->Index(), backend_->Bytes(), settings_.store),
      authenticator_(accounts_, settings_.passwordIterations, backend_->MakeThrottle()),
      gateway_(archives_) {
    backend_->PrepareToServe([this](const std::string& line) { log_.Write(line); });
}

WebFolderServer::~WebFolderServer() {
    Stop();
}

int WebFolderServer::Listen(const std::string& host, int port) {
    http_ = std::make_unique<HttpDaemon>(
        ListeningSocket(host, port), settings_.http,
        [this](const HttpRequest& request) { return Route(request); }, log_);
    sweeper_ = std::thread([this] {
        std::unique_lock lock(sweepMutex_);
        while (!sweepWake_.wait_for(lock, settings_.sweepInterval, [this] { return stopping_; })) {
            lock.unlock();
            SweepNow();
            lock.lock();
        }
    });
    return http_->Port();
}

void WebFolderServer::SweepNow() {
    try {
        if (const std::string done = backend_->Sweep(); !done.empty()) {
            log_.Write("tidewell-webfolder: " + done);
        }
    } catch (const std::exception& error) {
        log_.Write(std::string("tidewell-webfolder: housekeeping failed: ") + error.what());
    }
}

void WebFolderServer::Stop() {
    if (sweeper_.joinable()) {
        {
            std::lock_guard lock(sweepMutex_);
            stopping_ = true;
        }
        sweepWake_.notify_all();
        sweeper_.join();
    }
    http_.reset();
}

std::unique_ptr<RequestHandler> WebFolderServer::Route(const HttpRequest& request) {
    const bool post = request.method == "POST";
    if (request.method == "GET" || request.method == "HEAD") {
        for (const WebPage& page : WebPages()) {
            if (request.path != page.path) continue;
            HttpResponse response;
            response.contentType = "text/html; charset=utf-8";
            response.body = RenderPage(page);
            return std::make_unique<FixedAnswer>(std::move(response));
        }
        return Refuse(404, "없는 페이지입니다.");
    }
    const bool gateway = request.path == kGatewayPage;
    const bool download = request.path == kDownloadPage;
    const bool upload = request.path == kUploadPage;
    if (!post || !(gateway || download || upload)) {
        // Answered without looking at the body, which is only read and dropped.
        return Refuse(post ? 404 : 405, "없는 페이지입니다.");
    }

    if (upload) {
        if (!IsMultipart(request)) return Refuse(400, "multipart/form-data 본문이어야 합니다.");
        const auto boundary = MultipartReader::BoundaryOf(request.contentType);
        if (!boundary) return Refuse(400, "multipart 본문의 경계가 없습니다.");
        return std::make_unique<UploadHandler>(
            *boundary,
            std::make_unique<UploadReceiver>(authenticator_, archives_, Now(), request.remote));
    }
    if (IsMultipart(request)) return Refuse(400, "이 페이지는 multipart 본문을 받지 않습니다.");
    if (gateway) {
        return std::make_unique<FormHandler>(
            [this, remote = request.remote](const FormFields& form, RequestNote& note,
                                            HttpResponse& answer) -> Work {
                if (auto refusal = gateway_.CheckCommand(form, note)) {
                    answer = TextReply(200, *refusal, std::move(note));
                    return {};
                }
                return authenticator_.Login(
                    GatewayCommands::CredentialsOf(form, remote), note,
                    [this, &form, &note, &answer](LoginResult login) {
                        return LastStep(
                            Lane::Storage, [this, &form, &note, &answer, login = std::move(login)] {
                                const Reply reply = login.account
                                                        ? gateway_.Run(*login.account, form, Now())
                                                        : login.Refusal();
                                answer = TextReply(200, reply, std::move(note));
                            });
                    });
            });
    }
    return std::make_unique<FormHandler>([this, remote = request.remote](
                                             const FormFields& form, RequestNote& note,
                                             HttpResponse& answer) -> Work {
        return authenticator_.Login(GatewayCommands::CredentialsOf(form, remote), note,
                                    [this, &form, &note, &answer](LoginResult login) {
                                        return LastStep(Lane::Storage, [this, &form, &note, &answer,
                                                                        login = std::move(login)] {
                                            answer = DownloadAnswer(login, form, note);
                                        });
                                    });
    });
}

HttpResponse WebFolderServer::DownloadAnswer(const LoginResult& login, const FormFields& form,
                                             RequestNote& note) const {
    if (!login.account) return TextReply(200, login.Refusal(), std::move(note));
    auto outcome = gateway_.Download(*login.account, form, note);
    if (const Reply* reply = std::get_if<Reply>(&outcome)) {
        return TextReply(200, *reply, std::move(note));
    }
    OpenedArchive archive = std::get<OpenedArchive>(std::move(outcome));
    HttpResponse response;
    response.contentType = "application/octet-stream";
    response.headers.emplace_back("Content-Disposition",
                                  "attachment; filename=\"" + archive.name + "\"");
    response.reader = std::move(archive.reader);
    response.note = std::move(note);
    return response;
}

}  // namespace tidewell::webfolder
