#include "qt/QtRunLoop.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QTimer>
#include <utility>

namespace quaymark {

QtRunLoop::QtRunLoop() = default;

QtRunLoop::~QtRunLoop() = default;

void QtRunLoop::post(std::function<void()> work) {
    // A queued invocation goes through the receiving thread's event queue, which Qt guards.
    QMetaObject::invokeMethod(&_context, std::move(work), Qt::QueuedConnection);
}

void QtRunLoop::runFor(std::chrono::milliseconds duration) {
    QEventLoop slice;
    QTimer deadline;
    deadline.setSingleShot(true);
    // A precise timer: the slices of the Finder wait are whole seconds that callers count.
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &slice, [&slice] { slice.exit(0); });
    deadline.start(duration);
    slice.exec();
}

bool QtRunLoop::runOnce() {
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher == nullptr)
        return false;
    // Waiting here sleeps in the dispatcher's poll until a socket, a timer or posted work
    // wakes it, and returns once something has been handled.
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return true;
}

int QtRunLoop::run() {
    if (_pendingStop)
        return *std::exchange(_pendingStop, std::nullopt);
    QEventLoop loop;
    _running = &loop;
    int status = loop.exec();
    _running = nullptr;
    return status;
}

void QtRunLoop::stop(int exitStatus) {
    // Exiting an outer QEventLoop lets a nested one (a slice of runFor) run to its end first.
    if (_running)
        _running->exit(exitStatus);
    else
        _pendingStop = exitStatus;
}

}  // namespace quaymark
