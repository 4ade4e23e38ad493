#include "MultipartReader.h"

#include <algorithm>
#include <cstring>

#include "TextRules.h"

namespace tidewell::webfolder {
namespace {

// Blanks allowed between the boundary and the end of its line.
constexpr std::size_t kMaxPadding = 64;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// The value of a parameter (name="x" or name=x) in a header value such as
// `form-data; name="file"; filename="C:\Temp\a.bck"`. Quoted values end at the next quote:
// the client does not escape the backslashes of its paths.
std::optional<std::string> Parameter(std::string_view value, std::string_view wanted) {
    std::size_t at = value.find(';');
    while (at != std::string_view::npos) {
        std::string_view rest = value.substr(at + 1);
        const auto eq = rest.find('=');
        if (eq == std::string_view::npos) return std::nullopt;
        const std::string name = LowerAscii(Trim(rest.substr(0, eq)));
        rest = rest.substr(eq + 1);
        while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
        std::string_view found;
        std::size_t next = 0;
        if (!rest.empty() && rest.front() == '"') {
            const auto close = rest.find('"', 1);
            if (close == std::string_view::npos) return std::nullopt;
            found = rest.substr(1, close - 1);
            next = rest.find(';', close);
        } else {
            next = rest.find(';');
            found = Trim(rest.substr(0, next));
        }
        if (name == wanted) return std::string(found);
        if (next == std::string_view::npos) return std::nullopt;
        at = static_cast<std::size_t>(rest.data() + next - value.data());
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> MultipartReader::BoundaryOf(std::string_view contentType) {
    const auto boundary = Parameter(contentType, "boundary");
    // RFC 2046: 1 to 70 characters.
    if (!boundary || boundary->empty() || boundary->size() > 70) return std::nullopt;
    return boundary;
}

MultipartReader::MultipartReader(std::string_view boundary)
    : delimiter_("\r\n--" + std::string(boundary)),
      // The first delimiter may open the body without a line break before it.
      held_("\r\n") {}

MultipartReader::Match MultipartReader::DelimiterAt(std::string_view text,
                                                    std::size_t& length) const {
    if (text.size() < delimiter_.size()) {
        return std::string_view(delimiter_).starts_with(text) ? Match::Maybe : Match::No;
    }
    if (!text.starts_with(delimiter_)) return Match::No;
    std::size_t at = delimiter_.size();
    if (at == text.size()) return Match::Maybe;
    if (text[at] == '-') {
        if (at + 1 == text.size()) return Match::Maybe;
        if (text[at + 1] != '-') return Match::No;
        length = at + 2;
        return Match::Last;
    }
    while (at < text.size() && IsBlank(text[at])) {
        if (++at - delimiter_.size() > kMaxPadding) return Match::No;
    }
    if (at == text.size()) return Match::Maybe;
    if (text[at] != '\r') return Match::No;
    if (at + 1 == text.size()) return Match::Maybe;
    if (text[at + 1] != '\n') return Match::No;
    length = at + 2;
    return Match::Delimiter;
}

std::size_t MultipartReader::ScanBody(std::string_view text, MultipartSink& sink, bool& stop) {
    const bool keep = state_ == State::Body;
    std::size_t from = 0;
    while (true) {
        const void* found = std::memchr(text.data() + from, '\r', text.size() - from);
        const std::size_t candidate =
            found ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data())
                  : text.size();
        std::size_t length = 0;
        const Match match =
            found ? DelimiterAt(text.substr(candidate), length) : Match::Maybe;  // end of text
        if (match == Match::No) {
            from = candidate + 1;
            continue;
        }
        if (keep && candidate > 0) stop = sink.PartData(text.data(), candidate) || stop;
        if (match == Match::Maybe) return candidate;
        state_ = match == Match::Last ? State::Epilogue : State::Headers;
        headers_ = "\r\n";
        return candidate + length;
    }
}

bool MultipartReader::BeginPart(MultipartSink& sink) {
    std::string name, filename;
    std::string_view block = std::string_view(headers_).substr(2);
    while (!block.empty()) {
        const auto end = block.find("\r\n");
        const std::string_view line = block.substr(0, end);
        block = end == std::string_view::npos ? std::string_view() : block.substr(end + 2);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        if (LowerAscii(Trim(line.substr(0, colon))) != "content-disposition") continue;
        const std::string_view value = line.substr(colon + 1);
        name = Parameter(value, "name").value_or("");
        filename = Parameter(value, "filename").value_or("");
    }
    headers_.clear();
    return sink.PartBegins(name, filename);
}

std::size_t MultipartReader::Step(std::string_view text, MultipartSink& sink, bool& stop) {
    switch (state_) {
        case State::Preamble:
        case State::Body:
            return ScanBody(text, sink, stop);
        case State::Headers: {
            // The block ends at an empty line; headers_ starts with the CR LF before it.
            const std::size_t before = headers_.size();
            const std::size_t searchFrom = before >= 3 ? before - 3 : 0;
            headers_.append(text.data(), std::min(text.size(), kMaxHeaderBytes + 4));
            const auto end = headers_.find("\r\n\r\n", searchFrom);
            if (end == std::string::npos) {
                if (headers_.size() > kMaxHeaderBytes) state_ = State::Malformed;
                return state_ == State::Malformed ? 0 : text.size();
            }
            const std::size_t used = end + 4 - before;
            headers_.resize(end + 2);
            state_ = State::Body;
            stop = BeginPart(sink) || stop;
            return used;
        }
        case State::Epilogue:
            return text.size();
        case State::Malformed:
            return 0;
    }
    return 0;
}

std::size_t MultipartReader::Feed(const char* data, std::size_t size, MultipartSink& sink) {
    // Enough to settle whether held-back bytes start a delimiter.
    const std::size_t look = delimiter_.size() + kMaxPadding + 4;
    std::size_t taken = 0;
    bool stop = false;
    while (state_ != State::Malformed) {
        if (!held_.empty()) {
            if (taken == size) return taken;
            const std::size_t added = std::min(size - taken, look);
            held_.append(data + taken, added);
            taken += added;
            // Settle the held-back bytes, then hand back what came from the caller untouched,
            // so that a part never begins while held-back bytes are being read.
            std::size_t used = 0;
            while (used < held_.size() && held_.size() - used > added) {
                const std::size_t n = Step(std::string_view(held_).substr(used), sink, stop);
                if (n == 0) break;
                used += n;
            }
            const std::size_t left = held_.size() - used;
            if (left <= added) {
                taken -= left;
                held_.clear();
            } else {
                held_.erase(0, used);
            }
            continue;
        }
        if (taken == size || stop) return taken;
        const std::string_view rest(data + taken, size - taken);
        const std::size_t n = Step(rest, sink, stop);
        if (n == 0 && state_ != State::Malformed) {
            held_.assign(rest);  // a possible delimiter cut by the end of the bytes
            return size;
        }
        taken += n;
    }
    return taken;
}

}  // namespace tidewell::webfolder
