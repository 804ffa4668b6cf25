// A run loop that never waits: each slice runs the queued work and moves the manual clock on.
#pragma once

#include <deque>
#include <utility>

#include "ManualClock.h"

namespace quaymark {

class ManualRunLoop : public RunLoop {
public:
    ManualRunLoop(CallLog& calls, ManualClock& clock) : _calls(calls), _clock(clock) {}

    // Queues the work for the next slice or run(); unlogged.
    void post(std::function<void()> work) override { _queue.push_back(std::move(work)); }
    // Records "RunLoop.runFor <n>ms", runs the queued work (also what it posts), calls the
    // slice hook and advances the clock by the duration; never waits.
    void runFor(std::chrono::milliseconds duration) override {
        _calls.record("RunLoop.runFor", std::to_string(duration.count()) + "ms");
        _slices.push_back(duration);
        runQueuedWork();
        if (_sliceHook)
            _sliceHook(_slices.size());
        _clock.advance(std::chrono::duration<double>(duration).count());
    }
    // Runs queued work until stop(); raises std::logic_error when the queue runs dry first,
    // since a real loop would then wait for ever.
    int run() override {
        _calls.record("RunLoop.run");
        runQueuedWork();
        if (!_stopStatus)
            throw std::logic_error("the run loop ran out of work without being stopped");
        return std::exchange(_stopStatus, std::nullopt).value();
    }
    void stop(int exitStatus) override {
        _calls.record("RunLoop.stop", std::to_string(exitStatus));
        _stopStatus = exitStatus;
    }

    // Called at the end of every slice with its number, counted from 1: what the world does
    // while the loop runs (an application starting, say).
    void setSliceHook(std::function<void(std::size_t slice)> hook) { _sliceHook = std::move(hook); }
    // The durations passed to runFor, in call order.
    const std::vector<std::chrono::milliseconds>& slices() const { return _slices; }

private:
    void runQueuedWork() {
        while (!_queue.empty() && !_stopStatus) {
            std::function<void()> work = std::move(_queue.front());
            _queue.pop_front();
            work();
        }
    }

    CallLog& _calls;
    ManualClock& _clock;
    std::deque<std::function<void()>> _queue;
    std::vector<std::chrono::milliseconds> _slices;
    std::function<void(std::size_t)> _sliceHook;
    std::optional<int> _stopStatus;
};

}  // namespace quaymark
