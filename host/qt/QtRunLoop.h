// The main run loop on Qt's event loop, for programs that have a QApplication.
#pragma once

#include <QObject>
#include <optional>

#include "System.h"

class QEventLoop;

namespace quaymark {

// Must be made and run on the thread of the QCoreApplication, which must exist first.
// Qt's own loops and this one are the same loop: work posted here runs inside a modal
// dialog's loop too, and a slice of runFor paints windows and handles their input.
class QtRunLoop : public RunLoop {
public:
    QtRunLoop();
    ~QtRunLoop() override;

    // Safe from any thread: the work is queued to the main thread's event loop.
    void post(std::function<void()> work) override;
    // A nested event loop that ends when the duration has passed, and only then: a stop()
    // meanwhile ends run() once this slice has returned, so that a caller waiting in slices
    // is never cut short halfway.
    void runFor(std::chrono::milliseconds duration) override;
    // One pass of the thread's event dispatcher, waiting for events; false without a
    // dispatcher, when no event can ever arrive.
    bool runOnce() override;
    // Returns at once when stop() came first.
    int run() override;
    // Ends run(), or the next run() when none is running.
    void stop(int exitStatus) override;

private:
    // Where posted work is delivered; it lives on the main thread.
    QObject _context;
    QEventLoop* _running = nullptr;
    std::optional<int> _pendingStop;
};

}  // namespace quaymark
