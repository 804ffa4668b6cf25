// Launch services in memory: installed bundles, recorded launches, running applications.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "CallLog.h"
#include "Workspace.h"

namespace quaymark {

// A modelled application that tells the workspace whether it runs, so the running test
// and the application's own state cannot disagree.
class RunningApplicationSource {
public:
    virtual ~RunningApplicationSource() = default;
    // Nothing while the application is not running.
    virtual std::optional<RunningApplication> runningInstance() const = 0;
};

class RecordingWorkspace : public Workspace {
public:
    struct Launch {
        std::optional<Url> bundleUrl;     // set by launchApplicationAtUrl
        std::optional<std::string> path;  // set by launchApplication
        Environment extraEnvironment;
    };

    explicit RecordingWorkspace(CallLog& calls) : _calls(calls) {}

    std::optional<std::string> absolutePathForAppBundleWithIdentifier(
        const std::string& bundleIdentifier) override;
    bool launchApplicationAtUrl(const Url& bundleUrl, const Environment& extraEnvironment) override;
    bool launchApplication(const std::string& path) override;
    std::vector<RunningApplication> runningApplications() override;
    bool activate(const RunningApplication& application) override;
    bool setIconForFile(const std::optional<std::string>& imagePath,
                        const std::string& path) override;

    void installApplication(const std::string& bundleIdentifier, const std::string& path) {
        _installed[bundleIdentifier] = path;
    }
    void uninstallApplication(const std::string& bundleIdentifier) {
        _installed.erase(bundleIdentifier);
    }
    // Launches are still recorded but answer false while set.
    void setLaunchesFail(bool fail) { _launchesFail = fail; }
    void addRunningApplication(RunningApplication application) {
        _running.push_back(std::move(application));
    }
    void removeRunningApplication(int pid);
    // The source is listed after the scripted applications while it runs; not owned.
    void attach(const RunningApplicationSource& source) { _sources.push_back(&source); }

    const std::vector<Launch>& launches() const { return _launches; }
    const std::vector<RunningApplication>& activations() const { return _activations; }
    // Icon path (nothing: removed) set for each file, last call wins.
    const std::map<std::string, std::optional<std::string>>& icons() const { return _icons; }

private:
    std::vector<RunningApplication> listRunning() const;

    CallLog& _calls;
    std::map<std::string, std::string> _installed;
    std::vector<RunningApplication> _running;
    std::vector<const RunningApplicationSource*> _sources;
    std::vector<Launch> _launches;
    std::vector<RunningApplication> _activations;
    std::map<std::string, std::optional<std::string>> _icons;
    bool _launchesFail = false;
};

}  // namespace quaymark
