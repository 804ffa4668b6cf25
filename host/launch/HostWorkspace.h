// Launch services of this machine: application bundles in the Applications folders,
// launched detached and registered per desktop.
#pragma once

#include <string>
#include <vector>

#include "Workspace.h"
#include "launch/ApplicationRegistry.h"
#include "launch/BundleRegistry.h"
#include "launch/SystemRoot.h"

namespace quaymark {

class HostWorkspace : public Workspace {
public:
    // `home` is the user's home folder, whose Applications folder is searched after the
    // system's.
    HostWorkspace(SystemRoot root, std::string home);

    std::optional<std::string> absolutePathForAppBundleWithIdentifier(
        const std::string& bundleIdentifier) override;
    bool launchApplicationAtUrl(const Url& bundleUrl, const Environment& extraEnvironment) override;
    bool launchApplication(const std::string& path) override;
    bool launchNewInstanceOfApplication(const std::string& path) override;
    std::vector<RunningApplication> runningApplications() override;
    bool activate(const RunningApplication& application) override;
    bool setIconForFile(const std::optional<std::string>& imagePath,
                        const std::string& path) override;

    enum class Instance { ActivateRunning, New };
    // Starts the bundle at a path as the system names it, unless an application with its
    // bundle identifier runs on the desktop and `instance` allows it: that one is made
    // frontmost instead. The pid of the application, or -1 when it could not be started.
    int launchBundle(const std::string& bundlePath, const Environment& extraEnvironment,
                     Instance instance = Instance::ActivateRunning);
    ApplicationRegistry& registry() { return _registry; }

private:
    SystemRoot _root;
    ApplicationRegistry _registry;
    BundleRegistry _bundles;
};

}  // namespace quaymark
