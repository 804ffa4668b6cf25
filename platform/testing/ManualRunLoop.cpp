#include "ManualRunLoop.h"

#include <stdexcept>
#include <string>

namespace quaymark {

void ManualRunLoop::post(std::function<void()> work) {
    _queue.push_back(std::move(work));
}

void ManualRunLoop::runQueuedWork() {
    while (!_queue.empty() && !_stopStatus) {
        std::function<void()> work = std::move(_queue.front());
        _queue.pop_front();
        work();
    }
}

void ManualRunLoop::runFor(std::chrono::milliseconds duration) {
    _calls.record("RunLoop.runFor", std::to_string(duration.count()) + "ms");
    _slices.push_back(duration);
    runQueuedWork();
    if (_sliceHook)
        _sliceHook(_slices.size());
    _clock.advance(std::chrono::duration<double>(duration).count());
}

int ManualRunLoop::run() {
    _calls.record("RunLoop.run");
    runQueuedWork();
    if (!_stopStatus)
        throw std::logic_error("the run loop ran out of work without being stopped");
    int status = *_stopStatus;
    _stopStatus.reset();
    return status;
}

void ManualRunLoop::stop(int exitStatus) {
    _calls.record("RunLoop.stop", std::to_string(exitStatus));
    _stopStatus = exitStatus;
}

}  // namespace quaymark
