#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tidewell {

// How far one transfer command has come over all its companies: which company of how many,
// the bytes moved of those expected, the speed and the time left. The window's panel and
// tidewell-cli's progress line both show it.
class TRunProgress {
public:
    // A steady count of seconds (never going back), for the speed.
    using Seconds = std::function<double()>;
    static double SteadySeconds();

    explicit TRunProgress(Seconds seconds = &SteadySeconds);

    // The run takes up companies that are expected to move these bytes each (0: not known).
    void Start(std::vector<std::int64_t> expected);
    // The company at index (0-based) starts.
    void BeginCompany(int index);
    // A progress event of the company under way: its transfer stage moved done of total bytes
    // (total 0: a stage that moves none, packing or restoring). A company may transfer twice
    // (the web folder's archive kept here, then the upload): a new total, or a count that
    // starts again, is a transfer of its own, added to what the one before moved.
    void Report(std::int64_t total, std::int64_t done);
    // The company under way is over; what it did not move is expected no more.
    void EndCompany();

    int Position() const { return current_ + 1; }  // 1-based; 0 before the first
    int Count() const { return static_cast<int>(expected_.size()); }
    std::int64_t DoneBytes() const;
    std::int64_t ExpectedBytes() const;
    // Over the last few seconds of the transfer under way; nullopt until there is a measure.
    std::optional<double> BytesPerSecond() const;
    // At that speed, for what the whole run is still expected to move.
    std::optional<double> SecondsLeft() const;

private:
    Seconds seconds_;
    std::vector<std::int64_t> expected_;
    std::vector<std::int64_t> moved_;
    std::vector<std::int64_t> earlier_;  // moved by the company's transfers before this one
    std::int64_t stageTotal_ = 0;        // the company's transfer under way
    std::int64_t stageDone_ = 0;
    int current_ = -1;
    std::deque<std::pair<double, std::int64_t>> samples_;  // time, bytes of the run
};

// "2/3 사업장 · 12.3MB/45.6MB · 1.2MB/초 · 약 15초 남음": what is known of it.
std::string RunProgressText(const TRunProgress& progress);
// The same without the companies: "12.3MB/45.6MB · 1.2MB/초 · 약 15초 남음".
std::string RunFiguresText(const TRunProgress& progress);
// "15초", "2분 10초", "1시간 5분".
std::string DurationText(double seconds);

// What one command came to for each company it took up, for the summary at its end.
struct TRunSummary {
    struct Entry {
        std::string Company;
        std::string Why;  // empty for a transferred one
    };
    std::vector<Entry> Transferred;
    std::vector<Entry> PassedOver;  // not taken up, and why (no folder here, changed since ...)
    std::vector<Entry> Refused;     // refused by the service or failed, with the reason
    std::vector<Entry> Cancelled;   // the one the user stopped and those not reached after it
    bool Stopped = false;

    bool Empty() const {
        return Transferred.empty() && PassedOver.empty() && Refused.empty() && Cancelled.empty();
    }
};

// The summary as the window's box shows it: the headline, then the companies of each kind
// ("\r\n" between lines).
std::string RunSummaryText(const TRunSummary& summary);
// Its first line, with the counts: "전송을 마쳤습니다. (전송 2, 실패 1)".
std::string RunSummaryHeadline(const TRunSummary& summary);

}  // namespace tidewell
