#include "RecordingWorkspace.h"

#include <algorithm>

namespace quaymark {

std::optional<std::string> RecordingWorkspace::absolutePathForAppBundleWithIdentifier(
    const std::string& bundleIdentifier) {
    _calls.record("Workspace.absolutePathForAppBundleWithIdentifier", bundleIdentifier);
    auto found = _installed.find(bundleIdentifier);
    if (found == _installed.end())
        return std::nullopt;
    return found->second;
}

bool RecordingWorkspace::launchApplicationAtUrl(const Url& bundleUrl,
                                                const Environment& extraEnvironment) {
    std::string detail = bundleUrl.absoluteString();
    for (const auto& [name, value] : extraEnvironment)
        detail += " " + name + "=" + value;
    _calls.record("Workspace.launchApplicationAtUrl", detail);
    _launches.push_back({bundleUrl, std::nullopt, extraEnvironment});
    return !_launchesFail;
}

bool RecordingWorkspace::launchApplication(const std::string& path) {
    _calls.record("Workspace.launchApplication", path);
    _launches.push_back({std::nullopt, path, {}});
    return !_launchesFail;
}

std::vector<RunningApplication> RecordingWorkspace::runningApplications() {
    _calls.record("Workspace.runningApplications");
    return listRunning();
}

std::vector<RunningApplication> RecordingWorkspace::listRunning() const {
    std::vector<RunningApplication> running = _running;
    for (const RunningApplicationSource* source : _sources) {
        if (auto instance = source->runningInstance())
            running.push_back(*instance);
    }
    return running;
}

bool RecordingWorkspace::activate(const RunningApplication& application) {
    _calls.record("Workspace.activate", application.bundleIdentifier);
    _activations.push_back(application);
    std::vector<RunningApplication> running = listRunning();
    return std::find(running.begin(), running.end(), application) != running.end();
}

bool RecordingWorkspace::setIconForFile(const std::optional<std::string>& imagePath,
                                        const std::string& path) {
    _calls.record("Workspace.setIconForFile", path);
    _icons[path] = imagePath;
    return true;
}

void RecordingWorkspace::removeRunningApplication(int pid) {
    std::erase_if(_running, [pid](const RunningApplication& app) { return app.pid == pid; });
}

}  // namespace quaymark
