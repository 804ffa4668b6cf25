// The system services a test drives by hand: a clock and a run loop that never wait, an
// application life cycle without an event loop, and a log that keeps its lines.
#pragma once

#include <deque>
#include <utility>

#include "CallLog.h"
#include "System.h"

namespace quaymark {

// A clock that a test sets and advances; sleeping is recorded and moves the time on.
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

// A run loop that never waits: each slice runs the queued work and moves the manual clock on.
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
    // Records "RunLoop.runOnce" and runs the work queued first, which may post more; false
    // when nothing is queued, since nothing else can ever arrive here.
    bool runOnce() override {
        _calls.record("RunLoop.runOnce");
        if (_queue.empty())
            return false;
        std::function<void()> work = std::move(_queue.front());
        _queue.pop_front();
        work();
        return true;
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

// An application life cycle without an event loop: run() calls the launch callback at once.
class ImmediateApplication : public Application {
public:
    explicit ImmediateApplication(CallLog& calls) : _calls(calls) {}

    // Calls `didFinishLaunching` and returns 0 once it has called terminate(); raises
    // std::logic_error otherwise, since a real event loop would then run for ever.
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

// A log that keeps its lines for the test to read.
class RecordingLog : public Log {
public:
    explicit RecordingLog(CallLog& calls) : _calls(calls) {}

    void log(const std::string& message) override {
        _calls.record("Log", message);
        _lines.push_back(message);
    }
    const std::vector<std::string>& lines() const { return _lines; }

private:
    CallLog& _calls;
    std::vector<std::string> _lines;
};

}  // namespace quaymark
