// Launch services in memory: installed bundles, recorded launches, running applications.
// Calls are recorded as "Workspace.<operation>".
#pragma once

#include "ScriptedApplication.h"

namespace quaymark {

class RecordingWorkspace : public Workspace {
public:
    // The scripted applications are listed while they run, so that the running test and the
    // application cannot disagree; they are not owned.
    explicit RecordingWorkspace(CallLog& calls,
                                std::vector<const ScriptedApplication*> scripted = {})
        : _calls(calls), _attached(std::move(scripted)) {}

    std::optional<std::string> absolutePathForAppBundleWithIdentifier(
        const std::string& bundleIdentifier) override {
        _calls.record("Workspace.absolutePathForAppBundleWithIdentifier", bundleIdentifier);
        auto found = _installed.find(bundleIdentifier);
        return found == _installed.end() ? std::nullopt : std::optional(found->second);
    }
    // Recorded with the bundle URL and each extra variable as "NAME=value".
    bool launchApplicationAtUrl(const Url& bundleUrl, const Environment& extra) override {
        std::string detail = bundleUrl.absoluteString();
        for (const auto& [name, value] : extra)
            detail += " " + name + "=" + value;
        _calls.record("Workspace.launchApplicationAtUrl", detail);
        return !_launchesFail;
    }
    bool launchApplication(const std::string& path) override {
        _calls.record("Workspace.launchApplication", path);
        return !_launchesFail;
    }
    bool launchNewInstanceOfApplication(const std::string& path) override {
        _calls.record("Workspace.launchNewInstanceOfApplication", path);
        return !_launchesFail;
    }
    // The added applications, then the attached ones that run.
    std::vector<RunningApplication> runningApplications() override {
        _calls.record("Workspace.runningApplications");
        return listRunning();
    }
    bool activate(const RunningApplication& application) override {
        _calls.record("Workspace.activate", application.bundleIdentifier);
        _activations.push_back(application);
        std::vector<RunningApplication> running = listRunning();
        return std::find(running.begin(), running.end(), application) != running.end();
    }
    bool setIconForFile(const std::optional<std::string>& imagePath,
                        const std::string& path) override {
        _calls.record("Workspace.setIconForFile", path);
        _icons[path] = imagePath;
        return true;
    }

    void installApplication(const std::string& bundleIdentifier, const std::string& path) {
        _installed[bundleIdentifier] = path;
    }
    // Launches are still recorded but answer false while set.
    void setLaunchesFail(bool fail) { _launchesFail = fail; }
    void addRunningApplication(RunningApplication application) {
        _running.push_back(std::move(application));
    }
    void removeRunningApplication(int pid) {
        std::erase_if(_running, [pid](const RunningApplication& app) { return app.pid == pid; });
    }

    const std::vector<RunningApplication>& activations() const { return _activations; }
    // Icon path (nothing: removed) set for each file, last call wins.
    const std::map<std::string, std::optional<std::string>>& icons() const { return _icons; }

private:
    std::vector<RunningApplication> listRunning() const {
        std::vector<RunningApplication> running = _running;
        for (const ScriptedApplication* application : _attached) {
            if (auto instance = application->runningInstance())
                running.push_back(*instance);
        }
        return running;
    }

    CallLog& _calls;
    std::map<std::string, std::string> _installed;
    std::vector<RunningApplication> _running;
    std::vector<const ScriptedApplication*> _attached;
    std::vector<RunningApplication> _activations;
    std::map<std::string, std::optional<std::string>> _icons;
    bool _launchesFail = false;
};

}  // namespace quaymark
