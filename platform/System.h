// Time, the main run loop, the application life cycle and the log.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "PlistValue.h"

namespace quaymark {

class Clock {
public:
    virtual ~Clock() = default;
    virtual PlistDate now() = 0;
    // Blocks the calling thread for the duration.
    virtual void sleepFor(std::chrono::microseconds duration) = 0;
};

// The main thread's run loop.
class RunLoop {
public:
    virtual ~RunLoop() = default;
    // Queues work for the main thread; safe from any thread.
    virtual void post(std::function<void()> work) = 0;
    // Runs queued work and waits for more until `duration` has passed (runUntilDate:).
    virtual void runFor(std::chrono::milliseconds duration) = 0;
    // Blocks until at least one piece of the main thread's work has been handled, without
    // polling, and answers true (runMode:beforeDate: with the distant future); false at once
    // when nothing is left that could ever arrive.
    virtual bool runOnce() = 0;
    // Runs until stop() is called; returns stop()'s exit status.
    virtual int run() = 0;
    virtual void stop(int exitStatus) = 0;
};

// The application life cycle of a program with an event loop (NSApplicationMain).
class Application {
public:
    virtual ~Application() = default;
    // Starts the event loop, calls `didFinishLaunching` once from it, and runs until
    // terminate(); returns the process's exit status.
    virtual int run(std::function<void()> didFinishLaunching) = 0;
    virtual void terminate() = 0;
};

// NSLog: one line on standard error with the time and the process.
class Log {
public:
    virtual ~Log() = default;
    virtual void log(const std::string& message) = 0;
};

}  // namespace quaymark
