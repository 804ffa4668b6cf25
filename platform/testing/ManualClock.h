// A clock that a test sets and advances; sleeping is recorded and moves the time on.
#pragma once

#include <vector>

#include "CallLog.h"
#include "System.h"

namespace quaymark {

class ManualClock : public Clock {
public:
    // 2015-01-01 00:00:00 UTC, an arbitrary fixed start.
    static constexpr PlistDate kStart{441763200.0};

    explicit ManualClock(CallLog& calls) : _calls(calls) {}

    PlistDate now() override { return _now; }
    // Records "sleep <n>us" and advances the time by the duration; never waits.
    void sleepFor(std::chrono::microseconds duration) override;

    void setNow(PlistDate now) { _now = now; }
    void advance(double seconds) { _now.sinceReferenceDate += seconds; }
    const std::vector<std::chrono::microseconds>& sleeps() const { return _sleeps; }

private:
    CallLog& _calls;
    PlistDate _now = kStart;
    std::vector<std::chrono::microseconds> _sleeps;
};

}  // namespace quaymark
