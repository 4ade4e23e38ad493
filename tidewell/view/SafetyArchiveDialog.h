#pragma once

#include <optional>
#include <string>
#include <vector>

#include "company/SafetyArchives.h"

class QWidget;

namespace tidewell {

// "이전 자료로 되돌리기": a company's safety archives, newest first, with the time of the data
// each holds and its size. The index chosen, or nullopt when the user cancels.
std::optional<int> ChooseSafetyArchive(const std::string& companyName,
                                       const std::vector<TSafetyArchive>& archives,
                                       const std::string& note, QWidget* parent);

}  // namespace tidewell
