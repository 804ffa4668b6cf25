#include "launch/HostWorkspace.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "posix/Spawn.h"

namespace quaymark {

namespace fs = std::filesystem;

HostWorkspace::HostWorkspace(SystemRoot root, std::string home)
    : _root(root),
      _registry(_root.runtimeDirectory()),
      _bundles(std::move(root), std::move(home)) {}

std::optional<std::string> HostWorkspace::absolutePathForAppBundleWithIdentifier(
    const std::string& bundleIdentifier) {
    return _bundles.pathForIdentifier(bundleIdentifier);
}

int HostWorkspace::launchBundle(const std::string& bundlePath, const Environment& extraEnvironment,
                                Instance instance) {
    std::string realBundle = _root.map(bundlePath);
    std::optional<BundleInfo> info = readBundleInfo(realBundle);
    if (!info)
        return -1;
    // The check and the start are one step for the whole desktop: two launches a moment
    // apart (quick clicks, two programs asking for the same terminal) would otherwise both
    // find the application missing and start it twice. Without the lock (no runtime folder)
    // the launch goes on unordered: the registry could not be written then either.
    ApplicationRegistry::Lock lock = _registry.lock();
    for (const RunningApplication& running : _registry.list()) {
        if (instance == Instance::ActivateRunning &&
            running.bundleIdentifier == info->bundleIdentifier) {
            // As on a Mac: an application that runs is brought to the front, not started again.
            // The bundle need not be the one it was started from, as long as it is the same
            // application.
            _registry.setFrontmost(running.pid);
            return running.pid;
        }
    }
    SpawnRequest request;
    request.executable = realBundle + "/Contents/MacOS/" + info->executableName;
    request.environment = currentEnvironment();
    for (const auto& [name, value] : extraEnvironment)
        request.environment[name] = value;
    request.detached = true;
    // As on a Mac, what a launched application prints goes to a log of its own, not to
    // whoever launched it: the launcher's pipes then never wait for the application.
    std::string logs = _root.runtimeDirectory() + "/logs";
    std::error_code error;
    fs::create_directories(logs, error);
    request.logFile = logs + "/" + info->executableName + ".log";
    Result<StartedProcess> started = spawnProcess(request);
    if (!started)
        return -1;
    // Registration can fail when the program has already ended; that is no launch failure.
    _registry.add({started->pid, info->bundleIdentifier, info->executableName});
    return started->pid;
}

bool HostWorkspace::launchApplicationAtUrl(const Url& bundleUrl,
                                           const Environment& extraEnvironment) {
    if (!bundleUrl.isFileUrl())
        return false;
    return launchBundle(bundleUrl.path(), extraEnvironment) > 0;
}

bool HostWorkspace::launchApplication(const std::string& path) {
    return launchBundle(path, {}) > 0;
}

bool HostWorkspace::launchNewInstanceOfApplication(const std::string& path) {
    return launchBundle(path, {}, Instance::New) > 0;
}

std::vector<RunningApplication> HostWorkspace::runningApplications() {
    return _registry.list();
}

bool HostWorkspace::activate(const RunningApplication& application) {
    auto running = _registry.list();
    bool alive = std::any_of(running.begin(), running.end(), [&](const RunningApplication& each) {
        return each.pid == application.pid;
    });
    return alive && _registry.setFrontmost(application.pid);
}

bool HostWorkspace::setIconForFile(const std::optional<std::string>& imagePath,
                                   const std::string& path) {
    // Linux file managers take a folder's custom icon from the "Icon" entry of the
    // ".directory" desktop entry inside it. The image is kept inside the folder too and named
    // by a "./" path, which KDE's file items resolve against the folder, so the icon travels
    // with the bundle when it is copied or moved.
    std::string realFolder = _root.map(path);
    fs::path entry = fs::path(realFolder) / ".directory";
    fs::path image = fs::path(realFolder) / ".CustomIcon.icns";
    std::error_code error;
    if (!imagePath) {
        // Missing files are no failure; each removal's error is looked at on its own.
        bool removed = fs::remove(entry, error) || !error;
        removed = (fs::remove(image, error) || !error) && removed;
        return removed;
    }
    if (!fs::is_directory(realFolder, error))
        return false;
    fs::copy_file(_root.map(*imagePath), image, fs::copy_options::overwrite_existing, error);
    if (error)
        return false;
    std::ofstream out(entry, std::ios::trunc);
    out << "[Desktop Entry]\nIcon=./" << image.filename().string() << "\n";
    return static_cast<bool>(out);
}

}  // namespace quaymark
