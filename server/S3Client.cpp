#include "S3Client.h"

#include <curl/curl.h>
#include <nettle/sha2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <thread>

#include "TextRules.h"
#include "XmlTree.h"
#include "platform/Identity.h"

namespace tidewell::webfolder {
namespace {

constexpr char kUnsignedPayload[] = "UNSIGNED-PAYLOAD";
// Error replies and listings are small; anything larger is cut off there.
constexpr std::size_t kMaxReplyBody = 4 << 20;

std::string Sha256Hex(std::string_view bytes) {
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data()));
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, sizeof digest, digest);
    return HexText(digest, sizeof digest);
}

std::string Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

void ReadConfigFile(const std::filesystem::path& file, S3Config& config) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        throw Exception("cannot read the object store's settings " + file.string());
    }
    // The secret key must not be readable by anyone but the service's user.
    if ((st.st_mode & 077) != 0) {
        throw Exception(file.string() +
                        " holds the object store's secret key and must be readable by its owner "
                        "only (chmod 600)");
    }
    std::ifstream in(file);
    if (!in) throw Exception("cannot read the object store's settings " + file.string());
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const std::string text = Trim(line);
        if (text.empty() || text.front() == '#') continue;
        const auto eq = text.find('=');
        if (eq == std::string::npos) {
            throw Exception(file.string() + ":" + std::to_string(number) +
                            ": expected name = value");
        }
        const std::string name = Trim(std::string_view(text).substr(0, eq));
        const std::string value = Trim(std::string_view(text).substr(eq + 1));
        if (name == "endpoint") {
            config.endpoint = value;
        } else if (name == "region") {
            config.region = value;
        } else if (name == "access_key") {
            config.accessKey = value;
        } else if (name == "secret_key") {
            config.secretKey = value;
        } else {
            throw Exception(file.string() + ":" + std::to_string(number) + ": unknown setting '" +
                            name + "' (endpoint, region, access_key, secret_key)");
        }
    }
}

void FromEnvironment(std::string& value, const char* name) {
    if (!value.empty()) return;
    if (const char* text = std::getenv(name); text && *text) value = text;
}

// The request's body read from a file, a piece at a time as libcurl asks.
struct FileSource {
    FileRange range;
    std::int64_t sent = 0;
};

size_t ReadFromFile(char* buffer, size_t size, size_t count, void* data) {
    auto& source = *static_cast<FileSource*>(data);
    const std::int64_t left = source.range.length - source.sent;
    const auto want = static_cast<size_t>(std::min<std::int64_t>(left, size * count));
    if (want == 0) return 0;
    const ssize_t got = ::pread(source.range.fd, buffer, want,
                                static_cast<off_t>(source.range.offset + source.sent));
    if (got <= 0) return CURL_READFUNC_ABORT;
    source.sent += got;
    return static_cast<size_t>(got);
}

int SeekInFile(void* data, curl_off_t offset, int origin) {
    auto& source = *static_cast<FileSource*>(data);
    if (origin != SEEK_SET || offset < 0 || offset > source.range.length) return CURL_SEEKFUNC_FAIL;
    source.sent = offset;
    return CURL_SEEKFUNC_OK;
}

// Where a reply's body goes: the caller's buffer for a successful read, else memory (bounded).
struct Sink {
    CURL* handle = nullptr;
    char* out = nullptr;
    std::int64_t capacity = 0;
    std::int64_t written = 0;
    std::size_t maxBody = kMaxReplyBody;
    std::string body;
};

size_t WriteReply(char* data, size_t size, size_t count, void* target) {
    auto& sink = *static_cast<Sink*>(target);
    const size_t bytes = size * count;
    long status = 0;
    curl_easy_getinfo(sink.handle, CURLINFO_RESPONSE_CODE, &status);
    if (sink.out && status >= 200 && status < 300) {
        if (sink.written + static_cast<std::int64_t>(bytes) > sink.capacity) return 0;
        std::memcpy(sink.out + sink.written, data, bytes);
        sink.written += static_cast<std::int64_t>(bytes);
        return bytes;
    }
    if (sink.body.size() < sink.maxBody) {
        sink.body.append(data, std::min(bytes, sink.maxBody - sink.body.size()));
    }
    return bytes;
}

bool Transient(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_CONNECT:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_PARTIAL_FILE:
            return true;
        default:
            return false;
    }
}

bool Transient(long status) {
    return status == 500 || status == 502 || status == 503 || status == 504;
}

// "2024-05-01T09:30:00.000Z" as seconds since 1970.
std::int64_t ParseIsoTime(const std::string& text) {
    std::tm civil{};
    if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d", &civil.tm_year, &civil.tm_mon,
                    &civil.tm_mday, &civil.tm_hour, &civil.tm_min, &civil.tm_sec) != 6) {
        return 0;
    }
    civil.tm_year -= 1900;
    civil.tm_mon -= 1;
    return static_cast<std::int64_t>(::timegm(&civil));
}

std::int64_t ToInteger(const std::string& text) {
    return std::strtoll(text.c_str(), nullptr, 10);
}

XmlElement ParseReply(const std::string& body, const char* what) {
    auto root = ParseXml(body);
    if (!root)
        throw S3Error(std::string("the object store's reply to ") + what + " is no XML", 200, "");
    if (root->name == "Error") {
        throw S3Error(std::string("the object store refused ") + what + ": " +
                          root->ChildText("Code") + " " + root->ChildText("Message"),
                      200, root->ChildText("Code"));
    }
    return std::move(*root);
}

}  // namespace

struct S3Client::Request {
    const char* method = "GET";
    std::string key;  // empty: the bucket itself
    std::vector<std::pair<std::string, std::string>> query;
    std::vector<std::string> headers;
    const std::string* body = nullptr;  // a small body in memory,
    std::optional<FileRange> file;      // or a file's bytes
    std::string payloadSha256 = kUnsignedPayload;
    char* out = nullptr;  // a successful reply's body goes here, outLength bytes at most
    std::int64_t outLength = 0;
    bool head = false;
    const char* what = "a request";
};

S3Config LoadS3Config(const std::filesystem::path& file) {
    S3Config config;
    std::filesystem::path source = file;
    if (source.empty()) {
        if (const char* credentials = std::getenv("CREDENTIALS_DIRECTORY")) {
            const std::filesystem::path candidate = std::filesystem::path(credentials) / "s3";
            if (std::filesystem::exists(candidate)) source = candidate;
        }
    }
    if (!source.empty()) ReadConfigFile(source, config);
    FromEnvironment(config.endpoint, "TIDEWELL_S3_ENDPOINT");
    FromEnvironment(config.region, "TIDEWELL_S3_REGION");
    FromEnvironment(config.accessKey, "TIDEWELL_S3_ACCESS_KEY");
    FromEnvironment(config.secretKey, "TIDEWELL_S3_SECRET_KEY");
    if (config.region.empty()) config.region = "us-east-1";
    if (config.endpoint.empty()) config.endpoint = "https://s3." + config.region + ".amazonaws.com";
    while (!config.endpoint.empty() && config.endpoint.back() == '/') config.endpoint.pop_back();
    if (config.accessKey.empty() || config.secretKey.empty()) {
        throw Exception(
            "the object store's keys are missing: give access_key and secret_key in the file "
            "named by --s3-config (mode 0600), or TIDEWELL_S3_ACCESS_KEY and "
            "TIDEWELL_S3_SECRET_KEY in the environment");
    }
    if (!config.endpoint.starts_with("http://") && !config.endpoint.starts_with("https://")) {
        throw Exception("the object store's endpoint must be an http:// or https:// URL, not '" +
                        config.endpoint + "'");
    }
    return config;
}

S3Place ParseS3Place(std::string_view uri) {
    if (!uri.starts_with("s3://")) throw Exception("not an s3:// location: " + std::string(uri));
    std::string_view rest = uri.substr(5);
    const auto slash = rest.find('/');
    S3Place place;
    place.bucket = std::string(rest.substr(0, slash));
    if (slash != std::string_view::npos) place.prefix = std::string(rest.substr(slash + 1));
    while (place.prefix.starts_with("/")) place.prefix.erase(0, 1);
    if (!place.prefix.empty() && !place.prefix.ends_with("/")) place.prefix += "/";
    if (place.bucket.size() < 3) {
        throw Exception("the bucket's name in " + std::string(uri) + " is too short");
    }
    return place;
}

S3Client::S3Client(S3Config config, std::string bucket)
    : config_(std::move(config)),
      bucket_(std::move(bucket)),
      sigv4_("aws:amz:" + config_.region + ":s3") {
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

S3Client::~S3Client() {
    for (CURL* handle : idle_) curl_easy_cleanup(handle);
}

CURL* S3Client::Borrow() {
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            CURL* handle = idle_.back();
            idle_.pop_back();
            return handle;
        }
    }
    CURL* handle = curl_easy_init();
    if (handle == nullptr) throw Exception("cannot make an HTTP handle");
    return handle;
}

void S3Client::Return(CURL* handle) {
    // Reset keeps the handle's connections for the next request.
    curl_easy_reset(handle);
    std::lock_guard lock(mutex_);
    idle_.push_back(handle);
}

std::string S3Client::EscapePath(std::string_view key) {
    std::string path;
    std::size_t start = 0;
    while (true) {
        const auto slash = key.find('/', start);
        const std::string_view segment = key.substr(start, slash - start);
        char* escaped = curl_easy_escape(nullptr, segment.data(), static_cast<int>(segment.size()));
        path += escaped ? escaped : "";
        curl_free(escaped);
        if (slash == std::string_view::npos) break;
        path += '/';
        start = slash + 1;
    }
    return path;
}

std::string S3Client::CanonicalQuery(std::vector<std::pair<std::string, std::string>> query) {
    auto escape = [](const std::string& text) {
        char* escaped = curl_easy_escape(nullptr, text.data(), static_cast<int>(text.size()));
        std::string out = escaped ? escaped : "";
        curl_free(escaped);
        return out;
    };
    std::vector<std::pair<std::string, std::string>> escaped;
    for (const auto& [name, value] : query) escaped.emplace_back(escape(name), escape(value));
    std::sort(escaped.begin(), escaped.end());
    std::string text;
    for (const auto& [name, value] : escaped) {
        if (!text.empty()) text += '&';
        text += name + "=" + value;
    }
    return text;
}

S3Client::Reply S3Client::Perform(const Request& request) {
    CURL* handle = Borrow();
    struct Returner {
        S3Client* client;
        CURL* handle;
        ~Returner() { client->Return(handle); }
    } returner{this, handle};

    std::string url = config_.endpoint + "/" + bucket_;
    if (!request.key.empty()) url += "/" + EscapePath(request.key);
    if (!request.query.empty()) url += "?" + CanonicalQuery(request.query);

    curl_slist* headers = nullptr;
    struct HeaderList {
        curl_slist*& list;
        ~HeaderList() { curl_slist_free_all(list); }
    } freeHeaders{headers};
    // Without it every signature fails: the store would assume an unsigned payload while
    // libcurl signs the hash of an empty one.
    headers =
        curl_slist_append(headers, ("x-amz-content-sha256: " + request.payloadSha256).c_str());
    for (const auto& header : request.headers) headers = curl_slist_append(headers, header.c_str());

    FileSource source;
    Sink sink;
    sink.handle = handle;
    sink.out = request.out;
    sink.capacity = request.outLength;

    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_AWS_SIGV4, sigv4_.c_str());
    curl_easy_setopt(handle, CURLOPT_USERNAME, config_.accessKey.c_str());
    curl_easy_setopt(handle, CURLOPT_PASSWORD, config_.secretKey.c_str());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 10L);
    // A store that stops moving bytes for a minute is given up on; a slow one never is.
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &WriteReply);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
    const std::string method = request.method;
    if (request.file) {
        source.range = *request.file;
        curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(handle, CURLOPT_READFUNCTION, &ReadFromFile);
        curl_easy_setopt(handle, CURLOPT_READDATA, &source);
        curl_easy_setopt(handle, CURLOPT_SEEKFUNCTION, &SeekInFile);
        curl_easy_setopt(handle, CURLOPT_SEEKDATA, &source);
        // The store wants every length up front: a chunked body is refused.
        curl_easy_setopt(handle, CURLOPT_INFILESIZE_LARGE,
                         static_cast<curl_off_t>(request.file->length));
        curl_easy_setopt(handle, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
    } else if (method == "POST") {
        static const std::string kEmpty;
        const std::string& body = request.body ? *request.body : kEmpty;
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    } else if (method == "PUT") {
        static const std::string kEmpty;
        const std::string& body = request.body ? *request.body : kEmpty;
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, "PUT");
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    } else if (request.head) {
        curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
    } else if (method != "GET") {
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.method);
    }
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);

    const CURLcode code = curl_easy_perform(handle);
    Reply reply;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &reply.status);
    if (code != CURLE_OK) {
        throw S3Error(std::string("the object store did not answer ") + request.what + ": " +
                          curl_easy_strerror(code),
                      Transient(code) ? 0 : -1, "");
    }
    if (request.out && reply.status >= 200 && reply.status < 300 &&
        sink.written != request.outLength) {
        throw S3Error(std::string("the object store sent ") + std::to_string(sink.written) +
                          " bytes instead of " + std::to_string(request.outLength) + " for " +
                          request.what,
                      0, "");
    }
    curl_header* etag = nullptr;
    if (curl_easy_header(handle, "ETag", 0, CURLH_HEADER, -1, &etag) == CURLHE_OK && etag) {
        reply.etag = etag->value;
    }
    if (request.head && reply.status >= 200 && reply.status < 300) {
        curl_off_t length = -1;
        curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        reply.body = std::to_string(length);
    } else {
        reply.body = std::move(sink.body);
    }
    return reply;
}

S3Client::Reply S3Client::Send(const Request& request, int attempts) {
    for (int attempt = 1;; ++attempt) {
        try {
            Reply reply = Perform(request);
            if (!Transient(reply.status) || attempt >= attempts) return reply;
        } catch (const S3Error& error) {
            if (error.HttpStatus() != 0 || attempt >= attempts) throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200 * attempt * attempt));
    }
}

namespace {

[[noreturn]] void Refused(const char* what, long status, const std::string& body) {
    std::string code, message;
    if (auto root = ParseXml(body)) {
        code = root->ChildText("Code");
        message = root->ChildText("Message");
    }
    throw S3Error(std::string("the object store refused ") + what + ": HTTP " +
                      std::to_string(status) + (code.empty() ? "" : " " + code) +
                      (message.empty() ? "" : " (" + message + ")"),
                  status, code);
}

bool Succeeded(long status) {
    return status >= 200 && status < 300;
}

}  // namespace

void S3Client::PutObject(const std::string& key, const FileRange& body,
                         const std::string& payloadSha256) {
    Request request;
    request.method = "PUT";
    request.key = key;
    request.file = body;
    request.payloadSha256 = payloadSha256;
    request.what = "an archive's upload";
    const Reply reply = Send(request, 3);
    if (!Succeeded(reply.status)) Refused(request.what, reply.status, reply.body);
}

void S3Client::PutSmallObject(const std::string& key, const std::string& body) {
    Request request;
    request.method = "PUT";
    request.key = key;
    request.body = &body;
    request.payloadSha256 = Sha256Hex(body);
    request.what = "a small object";
    const Reply reply = Send(request, 3);
    if (!Succeeded(reply.status)) Refused(request.what, reply.status, reply.body);
}

std::string S3Client::CreateMultipartUpload(const std::string& key) {
    Request request;
    request.method = "POST";
    request.key = key;
    request.query = {{"uploads", ""}};
    request.payloadSha256 = Sha256Hex("");
    request.what = "the start of a multipart upload";
    const Reply reply = Send(request, 3);
    if (!Succeeded(reply.status)) Refused(request.what, reply.status, reply.body);
    const std::string id = ParseReply(reply.body, request.what).ChildText("UploadId");
    if (id.empty()) throw S3Error("the object store gave no upload ID", reply.status, "");
    return id;
}

std::string S3Client::UploadPart(const std::string& key, const std::string& uploadId,
                                 int partNumber, const FileRange& body,
                                 const std::string& payloadSha256) {
    Request request;
    request.method = "PUT";
    request.key = key;
    request.query = {{"partNumber", std::to_string(partNumber)}, {"uploadId", uploadId}};
    request.file = body;
    request.payloadSha256 = payloadSha256;
    request.what = "a part of an archive";
    const Reply reply = Send(request, 3);
    if (!Succeeded(reply.status)) Refused(request.what, reply.status, reply.body);
    if (reply.etag.empty()) throw S3Error("the object store gave a part no ETag", reply.status, "");
    return reply.etag;
}

void S3Client::CompleteMultipartUpload(const std::string& key, const std::string& uploadId,
                                       const std::vector<std::pair<int, std::string>>& parts) {
    std::string body = "<CompleteMultipartUpload>";
    for (const auto& [number, etag] : parts) {
        body += "<Part><PartNumber>" + std::to_string(number) + "</PartNumber><ETag>" +
                XmlEscape(etag) + "</ETag></Part>";
    }
    body += "</CompleteMultipartUpload>";
    Request request;
    request.method = "POST";
    request.key = key;
    request.query = {{"uploadId", uploadId}};
    request.body = &body;
    request.payloadSha256 = Sha256Hex(body);
    request.what = "the completion of a multipart upload";
    const Reply reply = Send(request, 3);
    if (!Succeeded(reply.status)) Refused(request.what, reply.status, reply.body);
    // A store may answer 200 and still report an error in the body.
    ParseReply(reply.body, request.what);
}

void S3Client::AbortMultipartUpload(const std::string& key, const std::string& uploadId) {
    Request request;
    request.method = "DELETE";
    request.key = key;
    request.query = {{"uploadId", uploadId}};
    request.what = "the end of a multipart upload";
    const Reply reply = Send(request, 3);
    if (!Succeeded(reply.status) && reply.status != 404) {
        Refused(request.what, reply.status, reply.body);
    }
}

std::vector<S3Upload> S3Client::ListMultipartUploads(const std::string& prefix) {
    std::vector<S3Upload> uploads;
    std::string keyMarker, idMarker;
    while (true) {
        Request request;
        request.query = {{"uploads", ""}, {"prefix", prefix}};
        if (!keyMarker.empty()) {
            request.query.emplace_back("key-marker", keyMarker);
            request.query.emplace_back("upload-id-marker", idMarker);
        }
        request.what = "the list of multipart uploads";
        const Reply reply = Send(request, 3);
        if (!Succeeded(reply.status)) Refused(request.what, reply.status, reply.body);
        const XmlElement root = ParseReply(reply.body, request.what);
        for (const XmlElement* upload : root.Children("Upload")) {
            uploads.push_back({upload->ChildText("Key"), upload->ChildText("UploadId"),
                               ParseIsoTime(upload->ChildText("Initiated"))});
        }
        if (root.ChildText("IsTruncated") != "true") break;
        keyMarker = root.ChildText("NextKeyMarker");
        idMarker = root.ChildText("NextUploadIdMarker");
        if (keyMarker.empty()) break;
    }
    return uploads;
}

void S3Client::GetRange(const std::string& key, std::int64_t offset, std::int64_t length,
                        char* out) {
    if (length <= 0) return;
    Request request;
    request.key = key;
    request.headers = {"Range: bytes=" + std::to_string(offset) + "-" +
                       std::to_string(offset + length - 1)};
    request.out = out;
    request.outLength = length;
    request.what = "an archive's bytes";
    const Reply reply = Send(request, 3);
    if (!Succeeded(reply.status)) Refused(request.what, reply.status, reply.body);
}

std::optional<std::string> S3Client::GetSmallObject(const std::string& key, std::size_t maxBytes) {
    Request request;
    request.key = key;
    request.what = "a small object";
    Reply reply = Send(request, 3);
    if (reply.status == 404) return std::nullopt;
    if (!Succeeded(reply.status)) Refused(request.what, reply.status, reply.body);
    // What a reply may hold in memory is bounded anyway; the caller wants less.
    if (reply.body.size() > maxBytes) reply.body.resize(maxBytes);
    return std::move(reply.body);
}

std::optional<std::int64_t> S3Client::HeadObject(const std::string& key) {
    Request request;
    request.key = key;
    request.head = true;
    request.what = "an object's size";
    const Reply reply = Send(request, 3);
    if (reply.status == 404) return std::nullopt;
    if (!Succeeded(reply.status)) Refused(request.what, reply.status, "");
    return ToInteger(reply.body);
}

void S3Client::DeleteObject(const std::string& key) {
    Request request;
    request.method = "DELETE";
    request.key = key;
    request.what = "an object's removal";
    const Reply reply = Send(request, 3);
    if (!Succeeded(reply.status) && reply.status != 404) {
        Refused(request.what, reply.status, reply.body);
    }
}

void S3Client::CopyObject(const std::string& from, const std::string& to) {
    static const std::string kEmpty;
    Request request;
    request.method = "PUT";
    request.key = to;
    request.body = &kEmpty;
    request.payloadSha256 = Sha256Hex("");
    request.headers = {"x-amz-copy-source: /" + bucket_ + "/" + EscapePath(from)};
    request.what = "an object's copy";
    const Reply reply = Send(request, 3);
    if (!Succeeded(reply.status)) Refused(request.what, reply.status, reply.body);
    ParseReply(reply.body, request.what);
}

void S3Client::ListObjects(const std::string& prefix,
                           const std::function<void(const std::vector<S3Object>&)>& page) {
    std::string token;
    while (true) {
        Request request;
        request.query = {{"list-type", "2"}, {"prefix", prefix}, {"max-keys", "1000"}};
        if (!token.empty()) request.query.emplace_back("continuation-token", token);
        request.what = "the list of objects";
        const Reply reply = Send(request, 3);
        if (!Succeeded(reply.status)) Refused(request.what, reply.status, reply.body);
        const XmlElement root = ParseReply(reply.body, request.what);
        std::vector<S3Object> objects;
        for (const XmlElement* item : root.Children("Contents")) {
            objects.push_back({item->ChildText("Key"), ToInteger(item->ChildText("Size")),
                               ParseIsoTime(item->ChildText("LastModified"))});
        }
        page(objects);
        if (root.ChildText("IsTruncated") != "true") break;
        token = root.ChildText("NextContinuationToken");
        if (token.empty()) break;
    }
}

}  // namespace tidewell::webfolder
