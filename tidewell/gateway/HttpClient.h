#pragma once

#include <chrono>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gateway/Streams.h"
#include "platform/Error.h"

namespace tidewell {

// A request that did not complete: no connection, a broken or stalled transfer (StatusCode 0),
// or a reply the service refused with (StatusCode 400 and above, but not 401 or 407).
class HttpError : public Exception {
public:
    explicit HttpError(const std::string& message, int statusCode = 0,
                       std::string reasonPhrase = {})
        : Exception(message), statusCode_(statusCode), reasonPhrase_(std::move(reasonPhrase)) {}
    int StatusCode() const { return statusCode_; }
    const std::string& ReasonPhrase() const { return reasonPhrase_; }

private:
    int statusCode_;
    std::string reasonPhrase_;
};

// One HTTP/1.0 POST at a time over libcurl, on the calling thread. While it waits the thread
// keeps pumping the application's messages, so the window stays alive during long transfers.
class HttpClient {
public:
    using DataEvent = std::function<void(HttpClient* Sender, const char* Buffer, std::size_t Len)>;

    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    std::string URL;
    std::string ContentType;
    RequestBody* SendStream = nullptr;  // not owned; none sends an empty body
    ReplySink* RcvdStream = nullptr;    // not owned; none drops the reply body
    DataEvent OnDataSent;               // every block of the request body handed to the connection
    DataEvent OnDataReceived;           // every block of the reply body as it arrives
    // Asked between slices of the wait: a request the user stops ends with OperationStopped.
    StopQuery ShouldStop;
    // The certificate authority that signs the service (a file of PEM certificates); empty: the
    // system's. Certificates are always verified.
    std::string CAFile;
    // Off for a request on a thread other than the window's: it then never touches the
    // application's message pump.
    bool PumpMessages = true;

    // Connecting gives up after ConnectTimeout; a transfer that moves no byte for StallTimeout
    // fails. A long transfer that keeps moving has no limit.
    std::chrono::milliseconds ConnectTimeout{30'000};
    std::chrono::milliseconds StallTimeout{120'000};

    // Sends the body from its current position and returns once the whole reply has arrived.
    // Redirections are followed (301, 302 and 303 continue as GET, 307 and 308 post again).
    // Raises HttpError for a failed transfer and for a status of 400 and above other than 401
    // and 407; errors of the body, the sink or the events leave Post as they were raised.
    void Post();
    // Ends the connection; Post leaves it to the caller, who calls it on every path.
    void Close();

    // The final reply's header lines as received ("Name: value"), its status and reason phrase.
    const std::vector<std::string>& ReplyHeaders() const { return replyHeaders_; }
    int StatusCode() const { return statusCode_; }
    const std::string& ReasonPhrase() const { return reasonPhrase_; }

private:
    struct Exchange;
    friend struct Exchange;

    // One request and its reply; returns the URL a redirection points to, or empty.
    std::string Perform(const std::string& url, bool post, std::uint64_t bodyStart);
    void Wait();
    std::string StallText() const;

    std::unique_ptr<Exchange> exchange_;
    std::vector<std::string> replyHeaders_;
    int statusCode_ = 0;
    std::string reasonPhrase_;
};

}  // namespace tidewell
