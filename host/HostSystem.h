// Time, run loop, application life cycle and log for programs on this machine.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "System.h"

namespace quaymark {

class SystemClock : public Clock {
public:
    PlistDate now() override;
    void sleepFor(std::chrono::microseconds duration) override;
};

// A run loop of queued work; it sleeps on a condition variable while there is none.
class BasicRunLoop : public RunLoop {
public:
    void post(std::function<void()> work) override;
    void runFor(std::chrono::milliseconds duration) override;
    // Another thread may always post, so this waits for work however long it takes.
    bool runOnce() override;
    int run() override;
    void stop(int exitStatus) override;

private:
    // Runs queued work until the deadline or stop(); true when stopped.
    bool runUntil(std::optional<std::chrono::steady_clock::time_point> deadline);

    std::mutex _mutex;
    std::condition_variable _changed;
    std::deque<std::function<void()>> _queue;
    std::optional<int> _stopStatus;
};

// The life cycle written once against the run loop: the helper's condition-variable loop and
// Qt's event loop alike. On Qt, quitting goes through terminate() alone: nothing here runs
// QApplication::exec(), whose quit on the last closed window would end every running loop, a
// slice of runFor among them.
class RunLoopApplication : public Application {
public:
    explicit RunLoopApplication(RunLoop& runLoop) : _runLoop(runLoop) {}
    // Calls `didFinishLaunching` from the loop's first pass, after the windows shown before
    // the call have been laid out.
    int run(std::function<void()> didFinishLaunching) override;
    // Ends run() with status 0 once the work in hand (an install waiting for Finder) returns.
    void terminate() override { _runLoop.stop(0); }

private:
    RunLoop& _runLoop;
};

// "2026-12-06 16:13:14.123 Name[pid] message" on standard error (or `fd`), one line whatever
// the message holds: line feeds, tabs and other control characters are written as \n, \t,
// \xNN, so that a reason text cannot forge or split a line of the log.
class StderrLog : public Log {
public:
    explicit StderrLog(std::string processName, int fd = 2)
        : _processName(std::move(processName)), _fd(fd) {}
    void log(const std::string& message) override;

private:
    std::string _processName;
    int _fd;
};

}  // namespace quaymark
