#include "FormBody.h"

#include "TextRules.h"
#include "platform/CodePage.h"

namespace tidewell::webfolder {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<std::string> Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::optional<FormFields> FormFields::Parse(std::string_view body) {
    FormFields form;
    while (!body.empty()) {
        const auto amp = body.find('&');
        const auto pair = body.substr(0, amp);
        body = amp == std::string_view::npos ? std::string_view() : body.substr(amp + 1);
        if (pair.empty()) continue;
        const auto eq = pair.find('=');
        auto name = Decode(pair.substr(0, eq));
        auto value =
            Decode(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1));
        if (!name || !value) return std::nullopt;
        form.fields_.emplace_back(std::move(*name), std::move(*value));
    }
    return form;
}

std::optional<std::string> FormFields::Bytes(std::string_view name) const {
    for (const auto& [key, value] : fields_) {
        if (key.size() == name.size() && LowerAscii(key) == LowerAscii(name)) return value;
    }
    return std::nullopt;
}

std::string FormFields::Text(std::string_view name) const {
    const auto bytes = Bytes(name);
    if (!bytes) return {};
    return std::string(StripBlanks(AnsiToUtf8(*bytes)));
}

}  // namespace tidewell::webfolder
