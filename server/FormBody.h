#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tidewell::webfolder {

// An application/x-www-form-urlencoded body. The client percent-encodes CP949 bytes, so
// names and values are decoded to bytes first and read as CP949 afterwards.
class FormFields {
public:
    // Nullopt when a "%" is not followed by two hexadecimal digits.
    static std::optional<FormFields> Parse(std::string_view body);

    // The first field of that name (ASCII letter case ignored, as ASP did), decoded bytes.
    std::optional<std::string> Bytes(std::string_view name) const;
    // The same read as CP949, in UTF-8, with leading and trailing blanks stripped; empty when
    // absent.
    std::string Text(std::string_view name) const;

private:
    std::vector<std::pair<std::string, std::string>> fields_;
};

}  // namespace tidewell::webfolder
