#include "qt/QtHost.h"

namespace quaymark {

QtHost::QtHost(std::string processName, std::string ownDomain)
    : _host(std::move(processName), std::move(ownDomain)),
      _platform(_host.platform().withRunLoop(_runLoop).withApplication(_application)) {}

}  // namespace quaymark
