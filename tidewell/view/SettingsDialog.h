#pragma once

#include "app/MainView.h"

class QWidget;

namespace tidewell {

// "설정": the web-folder service's address, how many safety archives each company keeps, and
// the account logged in with its 로그아웃 button. False when cancelled (settings unchanged).
bool EditWindowSettings(TWindowSettings& settings, QWidget* parent);

}  // namespace tidewell
