#include "MultipartStream.h"

#include <microhttpd.h>

namespace tidewell::webfolder {
namespace {

MHD_Result IteratePart(void* cls, MHD_ValueKind, const char* key, const char* filename, const char*,
                       const char*, const char* data, std::uint64_t offset, std::size_t size) {
    auto& parts =
        *static_cast<std::pair<MultipartStream::PartStart*, MultipartStream::PartData*>*>(cls);
    // A value's first piece comes at offset 0: that is where a new part begins.
    if (offset == 0) (*parts.first)(key ? key : "", filename ? filename : "");
    if (size > 0) (*parts.second)(data, size);
    return MHD_YES;
}

}  // namespace

MultipartStream::MultipartStream(const HttpRequest& request, PartStart start, PartData data)
    : start_(std::move(start)), data_(std::move(data)) {
    if (request.contentType.find("boundary=") == std::string::npos) return;
    callbacks_ = {&start_, &data_};
    parser_ = MHD_create_post_processor(request.connection, kBufferBytes, IteratePart, &callbacks_);
}

MultipartStream::~MultipartStream() {
    if (parser_) MHD_destroy_post_processor(parser_);
}

bool MultipartStream::Feed(const char* data, std::size_t size) {
    if (!parser_ || broken_) return false;
    if (MHD_post_process(parser_, data, size) != MHD_YES) broken_ = true;
    return !broken_;
}

bool MultipartStream::Finish() {
    if (!parser_) return false;
    const bool whole = MHD_destroy_post_processor(parser_) == MHD_YES;
    parser_ = nullptr;
    return whole && !broken_;
}

}  // namespace tidewell::webfolder
