#include "qt/QtHost.h"

namespace quaymark {

QtHost::QtHost(std::string processName, std::string ownDomain)
    : _host(std::move(processName), std::move(ownDomain)),
      _platform(withEventLoop(_host.platform(), _runLoop, _application)) {}

Platform withEventLoop(Platform base, RunLoop& runLoop, Application& application) {
    return Platform{base.preferences, base.workspace, base.fileManager, base.mainBundle,
                    base.tasks,       base.scripting, base.appleScript, base.clock,
                    runLoop,          application,    base.log};
}

}  // namespace quaymark
