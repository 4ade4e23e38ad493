#include "usecase/RunProgress.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "company/Common.h"

namespace tidewell {
namespace {

// The speed is measured over this much of the latest transfer.
constexpr double kSpeedWindowSeconds = 5.0;
constexpr double kShortestMeasure = 0.5;

std::string Names(const std::vector<TRunSummary::Entry>& entries) {
    std::string names;
    for (const auto& entry : entries) names += (names.empty() ? "" : ", ") + entry.Company;
    return names;
}

}  // namespace

double TRunProgress::SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

TRunProgress::TRunProgress(Seconds seconds) : seconds_(std::move(seconds)) {}

void TRunProgress::Start(std::vector<std::int64_t> expected) {
    expected_ = std::move(expected);
    moved_.assign(expected_.size(), 0);
    earlier_.assign(expected_.size(), 0);
    current_ = -1;
    samples_.clear();
}

void TRunProgress::BeginCompany(int index) {
    current_ = std::clamp(index, 0, std::max(Count() - 1, 0));
    stageTotal_ = 0;
    stageDone_ = 0;
    samples_.clear();
}

void TRunProgress::Report(std::int64_t total, std::int64_t done) {
    if (current_ < 0 || current_ >= Count()) return;
    const auto i = static_cast<std::size_t>(current_);
    if (total <= 0) {
        // A stage that moves nothing: the speed of the transfer before it says nothing now.
        samples_.clear();
        return;
    }
    done = std::clamp<std::int64_t>(done, 0, total);
    if (stageTotal_ > 0 && (total != stageTotal_ || done < stageDone_)) earlier_[i] = moved_[i];
    stageTotal_ = total;
    stageDone_ = done;
    expected_[i] = earlier_[i] + total;
    moved_[i] = earlier_[i] + done;
    const double now = seconds_();
    samples_.emplace_back(now, DoneBytes());
    while (samples_.size() > 2 && now - samples_[1].first >= kSpeedWindowSeconds) {
        samples_.pop_front();
    }
}

void TRunProgress::EndCompany() {
    if (current_ < 0 || current_ >= Count()) return;
    const auto i = static_cast<std::size_t>(current_);
    expected_[i] = moved_[i];
    samples_.clear();
}

std::int64_t TRunProgress::DoneBytes() const {
    std::int64_t done = 0;
    for (std::int64_t bytes : moved_) done += bytes;
    return done;
}

std::int64_t TRunProgress::ExpectedBytes() const {
    std::int64_t expected = 0;
    for (std::size_t i = 0; i < expected_.size(); ++i)
        expected += std::max(expected_[i], moved_[i]);
    return expected;
}

std::optional<double> TRunProgress::BytesPerSecond() const {
    if (samples_.size() < 2) return std::nullopt;
    const double span = samples_.back().first - samples_.front().first;
    if (span < kShortestMeasure) return std::nullopt;
    return static_cast<double>(samples_.back().second - samples_.front().second) / span;
}

std::optional<double> TRunProgress::SecondsLeft() const {
    const auto speed = BytesPerSecond();
    if (!speed || *speed <= 0) return std::nullopt;
    return static_cast<double>(std::max<std::int64_t>(ExpectedBytes() - DoneBytes(), 0)) / *speed;
}

std::string DurationText(double seconds) {
    const auto whole = static_cast<std::int64_t>(std::ceil(std::max(seconds, 0.0)));
    if (whole < 60) return std::to_string(whole) + "초";
    if (whole < 3600) {
        const std::int64_t s = whole % 60;
        return std::to_string(whole / 60) + "분" + (s ? " " + std::to_string(s) + "초" : "");
    }
    const std::int64_t m = whole / 60 % 60;
    return std::to_string(whole / 3600) + "시간" + (m ? " " + std::to_string(m) + "분" : "");
}

std::string RunFiguresText(const TRunProgress& progress) {
    std::string text;
    const auto add = [&](const std::string& part) { text += (text.empty() ? "" : " · ") + part; };
    if (progress.DoneBytes() > 0 || progress.ExpectedBytes() > 0) {
        add(FormatSize(progress.DoneBytes()) +
            (progress.ExpectedBytes() > 0 ? "/" + FormatSize(progress.ExpectedBytes()) : ""));
    }
    if (const auto speed = progress.BytesPerSecond()) {
        add(FormatSize(static_cast<std::int64_t>(*speed)) + "/초");
    }
    if (const auto left = progress.SecondsLeft()) add("약 " + DurationText(*left) + " 남음");
    return text;
}

std::string RunProgressText(const TRunProgress& progress) {
    std::string text;
    if (progress.Position() > 0) {
        text = std::to_string(progress.Position()) + "/" + std::to_string(progress.Count()) +
               " 사업장";
    }
    const std::string figures = RunFiguresText(progress);
    if (!figures.empty()) text += (text.empty() ? "" : " · ") + figures;
    return text;
}

std::string RunSummaryHeadline(const TRunSummary& summary) {
    std::string counts;
    const auto count = [&](const char* what, std::size_t n) {
        if (n > 0)
            counts += (counts.empty() ? "" : ", ") + std::string(what) + " " + std::to_string(n);
    };
    count("전송", summary.Transferred.size());
    count("건너뜀", summary.PassedOver.size());
    count("실패", summary.Refused.size());
    count("취소", summary.Cancelled.size());
    std::string text = summary.Stopped ? "전송을 취소했습니다." : "전송을 마쳤습니다.";
    if (!counts.empty()) text += " (" + counts + ")";
    return text;
}

std::string RunSummaryText(const TRunSummary& summary) {
    std::string text = RunSummaryHeadline(summary);
    if (!summary.Transferred.empty())
        text += "\r\n\r\n전송한 사업장: " + Names(summary.Transferred);
    if (!summary.PassedOver.empty()) {
        text += "\r\n\r\n건너뛴 사업장:";
        for (const auto& entry : summary.PassedOver) {
            text += "\r\n" + entry.Company + ": " + entry.Why;
        }
    }
    if (!summary.Refused.empty()) {
        text += "\r\n\r\n전송하지 못한 사업장:";
        // Each reason may take lines of its own: a blank line between companies.
        for (std::size_t i = 0; i < summary.Refused.size(); ++i) {
            const auto& entry = summary.Refused[i];
            text += (i == 0 ? "\r\n" : "\r\n\r\n") + entry.Company + "\r\n" + entry.Why;
        }
    }
    if (!summary.Cancelled.empty()) text += "\r\n\r\n취소한 사업장: " + Names(summary.Cancelled);
    return text;
}

}  // namespace tidewell
