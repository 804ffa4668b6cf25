#include "ImmediateApplication.h"

#include <stdexcept>

namespace quaymark {

int ImmediateApplication::run(std::function<void()> didFinishLaunching) {
    _calls.record("Application.run");
    ++_runCount;
    _terminated = false;
    if (didFinishLaunching)
        didFinishLaunching();
    if (!_terminated)
        throw std::logic_error("the event loop was never terminated");
    return 0;
}

void ImmediateApplication::terminate() {
    _calls.record("Application.terminate");
    ++_terminateCount;
    _terminated = true;
}

}  // namespace quaymark
