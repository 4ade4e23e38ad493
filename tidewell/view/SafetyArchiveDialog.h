#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/MainView.h"
#include "company/SafetyArchives.h"

class QWidget;

namespace tidewell {

// "이전 자료로 되돌리기": a company's safety archives, newest first, with the time of the data
// each holds and its size, and a note (how many are kept, the web folder's copies). One chosen
// archive goes back (되돌리기), chosen ones are removed (지우기); nullopt when the user cancels.
std::optional<TSafetyArchiveChoice> ChooseSafetyArchive(const std::string& companyName,
                                                        const std::vector<TSafetyArchive>& archives,
                                                        const std::string& note, QWidget* parent);

}  // namespace tidewell
