#pragma once

#include "platform/DateTime.h"

namespace tidewell {

// Where the program takes the current time from. Everything that needs "now" asks a clock it
// was given, so a test can move time without touching the computer's.
class Clock {
public:
    virtual ~Clock() = default;
    // The current local time, to the millisecond.
    virtual TDateTime Now() const = 0;
};

// The computer's own clock.
const Clock& SystemClock();

// Now at the two-second resolution of file times: a time given to a file reads back as this.
TDateTime NowAtFileResolution(const Clock& clock);

}  // namespace tidewell
