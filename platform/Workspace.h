// Launch services: finding, launching and listing applications.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Url.h"

namespace quaymark {

using Environment = std::map<std::string, std::string>;

struct RunningApplication {
    int pid = 0;
    std::string bundleIdentifier;
    std::string processName;

    friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

class Workspace {
public:
    virtual ~Workspace() = default;

    // Path of an application bundle with this identifier; nothing when none is known.
    virtual std::optional<std::string> absolutePathForAppBundleWithIdentifier(
        const std::string& bundleIdentifier) = 0;
    // Starts the application whose bundle the file URL names, with the caller's environment
    // plus `extraEnvironment`, and returns without waiting; an application of that bundle
    // identifier that runs already is brought to the front instead (the environment is then
    // not used). False when it could not be started.
    virtual bool launchApplicationAtUrl(const Url& bundleUrl,
                                        const Environment& extraEnvironment) = 0;
    // Starts the application bundle at `path`, or brings it to the front when it runs; false
    // when it could not be started.
    virtual bool launchApplication(const std::string& path) = 0;
    // Starts another instance of the application bundle at `path` even when one runs, as an
    // application relaunching itself does; false when it could not be started.
    virtual bool launchNewInstanceOfApplication(const std::string& path) = 0;
    // The applications running now; empty when none can be listed.
    virtual std::vector<RunningApplication> runningApplications() = 0;
    // Brings the application to the front; false when it no longer runs.
    virtual bool activate(const RunningApplication& application) = 0;
    // Sets (or with no image, removes) the custom icon of a file or bundle; false on failure.
    virtual bool setIconForFile(const std::optional<std::string>& imagePath,
                                const std::string& path) = 0;

    std::vector<RunningApplication> runningApplicationsWithBundleIdentifier(
        const std::string& bundleIdentifier);
};

}  // namespace quaymark
