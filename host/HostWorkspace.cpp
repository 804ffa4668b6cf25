#include "HostWorkspace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "AtomicFile.h"
#include "PathUtilities.h"
#include "PlistCodec.h"
#include "Spawn.h"

namespace quaymark {

namespace fs = std::filesystem;

namespace {

// Applications are found in these folders and their subfolders (as "/Applications/
// Utilities" holds Terminal), never inside another bundle, at most this deep.
constexpr int kMaximumFolderDepth = 3;

// What tells that a file changed: a rewrite in place changes its time or size, a
// replacement its inode. All zero when nothing is there.
FileStamp stampOf(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return {};
    return FileStamp{
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000LL + info.st_mtim.tv_nsec,
        static_cast<std::int64_t>(info.st_size), static_cast<std::int64_t>(info.st_ino)};
}

std::string infoCachePath(const SystemRoot& root) {
    return root.runtimeDirectory() + "/launch-services-cache.plist";
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

void HostWorkspace::loadInfoCache() {
    _infoCache.clear();
    std::optional<DecodedPlist> file = readPlistFile(infoCachePath(_root));
    const PlistDictionary* entries = file ? file->value.asDictionary() : nullptr;
    if (!entries)
        return;
    for (const auto& [path, value] : *entries) {
        const PlistArray* fields = value.asArray();
        if (!fields || fields->size() != 5)
            continue;
        auto number = [&](std::size_t i) { return (*fields)[i].asInteger().value_or(-1); };
        const std::string* identifier = (*fields)[3].asString();
        const std::string* executable = (*fields)[4].asString();
        if (!identifier || !executable)
            continue;
        _infoCache[path] = {{number(0), number(1), number(2)}, {*identifier, *executable}};
    }
}

void HostWorkspace::saveInfoCache() {
    PlistDictionary entries;
    for (const auto& [path, cached] : _infoCache) {
        entries.set(path, PlistArray{PlistValue::integer(cached.stamp.modified),
                                     PlistValue::integer(cached.stamp.size),
                                     PlistValue::integer(cached.stamp.inode),
                                     cached.info.bundleIdentifier, cached.info.executableName});
    }
    std::error_code error;
    fs::create_directories(_root.runtimeDirectory(), error);
    // When two scans race, the last one's cache stands, which is as good as the other's; a
    // cache that could not be written only costs the next scan its parsing.
    writePlistFileAtomically(infoCachePath(_root), PlistValue(entries), PlistFormat::Binary);
}

std::optional<BundleInfo> HostWorkspace::cachedBundleInfo(const std::string& realBundlePath,
                                                          const FileStamp& infoStamp) {
    std::string infoPath = realBundlePath + "/Contents/Info.plist";
    auto cached = _infoCache.find(infoPath);
    if (cached != _infoCache.end() && cached->second.stamp == infoStamp) {
        _infoCacheUsed.insert(infoPath);
        if (cached->second.info.bundleIdentifier.empty())
            return std::nullopt;
        return cached->second.info;
    }
    std::optional<BundleInfo> info = readBundleInfo(realBundlePath);
    // A folder that is no bundle is remembered too (with no identifier), so it is not read
    // again while its Info.plist stays as it is.
    _infoCache[infoPath] = {infoStamp, info.value_or(BundleInfo{})};
    _infoCacheUsed.insert(infoPath);
    _infoCacheChanged = true;
    return info;
}

void HostWorkspace::rescanIfChanged() {
    if (_scanned && std::all_of(_stamps.begin(), _stamps.end(), [](const ScanStamp& stamp) {
            return stampOf(stamp.path) == stamp.stamp;
        })) {
        return;
    }
    // Parsing every Info.plist is most of a scan's cost with many applications installed;
    // facts read by an earlier scan (in any process) serve while the file keeps its stamp.
    loadInfoCache();
    _infoCacheUsed.clear();
    _infoCacheChanged = false;
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
        _stamps.push_back({realFolder, stampOf(realFolder)});
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
                FileStamp infoStamp = stampOf(infoPath);
                _stamps.push_back({infoPath, infoStamp});
                if (auto info = cachedBundleInfo(realPath, infoStamp)) {
                    _bundles.emplace(info->bundleIdentifier, systemPath);
                }
            } else if (folder.depth + 1 < kMaximumFolderDepth) {
                subfolders.push_back({systemPath, folder.depth + 1});
            }
        }
        // Breadth first, so a bundle near the top wins over one deeper down.
        folders.insert(folders.end(), subfolders.begin(), subfolders.end());
    }
    // Bundles that are gone leave the cache, so it never grows beyond what is installed.
    bool dropped = std::erase_if(_infoCache, [&](const auto& entry) {
                       return !_infoCacheUsed.contains(entry.first);
                   }) > 0;
    if (_infoCacheChanged || dropped)
        saveInfoCache();
}

std::optional<std::string> HostWorkspace::absolutePathForAppBundleWithIdentifier(
    const std::string& bundleIdentifier) {
    rescanIfChanged();
    auto found = _bundles.find(bundleIdentifier);
    if (found == _bundles.end())
        return std::nullopt;
    return found->second;
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
