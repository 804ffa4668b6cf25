// An application life cycle without an event loop: run() calls the launch callback at once.
#pragma once

#include "CallLog.h"
#include "System.h"

namespace quaymark {

class ImmediateApplication : public Application {
public:
    explicit ImmediateApplication(CallLog& calls) : _calls(calls) {}

    // Calls `didFinishLaunching` and returns 0 once it has called terminate(). A callback
    // that returns without terminating would leave a real event loop running for ever, so
    // that raises std::logic_error.
    int run(std::function<void()> didFinishLaunching) override;
    void terminate() override;

    int runCount() const { return _runCount; }
    int terminateCount() const { return _terminateCount; }

private:
    CallLog& _calls;
    int _runCount = 0;
    int _terminateCount = 0;
    bool _terminated = false;
};

}  // namespace quaymark
