// The host's services for a program with a QApplication: its run loop and life cycle on Qt's
// event loop, alerts as message boxes, and the network reachability its update check asks.
#pragma once

#include <string>

#include "HostPlatform.h"
#include "network/HostReachability.h"
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
    // Under the same system root as the other services, so that a desktop's flags hold.
    NetworkReachability& reachability() { return _reachability; }

private:
    HostPlatform _host;
    QtRunLoop _runLoop;
    RunLoopApplication _application{_runLoop};
    QtAlert _alert;
    HostReachability _reachability{_host.systemRoot()};
    Platform _platform;
};

}  // namespace quaymark
