// A clock that a test sets and advances; sleeping is recorded and moves the time on.
#pragma once

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
    void sleepFor(std::chrono::microseconds duration) override {
        _calls.record("sleep", std::to_string(duration.count()) + "us");
        advance(std::chrono::duration<double>(duration).count());
    }

    void advance(double seconds) { _now.sinceReferenceDate += seconds; }

private:
    CallLog& _calls;
    PlistDate _now = kStart;
};

}  // namespace quaymark
