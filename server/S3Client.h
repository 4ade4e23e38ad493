#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Error.h"

typedef void CURL;

namespace tidewell::webfolder {

// Where an S3-compatible object store answers and the keys that sign requests to it.
struct S3Config {
    std::string endpoint;  // http(s)://HOST[:PORT], requests path-style
    std::string region;
    std::string accessKey;
    std::string secretKey;
};

// The keys come from a file only its owner can read (lines "name = value": endpoint, region,
// access_key, secret_key), then from the environment (TIDEWELL_S3_ENDPOINT, _REGION,
// _ACCESS_KEY, _SECRET_KEY) for what the file lacks; never from the command line. Without a
// file named, systemd's $CREDENTIALS_DIRECTORY/s3 is read when it exists. Raises Exception.
S3Config LoadS3Config(const std::filesystem::path& file);

// A bucket and the prefix every key lies under, from s3://BUCKET/PREFIX.
struct S3Place {
    std::string bucket;
    std::string prefix;  // empty or ending in "/"
};
S3Place ParseS3Place(std::string_view uri);

// A request the store refused or that never got an answer.
class S3Error : public Exception {
public:
    S3Error(const std::string& what, long httpStatus, std::string code)
        : Exception(what), httpStatus_(httpStatus), code_(std::move(code)) {}
    long HttpStatus() const { return httpStatus_; }  // 0: no answer
    const std::string& Code() const { return code_; }

private:
    long httpStatus_;
    std::string code_;
};

// Bytes of an open file, sent as a request's body.
struct FileRange {
    int fd = -1;
    std::int64_t offset = 0;
    std::int64_t length = 0;
};

struct S3Object {
    std::string key;
    std::int64_t size = 0;
    std::int64_t modified = 0;  // seconds since 1970
};

struct S3Upload {
    std::string key;
    std::string uploadId;
    std::int64_t initiated = 0;
};

// The object store's requests this service makes, signed with AWS Signature Version 4 by
// libcurl, path-style. Bodies stream from files and replies into the caller's buffers, so no
// archive is ever held in memory. Connections are kept for reuse. Requests that may be
// repeated are, a few times, when the store did not answer or answered that it was busy.
// Thread-safe.
class S3Client {
public:
    S3Client(S3Config config, std::string bucket);
    S3Client(const S3Client&) = delete;
    S3Client& operator=(const S3Client&) = delete;
    ~S3Client();

    const std::string& Bucket() const { return bucket_; }

    // payloadSha256 is the hex SHA-256 of the body, which the signature then covers.
    void PutObject(const std::string& key, const FileRange& body, const std::string& payloadSha256);
    void PutSmallObject(const std::string& key, const std::string& body);
    std::string CreateMultipartUpload(const std::string& key);
    // Returns the part's ETag.
    std::string UploadPart(const std::string& key, const std::string& uploadId, int partNumber,
                           const FileRange& body, const std::string& payloadSha256);
    void CompleteMultipartUpload(const std::string& key, const std::string& uploadId,
                                 const std::vector<std::pair<int, std::string>>& parts);
    void AbortMultipartUpload(const std::string& key, const std::string& uploadId);
    std::vector<S3Upload> ListMultipartUploads(const std::string& prefix);

    // Reads `length` bytes from `offset` into out; raises S3Error (404 for a missing object).
    void GetRange(const std::string& key, std::int64_t offset, std::int64_t length, char* out);
    // A small object's bytes; nullopt when it does not exist.
    std::optional<std::string> GetSmallObject(const std::string& key, std::size_t maxBytes);
    // The object's size; nullopt when it does not exist.
    std::optional<std::int64_t> HeadObject(const std::string& key);
    // Succeeds for a key that does not exist.
    void DeleteObject(const std::string& key);
    void CopyObject(const std::string& from, const std::string& to);
    // Every object under the prefix, a page at a time.
    void ListObjects(const std::string& prefix,
                     const std::function<void(const std::vector<S3Object>&)>& page);

    // A key's path in a URL: each segment percent-encoded, the slashes kept.
    static std::string EscapePath(std::string_view key);
    // A query in the only form the signature accepts: sorted by name, names and values
    // percent-encoded, "name=" for a name without a value.
    static std::string CanonicalQuery(std::vector<std::pair<std::string, std::string>> query);

private:
    struct Request;
    struct Reply {
        long status = 0;
        std::string body;
        std::string etag;
    };
    Reply Perform(const Request& request);
    Reply Send(const Request& request, int attempts);
    CURL* Borrow();
    void Return(CURL* handle);

    S3Config config_;
    std::string bucket_;
    std::string sigv4_;
    std::mutex mutex_;
    std::vector<CURL*> idle_;
};

}  // namespace tidewell::webfolder
