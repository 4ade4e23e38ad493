#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"

namespace tidewell {

// The service's reply: ordered KEY=value lines, held as UTF-8.
class TAnswerList {
public:
    void Clear() { lines_.clear(); }
    void Add(std::string line) { lines_.push_back(std::move(line)); }
    // Replaces the content with a CP949 reply body: lines end at CR LF, a lone CR or a lone LF,
    // and a zero byte ends the text.
    void SetText(std::string_view ansiBody);

    std::size_t Count() const { return lines_.size(); }
    const std::vector<std::string>& Lines() const { return lines_; }

    // The value of the first line whose name (the text before its first "=") equals key,
    // letter case aside; empty when no line carries the key.
    std::string Values(std::string_view key) const;
    bool HasName(std::string_view key) const;
    // STATUS is exactly "0".
    bool Succeeded() const { return Values("STATUS") == "0"; }

private:
    const std::string* Find(std::string_view key) const;

    std::vector<std::string> lines_;
};

// Reply values: a signed decimal that is not a valid number of the type reads as 0.
std::int32_t AnswerToInteger(std::string_view value);
std::int64_t AnswerToInt64(std::string_view value);
// Seconds since 1970-01-01 00:00:00, taken as local time without any zone conversion.
TDateTime AnswerToEpochTime(std::string_view value);
// The leading 14 digits as yyyymmddhhnnss; zero when they are not a valid time.
TDateTime AnswerToArchiveTime(std::string_view value);

// The reply key of the index-th company of a company list: "C000", "C007", "C1000".
std::string CompanyListKey(int index);

}  // namespace tidewell
