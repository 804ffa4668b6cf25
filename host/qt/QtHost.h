// The host's services for a program with a QApplication: its run loop and life cycle on Qt's
// event loop, and alerts as message boxes.
#pragma once

#include <string>

#include "HostPlatform.h"
#include "qt/QtAlert.h"
#include "qt/QtRunLoop.h"

namespace quaymark {

// Make it after the QApplication, on the same thread; the services live as long as it does.
class QtHost {
public:
    // As HostPlatform's constructor.
    QtHost(std::string processName, std::string ownDomain);

    // The host's services with the run loop and the life cycle replaced, so that whatever
    // waits in the run loop (the installer's wait for Finder) keeps the windows painting.
    Platform platform() { return _platform; }
    Alert& alert() { return _alert; }

private:
    HostPlatform _host;
    QtRunLoop _runLoop;
    RunLoopApplication _application{_runLoop};
    QtAlert _alert;
    Platform _platform;
};

}  // namespace quaymark
