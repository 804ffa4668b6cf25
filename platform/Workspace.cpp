#include "Workspace.h"

#include <algorithm>

namespace quaymark {

std::vector<RunningApplication> Workspace::runningApplicationsWithBundleIdentifier(
    const std::string& bundleIdentifier) {
    std::vector<RunningApplication> matching;
    for (RunningApplication& application : runningApplications()) {
        if (application.bundleIdentifier == bundleIdentifier)
            matching.push_back(application);
    }
    return matching;
}

}  // namespace quaymark
