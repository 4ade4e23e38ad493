#pragma once

#include <cstddef>
#include <functional>
#include <string_view>
#include <utility>

#include "HttpDaemon.h"

struct MHD_PostProcessor;

namespace tidewell::webfolder {

// A multipart/form-data body read part by part as it arrives, through the HTTP library's
// parser. Part headers must fit in the parser's buffer; values stream through in pieces.
class MultipartStream {
public:
    using PartStart = std::function<void(std::string_view name, std::string_view filename)>;
    using PartData = std::function<void(const char* data, std::size_t size)>;

    static constexpr std::size_t kBufferBytes = 64 * 1024;

    // False from Valid when the request is not multipart with a boundary.
    MultipartStream(const HttpRequest& request, PartStart start, PartData data);
    MultipartStream(const MultipartStream&) = delete;
    MultipartStream& operator=(const MultipartStream&) = delete;
    ~MultipartStream();

    bool Valid() const { return parser_ != nullptr; }
    // False when the body is malformed; nothing more should be fed then.
    bool Feed(const char* data, std::size_t size);
    // True when what was fed was one whole, well-formed multipart body.
    bool Finish();

private:
    PartStart start_;
    PartData data_;
    std::pair<PartStart*, PartData*> callbacks_{nullptr, nullptr};
    MHD_PostProcessor* parser_ = nullptr;
    bool broken_ = false;
};

}  // namespace tidewell::webfolder
