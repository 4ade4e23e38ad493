#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tidewell::cli {

// What went wrong in a run, in the words the user was shown.
class RunProblems {
public:
    void Add(const std::string& text);
    // Whether a problem already begins with this text (a company's name, say).
    bool Mentions(std::string_view start) const;
    const std::vector<std::string>& Texts() const { return texts_; }

private:
    std::vector<std::string> texts_;
};

// The last scheduled run as it recorded itself, for `schedule status`.
struct LastRun {
    std::string Started;        // yyyy-mm-dd hh:nn:ss, local time
    std::string Ended;          // empty while it runs, or when it never got to the end
    std::optional<int> Status;  // exit status
    std::vector<std::string> Problems;
};

// $XDG_CONFIG_HOME/QuenlowBarcode/tidewell-sync-last-run.
std::filesystem::path LastRunFile();
std::optional<LastRun> ReadLastRun();
void RecordRunStart();

// One line of a message: its first line break becomes ": " (after a full stop, a space), the
// others spaces. "가게\r\n용량이 부족합니다" reads "가게: 용량이 부족합니다".
std::string OneLine(std::string_view text);

inline constexpr const char* kFailureTitle = "Tidewell: 예약 백업을 마치지 못했습니다";

// The end of a scheduled run: records it for `schedule status`, and when it failed tells the
// user once, as a desktop notification and in the same words on err (the journal). A run
// stopped by a signal is recorded but not notified: that is the session or the user ending it.
void FinishScheduledRun(int status, const RunProblems& problems, std::ostream& err);

}  // namespace tidewell::cli
