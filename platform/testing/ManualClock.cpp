#include "ManualClock.h"

#include <string>

namespace quaymark {

void ManualClock::sleepFor(std::chrono::microseconds duration) {
    _calls.record("sleep", std::to_string(duration.count()) + "us");
    _sleeps.push_back(duration);
    _now.sinceReferenceDate += std::chrono::duration<double>(duration).count();
}

}  // namespace quaymark
