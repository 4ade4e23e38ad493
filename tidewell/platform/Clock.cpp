#include "platform/Clock.h"

#include <time.h>

namespace tidewell {
namespace {

class ComputerClock : public Clock {
public:
    TDateTime Now() const override {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        tm local{};
        localtime_r(&ts.tv_sec, &local);
        return EncodeDateTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                               local.tm_min, local.tm_sec,
                               static_cast<int>(ts.tv_nsec / 1'000'000)});
    }
};

}  // namespace

const Clock& SystemClock() {
    static const ComputerClock clock;
    return clock;
}

TDateTime NowAtFileResolution(const Clock& clock) {
    DateTimeParts parts = DecodeDateTime(clock.Now());
    parts.second -= parts.second % 2;
    parts.millisecond = 0;
    return EncodeDateTime(parts);
}

}  // namespace tidewell
