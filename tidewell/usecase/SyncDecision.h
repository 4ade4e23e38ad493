#pragma once

#include <string>

#include "gateway/SyncMode.h"
#include "platform/DateTime.h"

namespace tidewell {

struct TTidewellCompany;

// Which way a company's data should travel: the one rule the window and tidewell-cli share.
struct TSyncDecision {
    // Why the user must say which side to keep; such a row is never checked by itself.
    enum TAsk {
        akNone,
        akBothChanged,  // both sides changed since they last agreed
        akFutureTime,   // only the times speak, and one of them lies more than a day ahead
        akNeverAgreed,  // both sides hold data that never agreed (a folder added on a second
                        // computer), and their times differ
    };
    TSyncMode Mode = smNone;  // smNone, smUpload or smDownload
    TAsk Ask = akNone;
    bool LocalInFuture = false;  // the local data's time is more than a day ahead of now
    bool WebInFuture = false;    // so is the time of the web folder's newest archive
};

// With an agreed state (both sides have data and the slot recorded when they last agreed):
// the local side changed when its time differs from the agreed one in either direction, or
// when its database no longer looks as it did then (exact time, size); the web side changed
// when its newest archive is not the agreed one (name, size). Only a change on one side alone
// travels by itself. Without one, data on one side alone travels to the other; data on both
// sides whose times differ to the second counts as changed on both: the user says which to keep
// (akFutureTime when one of the times lies more than a day ahead, else akNeverAgreed).
TSyncDecision DecideSync(const TTidewellCompany& company, TDateTime now);

// More than a day ahead of now: a clock that was wrong when the time was taken.
bool IsFutureTime(TDateTime time, TDateTime now);

// The user must say which side to keep (see DecideSync): both sides changed since they last
// agreed, or they never agreed. The row still points the way its times say, but travels only
// when the user has chosen.
bool BothSidesChanged(const TTidewellCompany& company, TDateTime now);

// A direction in the words of the list's state captions: 올리기, 내려받기, 필요없음.
std::string SyncModeWords(TSyncMode mode);

}  // namespace tidewell
