#include "HostWorkspace.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "PathUtilities.h"
#include "PlistCodec.h"
#include "Spawn.h"

namespace quaymark {

namespace fs = std::filesystem;

namespace {

// Applications are found in these folders and their subfolders (as "/Applications/
// Utilities" holds Terminal), never inside another bundle, at most this deep.
constexpr int kMaximumFolderDepth = 3;

long long modificationTime(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return -1;
    return static_cast<long long>(info.st_mtim.tv_sec) * 1'000'000'000LL + info.st_mtim.tv_nsec;
}

bool isBundleName(const std::string& name) {
    return name.size() > 4 && name.ends_with(".app");
}

}  // namespace

std::optional<BundleInfo> readBundleInfo(const std::string& realBundlePath) {
    std::optional<DecodedPlist> info = readPlistFile(realBundlePath + "/Contents/Info.plist");
    const PlistDictionary* dictionary = info ? info->value.asDictionary() : nullptr;
    if (!dictionary)
        return std::nullopt;
    const PlistValue* identifier = dictionary->find("CFBundleIdentifier");
    const PlistValue* executable = dictionary->find("CFBundleExecutable");
    if (!identifier || !identifier->asString() || !executable || !executable->asString()) {
        return std::nullopt;
    }
    return BundleInfo{*identifier->asString(), *executable->asString()};
}

HostWorkspace::HostWorkspace(SystemRoot root, std::string home)
    : _root(std::move(root)), _home(std::move(home)), _registry(_root.runtimeDirectory()) {}

void HostWorkspace::rescanIfChanged() {
    if (_scanned && std::all_of(_stamps.begin(), _stamps.end(), [](const ScanStamp& stamp) {
            return modificationTime(stamp.path) == stamp.modified;
        })) {
        return;
    }
    _bundles.clear();
    _stamps.clear();
    _scanned = true;

    struct Pending {
        std::string systemPath;
        int depth;
    };
    std::vector<Pending> folders = {{"/Applications", 0},
                                    {stringByAppendingPathComponent(_home, "Applications"), 0}};
    for (std::size_t next = 0; next < folders.size(); ++next) {
        Pending folder = folders[next];
        std::string realFolder = _root.map(folder.systemPath);
        _stamps.push_back({realFolder, modificationTime(realFolder)});
        std::error_code error;
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(realFolder, error)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        std::vector<Pending> subfolders;
        for (const std::string& name : names) {
            std::string systemPath = stringByAppendingPathComponent(folder.systemPath, name);
            std::string realPath = _root.map(systemPath);
            if (!fs::is_directory(realPath, error))
                continue;
            if (isBundleName(name)) {
                std::string infoPath = realPath + "/Contents/Info.plist";
                _stamps.push_back({infoPath, modificationTime(infoPath)});
                if (auto info = readBundleInfo(realPath)) {
                    _bundles.emplace(info->bundleIdentifier, systemPath);
                }
            } else if (folder.depth + 1 < kMaximumFolderDepth) {
                subfolders.push_back({systemPath, folder.depth + 1});
            }
        }
        // Breadth first, so a bundle near the top wins over one deeper down.
        folders.insert(folders.end(), subfolders.begin(), subfolders.end());
    }
}

std::optional<std::string> HostWorkspace::absolutePathForAppBundleWithIdentifier(
    const std::string& bundleIdentifier) {
    rescanIfChanged();
    auto found = _bundles.find(bundleIdentifier);
    if (found == _bundles.end())
        return std::nullopt;
    return found->second;
}

int HostWorkspace::launchBundle(const std::string& bundlePath,
                                const Environment& extraEnvironment) {
    std::string realBundle = _root.map(bundlePath);
    std::optional<BundleInfo> info = readBundleInfo(realBundle);
    if (!info)
        return -1;
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
    SpawnResult started = spawnProcess(request);
    if (!started)
        return -1;
    // Registration can fail when the program has already ended; that is no launch failure.
    _registry.add({started.pid, info->bundleIdentifier, info->executableName});
    return started.pid;
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
