#include "usecase/SyncDecision.h"

#include <string>

#include "gateway/TidewellUser.h"

namespace tidewell {
namespace {

constexpr TDateTime kFutureMargin = 1.0;  // one day

// Times compare to the second, as their fourteen digits.
std::string Second(TDateTime time) {
    return FormatDateTime("yyyymmddhhnnss", time);
}

}  // namespace

std::string SyncModeWords(TSyncMode mode) {
    switch (mode) {
        case smUpload:
        case smUserUpload:
            return "올리기";
        case smDownload:
        case smUserDownload:
            return "내려받기";
        default:
            return "필요없음";
    }
}

bool BothSidesChanged(const TTidewellCompany& company, TDateTime now) {
    return DecideSync(company, now).Ask != TSyncDecision::akNone;
}

bool IsFutureTime(TDateTime time, TDateTime now) {
    return time > now + kFutureMargin;
}

TSyncDecision DecideSync(const TTidewellCompany& company, TDateTime now) {
    TSyncDecision decision;
    decision.LocalInFuture = IsFutureTime(company.LocalModified, now);
    decision.WebInFuture = IsFutureTime(company.LatestFileTime, now);
    const std::string local = Second(company.LocalModified);
    const std::string web = Second(company.LatestFileTime);
    const TSyncMode byTime = web < local ? smUpload : web > local ? smDownload : smNone;

    const TAgreedState& agreed = company.Synced;
    if (agreed.Time > 0 && company.LocalModified > 0 && company.LatestFileTime > 0) {
        const std::string then = Second(agreed.Time);
        const bool localChanged =
            local != then || (agreed.Local.size >= 0 && company.LocalFile != agreed.Local);
        // An agreement noted before archives were recorded by name knows only the time.
        const bool webChanged = agreed.Archive.empty()
                                    ? web != then
                                    : company.LatestFileName != agreed.Archive ||
                                          company.LatestFileSize != agreed.ArchiveSize;
        if (localChanged && webChanged) {
            decision.Ask = TSyncDecision::akBothChanged;
            // The times still say which way the row points until the user chooses.
            decision.Mode = byTime == smNone ? smUpload : byTime;
        } else {
            decision.Mode = localChanged ? smUpload : webChanged ? smDownload : smNone;
        }
        return decision;
    }
    decision.Mode = byTime;
    // Data on both sides that never agreed (a copy of the folder added on a second computer):
    // the later time may be the older work, so the user says which is kept.
    if (byTime != smNone && company.LocalModified > 0 && company.LatestFileTime > 0) {
        decision.Ask = decision.LocalInFuture || decision.WebInFuture
                           ? TSyncDecision::akFutureTime
                           : TSyncDecision::akNeverAgreed;
    }
    return decision;
}

}  // namespace tidewell
