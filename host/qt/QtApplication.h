// The application life cycle on Qt's event loop.
#pragma once

#include "System.h"
#include "qt/QtRunLoop.h"

namespace quaymark {

// Quitting goes through terminate() alone. Nothing here runs QApplication::exec(), whose quit
// on the last closed window would end every running loop, a slice of runFor among them.
class QtApplication : public Application {
public:
    explicit QtApplication(QtRunLoop& runLoop) : _runLoop(runLoop) {}

    // Calls `didFinishLaunching` from the loop's first pass, after the windows shown before
    // the call have been laid out.
    int run(std::function<void()> didFinishLaunching) override;
    // Ends run() with status 0 once the work in hand (an install waiting for Finder) returns.
    void terminate() override { _runLoop.stop(0); }

private:
    QtRunLoop& _runLoop;
};

}  // namespace quaymark
