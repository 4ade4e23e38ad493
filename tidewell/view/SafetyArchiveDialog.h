#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/MainView.h"
#include "company/SafetyArchives.h"

class QWidget;

namespace tidewell {

// "이전 자료로 되돌리기": a company's safety archives, newest first, with the time of the data
// each holds and its size, and a note (how many are kept, the web folder's copies). Chosen ones
// are removed through remove (지우기) and the dialog goes on with the list left, closing once
// none is; the index of the one chosen to go back to (되돌리기), nullopt when the user cancels.
std::optional<int> ChooseSafetyArchive(const std::string& companyName,
                                       const TSafetyArchiveList& list,
                                       const TSafetyArchiveRemoval& remove, QWidget* parent);

}  // namespace tidewell
