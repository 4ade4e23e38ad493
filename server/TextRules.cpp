#include "TextRules.h"

#include "platform/CodePage.h"

namespace tidewell::webfolder {

std::string_view StripBlanks(std::string_view text) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::string ReplaceControls(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < ' ' || byte == 0x7F) c = ' ';
    }
    return out;
}

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool IsCompanyKey(std::string_view key) {
    if (key.empty() || key.size() > 64) return false;
    for (char c : key) {
        if (c <= ' ' || c > '~') return false;
    }
    return true;
}

bool FitsCodePage(std::string_view utf8) {
    return AnsiToUtf8(Utf8ToAnsi(utf8)) == utf8;
}

std::optional<std::string> StrictAnsiToUtf8(std::string_view ansi) {
    std::string utf8 = AnsiToUtf8(ansi);
    if (Utf8ToAnsi(utf8) != ansi) return std::nullopt;
    return utf8;
}

}  // namespace tidewell::webfolder
