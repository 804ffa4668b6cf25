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
    int run(std::function<void()> didFinishLaunching) override {
        _calls.record("Application.run");
        ++_runCount;
        _terminated = false;
        if (didFinishLaunching)
            didFinishLaunching();
        if (!_terminated)
            throw std::logic_error("the event loop was never terminated");
        return 0;
    }
    void terminate() override {
        _calls.record("Application.terminate");
        _terminated = true;
    }

    int runCount() const { return _runCount; }

private:
    CallLog& _calls;
    int _runCount = 0;
    bool _terminated = false;
};

}  // namespace quaymark
