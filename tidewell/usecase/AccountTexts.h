#pragma once

#include <cstdint>
#include <string>

namespace tidewell {

class TTidewellUser;

// The account header's lines, as the window's labels and tidewell-cli's account show them.
std::string UserNameText(const TTidewellUser& user);  // "사용자명: " and the holder's name
std::string DiskUsedText(std::int64_t diskUsed);      // "웹폴더사용량: " and the size

// The service period: its line, and when it has ended or ends within 30 days a warning (red,
// with a tooltip that says what to do).
struct TServicePeriodText {
    std::string Text;
    std::string Tooltip;  // empty: none
    bool Warning = false;
};
TServicePeriodText ServicePeriodText(const TTidewellUser& user);

}  // namespace tidewell
