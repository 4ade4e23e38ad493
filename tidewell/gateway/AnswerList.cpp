#include "gateway/AnswerList.h"

#include <strings.h>

#include <charconv>
#include <cstdio>

#include "platform/CodePage.h"

namespace tidewell {
namespace {

template <typename Integer>
Integer ParseInteger(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (text.empty() || text.front() < '0' || text.front() > '9') return 0;  // "+-5"
    }
    Integer value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return 0;
    return value;
}

}  // namespace

void TAnswerList::SetText(std::string_view ansiBody) {
    lines_.clear();
    if (const auto nul = ansiBody.find('\0'); nul != std::string_view::npos) {
        ansiBody = ansiBody.substr(0, nul);
    }
    // CP949 never uses CR or LF inside a character, so splitting the converted text is safe.
    const std::string text = AnsiToUtf8(ansiBody);
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines_.push_back(text.substr(start));
            break;
        }
        lines_.push_back(text.substr(start, end - start));
        start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
}

const std::string* TAnswerList::Find(std::string_view key) const {
    for (const std::string& line : lines_) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos || equals != key.size()) continue;
        if (strncasecmp(line.data(), key.data(), key.size()) == 0) return &line;
    }
    return nullptr;
}

std::string TAnswerList::Values(std::string_view key) const {
    const std::string* line = Find(key);
    return line ? line->substr(key.size() + 1) : std::string();
}

bool TAnswerList::HasName(std::string_view key) const {
    return Find(key) != nullptr;
}

std::int32_t AnswerToInteger(std::string_view value) {
    return ParseInteger<std::int32_t>(value);
}

std::int64_t AnswerToInt64(std::string_view value) {
    return ParseInteger<std::int64_t>(value);
}

TDateTime AnswerToEpochTime(std::string_view value) {
    // Read wide: a 32-bit reading would turn every time after January 2038 into 1970.
    return UnixToDateTime(AnswerToInt64(value));
}

TDateTime AnswerToArchiveTime(std::string_view value) {
    return ArchiveTimeToDateTime(value).value_or(0.0);
}

std::string CompanyListKey(int index) {
    char name[16];
    std::snprintf(name, sizeof name, "C%03d", index);
    return name;
}

}  // namespace tidewell
