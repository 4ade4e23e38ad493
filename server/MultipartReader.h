#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tidewell::webfolder {

// Receives what a multipart body holds, part by part. Either call may ask the reader to stop
// where it is (return true), so that slow work can run before the rest is read.
class MultipartSink {
public:
    virtual ~MultipartSink() = default;
    virtual bool PartBegins(std::string_view name, std::string_view filename) = 0;
    virtual bool PartData(const char* data, std::size_t size) = 0;
};

// A multipart/form-data body read as it arrives. A part ends only at a real delimiter line:
// CR LF, "--", the boundary, then optional blanks and CR LF (or "--" for the last), so the
// boundary's text anywhere else inside a file is data. Part headers are bounded.
class MultipartReader {
public:
    static constexpr std::size_t kMaxHeaderBytes = 16 * 1024;

    // The boundary parameter of a Content-Type value; nullopt when it has none usable.
    static std::optional<std::string> BoundaryOf(std::string_view contentType);

    explicit MultipartReader(std::string_view boundary);

    // Reads from the bytes given and returns how many it took: all of them, unless the sink
    // asked to stop (then the caller offers the rest again later) or the body is malformed.
    std::size_t Feed(const char* data, std::size_t size, MultipartSink& sink);
    bool Malformed() const { return state_ == State::Malformed; }
    // True when what was fed was one whole, well-formed body.
    bool Complete() const { return state_ == State::Epilogue; }

private:
    enum class State { Preamble, Headers, Body, Epilogue, Malformed };
    enum class Match { No, Maybe, Delimiter, Last };

    // Whether text starts with a delimiter line (the leading CR LF included).
    Match DelimiterAt(std::string_view text, std::size_t& length) const;
    // Reads within text, which is the held-back bytes or the caller's; returns bytes taken.
    std::size_t Step(std::string_view text, MultipartSink& sink, bool& stop);
    std::size_t ScanBody(std::string_view text, MultipartSink& sink, bool& stop);
    bool BeginPart(MultipartSink& sink);

    std::string delimiter_;  // CR LF "--" boundary
    State state_ = State::Preamble;
    std::string held_;     // bytes that may start a delimiter, kept until it is clear
    std::string headers_;  // the current part's header block
};

}  // namespace tidewell::webfolder
