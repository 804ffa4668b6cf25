// Launch services of this machine: application bundles in the Applications folders,
// launched detached and registered per desktop.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ApplicationRegistry.h"
#include "SystemRoot.h"
#include "Workspace.h"

namespace quaymark {

// What tells that a file changed; all zero for a missing file.
struct FileStamp {
    std::int64_t modified = 0;  // nanoseconds
    std::int64_t size = 0;
    std::int64_t inode = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// Facts about an application bundle read from its Contents/Info.plist.
struct BundleInfo {
    std::string bundleIdentifier;
    std::string executableName;
};
// Nothing when the folder is no application bundle (no readable Info.plist with an
// identifier and an executable name).
std::optional<BundleInfo> readBundleInfo(const std::string& realBundlePath);

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
    struct ScanStamp {
        std::string path;
        FileStamp stamp;
    };
    struct CachedBundleInfo {
        FileStamp stamp;
        BundleInfo info;  // no identifier: the folder is no application bundle
    };
    void rescanIfChanged();
    void loadInfoCache();
    void saveInfoCache();
    // The facts of the bundle, from the cache while its Info.plist keeps `infoStamp`.
    std::optional<BundleInfo> cachedBundleInfo(const std::string& realBundlePath,
                                               const FileStamp& infoStamp);

    SystemRoot _root;
    std::string _home;
    ApplicationRegistry _registry;
    // Bundle identifier → bundle path as the system names it, first found wins.
    std::map<std::string, std::string> _bundles;
    // Every folder and Info.plist the last scan looked at, with its stamp: when none changed,
    // neither did the set of bundles.
    std::vector<ScanStamp> _stamps;
    bool _scanned = false;
    // Info.plist path → what it said, shared with other processes through a file in the
    // desktop's runtime folder.
    std::map<std::string, CachedBundleInfo> _infoCache;
    std::set<std::string> _infoCacheUsed;
    bool _infoCacheChanged = false;
};

}  // namespace quaymark
