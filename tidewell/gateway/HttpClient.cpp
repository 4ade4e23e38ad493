#include "gateway/HttpClient.h"

#include <curl/curl.h>

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/MessagePump.h"

namespace tidewell {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kAccept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; ICS)";
constexpr int kMaxRedirects = 10;
constexpr auto kPollSlice = std::chrono::milliseconds(50);
// Handing control to the window on every socket event would cost more than the transfer.
constexpr auto kPumpInterval = std::chrono::milliseconds(20);
constexpr long kBufferSize = 256 * 1024;

void InitCurlOnce() {
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK) throw HttpError(std::string("libcurl: ") + curl_easy_strerror(result));
}

bool IsRefused(int status) {
    return status >= 400 && status != 401 && status != 407;
}

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

void Append(HeaderList& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (!grown) throw HttpError("libcurl: out of memory");
    list.release();
    list.reset(grown);
}

// A parsed URL; a relative one set later resolves against the one before.
class ParsedUrl {
public:
    explicit ParsedUrl(const std::string& url) : handle_(curl_url(), curl_url_cleanup) {
        if (!handle_) throw HttpError("libcurl: out of memory");
        Set(url);
    }
    void Set(const std::string& url) {
        if (curl_url_set(handle_.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
            throw HttpError("잘못된 주소입니다: " + url);
        }
    }
    std::string Get(CURLUPart part, unsigned flags = 0) const {
        char* text = nullptr;
        if (curl_url_get(handle_.get(), part, &text, flags) != CURLUE_OK) return {};
        std::string value = text;
        curl_free(text);
        return value;
    }

private:
    std::unique_ptr<CURLU, void (*)(CURLU*)> handle_;
};

// "Host: name" with ":port" only when the port is not 80.
std::string HostHeader(const std::string& url) {
    const ParsedUrl parsed(url);
    std::string value = parsed.Get(CURLUPART_HOST);
    if (value.empty()) throw HttpError("잘못된 주소입니다: " + url);
    const std::string port = parsed.Get(CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (!port.empty() && port != "80") value += ":" + port;
    return "Host: " + value;
}

// "host" or "host:port" of a URL, for messages.
std::string HostAndPort(const std::string& url) {
    try {
        const ParsedUrl parsed(url);
        std::string where = parsed.Get(CURLUPART_HOST);
        const std::string port = parsed.Get(CURLUPART_PORT);
        if (!port.empty()) where += ":" + port;
        return where;
    } catch (const HttpError&) {
        return url;
    }
}

// What went wrong, in the user's language first; the library's own words follow for whoever
// has to look further.
std::string TransportFailureText(CURLcode result, const std::string& url,
                                 const std::string& reason) {
    switch (result) {
        case CURLE_COULDNT_RESOLVE_HOST:
            return "서버 주소를 찾을 수 없습니다. (" + HostAndPort(url) + ")";
        case CURLE_COULDNT_CONNECT:
            return "서버에 연결할 수 없습니다. (" + HostAndPort(url) + ")";
        case CURLE_OPERATION_TIMEDOUT:
            return "서버가 응답하지 않습니다. (" + HostAndPort(url) + ")";
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
            return "서버의 인증서를 확인할 수 없습니다. (" + reason + ")";
        case CURLE_SSL_CONNECT_ERROR:
            return "서버와 보안 연결을 맺을 수 없습니다. (" + reason + ")";
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
            return "서버와의 연결이 끊어졌습니다. (" + reason + ")";
        default:
            return "서버와 통신하는 중 오류가 발생하였습니다. (" + reason + ")";
    }
}

std::string ResolveLocation(const std::string& base, const std::string& location) {
    ParsedUrl parsed(base);
    parsed.Set(location);
    return parsed.Get(CURLUPART_URL);
}

}  // namespace

// The handles of one request and what its callbacks found out.
struct HttpClient::Exchange {
    explicit Exchange(HttpClient& client) : client(client) {}
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;
    ~Exchange() {
        if (multi && easy) curl_multi_remove_handle(multi, easy);
        if (easy) curl_easy_cleanup(easy);
        if (multi) curl_multi_cleanup(multi);
    }

    HttpClient& client;
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    HeaderList headers;
    char errorText[CURL_ERROR_SIZE] = {};
    Clock::time_point lastActivity = Clock::now();
    std::exception_ptr callbackError;
    std::string location;           // of a redirection
    bool stoppedOnPurpose = false;  // the body of a refusal or a redirection is not wanted

    static std::size_t OnRead(char* buffer, std::size_t size, std::size_t count, void* self);
    static std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
};

std::size_t HttpClient::Exchange::OnRead(char* buffer, std::size_t size, std::size_t count,
                                         void* self) {
    auto& x = *static_cast<Exchange*>(self);
    x.lastActivity = Clock::now();
    try {
        const std::size_t n = x.client.SendStream->Read(buffer, size * count);
        if (n > 0 && x.client.OnDataSent) x.client.OnDataSent(&x.client, buffer, n);
        return n;
    } catch (...) {
        x.callbackError = std::current_exception();
        return CURL_READFUNC_ABORT;
    }
}

std::size_t HttpClient::Exchange::OnWrite(char* data, std::size_t size, std::size_t count,
                                          void* self) {
    auto& x = *static_cast<Exchange*>(self);
    const std::size_t n = size * count;
    x.lastActivity = Clock::now();
    if (IsRefused(x.client.statusCode_) || !x.location.empty()) {
        x.stoppedOnPurpose = true;
        return 0;
    }
    try {
        if (x.client.RcvdStream) x.client.RcvdStream->Write(data, n);
        if (x.client.OnDataReceived) x.client.OnDataReceived(&x.client, data, n);
        return n;
    } catch (...) {
        x.callbackError = std::current_exception();
        return 0;
    }
}

std::size_t HttpClient::Exchange::OnHeader(char* data, std::size_t size, std::size_t count,
                                           void* self) {
    auto& x = *static_cast<Exchange*>(self);
    HttpClient& client = x.client;
    const std::size_t n = size * count;
    x.lastActivity = Clock::now();
    std::string line(data, n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.rfind("HTTP/", 0) == 0) {
        // A new status line: an interim reply came before, its headers don't count.
        client.replyHeaders_.clear();
        x.location.clear();
        client.statusCode_ = 0;
        client.reasonPhrase_.clear();
        const std::size_t space = line.find(' ');
        if (space != std::string::npos) {
            client.statusCode_ = std::atoi(line.c_str() + space + 1);
            const std::size_t reason = line.find(' ', space + 1);
            if (reason != std::string::npos) client.reasonPhrase_ = line.substr(reason + 1);
        }
    } else if (!line.empty()) {
        if (IsRedirect(client.statusCode_) && strncasecmp(line.c_str(), "Location:", 9) == 0) {
            const std::size_t value = line.find_first_not_of(" \t", 9);
            if (value != std::string::npos) x.location = line.substr(value);
        }
        client.replyHeaders_.push_back(std::move(line));
    }
    return n;
}

HttpClient::HttpClient() {
    InitCurlOnce();
}

HttpClient::~HttpClient() = default;

void HttpClient::Close() {
    exchange_.reset();
}

void HttpClient::Post() {
    Close();
    const std::uint64_t bodyStart = SendStream ? SendStream->Position() : 0;
    std::string url = URL;
    bool post = true;
    for (int redirects = 0;; ++redirects) {
        std::string next = Perform(url, post, bodyStart);
        if (next.empty()) break;
        if (redirects == kMaxRedirects) {
            throw HttpError("리다이렉트가 너무 많습니다: " + url, statusCode_, reasonPhrase_);
        }
        // As browsers do: only 307 and 308 ask for the same request at the new place.
        if (statusCode_ != 307 && statusCode_ != 308) post = false;
        url = std::move(next);
    }
}

std::string HttpClient::Perform(const std::string& url, bool post, std::uint64_t bodyStart) {
    Close();
    replyHeaders_.clear();
    statusCode_ = 0;
    reasonPhrase_.clear();
    exchange_ = std::make_unique<Exchange>(*this);
    Exchange& x = *exchange_;

    // libcurl would put its own Host first; clearing it and adding ours keeps the order.
    Append(x.headers, "Host:");
    Append(x.headers, std::string("Accept: ") + kAccept);
    if (post) Append(x.headers, "Content-Type: " + ContentType);
    Append(x.headers, std::string("User-Agent: ") + kUserAgent);
    Append(x.headers, HostHeader(url));
    Append(x.headers, "Expect:");
    // Content-Length comes from libcurl, last, and only with a body.

    x.easy = curl_easy_init();
    x.multi = curl_multi_init();
    if (!x.easy || !x.multi) throw HttpError("libcurl: out of memory");
    CURL* e = x.easy;
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_PROXY, "");
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(ConnectTimeout.count()));
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, x.errorText);
    // Certificates are always verified; a service signed by an authority of its own names it.
    if (!CAFile.empty()) curl_easy_setopt(e, CURLOPT_CAINFO, CAFile.c_str());
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, x.headers.get());
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kBufferSize);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Exchange::OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &x);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Exchange::OnWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &x);
    if (post) {
        std::uint64_t size = 0;
        if (SendStream) {
            SendStream->Seek(bodyStart);
            size = SendStream->Size() - std::min(bodyStart, SendStream->Size());
        }
        curl_easy_setopt(e, CURLOPT_POST, 1L);
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
        if (SendStream) {
            curl_easy_setopt(e, CURLOPT_READFUNCTION, &Exchange::OnRead);
            curl_easy_setopt(e, CURLOPT_READDATA, &x);
        } else {
            curl_easy_setopt(e, CURLOPT_POSTFIELDS, "");
        }
    } else {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    }
    if (curl_multi_add_handle(x.multi, e) != CURLM_OK) throw HttpError("libcurl: out of memory");

    Wait();

    CURLcode result = CURLE_OK;
    int pending = 0;
    while (CURLMsg* message = curl_multi_info_read(x.multi, &pending)) {
        if (message->msg == CURLMSG_DONE) result = message->data.result;
    }
    if (x.callbackError) std::rethrow_exception(x.callbackError);
    if (IsRefused(statusCode_)) {
        throw HttpError("서버 오류: HTTP " + std::to_string(statusCode_) + " " + reasonPhrase_,
                        statusCode_, reasonPhrase_);
    }
    if (result != CURLE_OK && !(result == CURLE_WRITE_ERROR && x.stoppedOnPurpose)) {
        const std::string reason = x.errorText[0] ? x.errorText : curl_easy_strerror(result);
        throw HttpError(TransportFailureText(result, url, reason));
    }
    return x.location.empty() ? std::string() : ResolveLocation(url, x.location);
}

void HttpClient::Wait() {
    Exchange& x = *exchange_;
    auto lastPump = Clock::now() - kPumpInterval;
    for (;;) {
        int running = 0;
        const CURLMcode code = curl_multi_perform(x.multi, &running);
        if (code != CURLM_OK) throw HttpError(std::string("libcurl: ") + curl_multi_strerror(code));
        if (running == 0) return;
        const auto now = Clock::now();
        if (now - lastPump >= kPumpInterval) {
            if (PumpMessages) {
                ProcessMessages();
                if (ApplicationTerminated()) {
                    throw HttpError("프로그램이 끝나는 중이라 요청을 중단했습니다.");
                }
            }
            lastPump = Clock::now();
            if (StopWanted(ShouldStop)) throw OperationStopped();
        }
        const auto idle = Clock::now() - x.lastActivity;
        if (idle >= StallTimeout) throw HttpError(StallText());
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(StallTimeout - idle);
        const auto slice = std::max(std::chrono::milliseconds(1), std::min(kPollSlice, left));
        curl_multi_poll(x.multi, nullptr, 0, static_cast<int>(slice.count()), nullptr);
    }
}

std::string HttpClient::StallText() const {
    const auto ms = StallTimeout.count();
    const std::string span =
        ms % 1000 == 0 ? std::to_string(ms / 1000) + "초" : std::to_string(ms) + "밀리초";
    return "서버가 응답하지 않습니다. (" + span +
           " 동안 주고받은 자료가 없습니다: " + HostAndPort(URL) + ")";
}

}  // namespace tidewell
