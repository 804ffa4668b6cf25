// The registry of application bundles behind launch services: which bundle has which identifier.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "launch/SystemRoot.h"

namespace quaymark {

// Facts about an application bundle read from its Contents/Info.plist.
struct BundleInfo {
    std::string bundleIdentifier;
    std::string executableName;
};
// Nothing when the folder is no application bundle (no readable Info.plist with an
// identifier and an executable name).
std::optional<BundleInfo> readBundleInfo(const std::string& realBundlePath);

// Bundles are found in the Applications folders (the system's, then the user's) and their
// subfolders, breadth first, the first with an identifier winning. What a scan found is kept
// in the user's caches folder, one record per identifier beside an index of the folders the
// scan visited and their change stamps, so that a lookup reads the index, checks the stamps
// of those few folders, reads one record and confirms that bundle by its own Info.plist:
// its cost does not grow with the number of bundles installed. Adding, removing or renaming
// a bundle in any of those folders changes its stamp and brings a rescan at the next lookup.
//
// What the stamps cannot see is an Info.plist edited in place. For the bundle a lookup finds,
// the confirmation sees it. A bundle elsewhere that comes to claim an identifier by such an
// edit is found once a rescan happens (anything added, removed or renamed in the folders, or a
// confirmation that fails); until then the bundle registered for the identifier, or none,
// answers. Launch services on a Mac keep a bundle's registration the same way until the
// bundle is registered again, and an application installed or updated by copying arrives as a
// new folder, which the stamps see.
//
// A cache that cannot be read, is cut short or is in another format is rebuilt; one that
// cannot be written is left aside, and each process then scans for itself.
class BundleRegistry {
public:
    BundleRegistry(SystemRoot root, std::string home);

    // The path as the system names it of the bundle with this identifier; nothing when none
    // is installed.
    std::optional<std::string> pathForIdentifier(const std::string& identifier);

    const std::string& cacheDirectory() const { return _cacheDirectory; }
    std::string indexPath() const;
    std::string recordPath(const std::string& identifier) const;

    static constexpr std::int64_t kFormatVersion = 1;

private:
    struct FolderStamp {
        std::string realPath;
        std::int64_t modified = 0;  // nanoseconds; all zero when the folder is missing
        std::int64_t changed = 0;
        std::int64_t inode = 0;
        bool operator==(const FolderStamp&) const = default;
    };
    enum class Rescan { WhenStale, Always };

    static FolderStamp stampOf(const std::string& realPath);

    bool isCurrent() const;
    bool loadIndex();
    void rescan(Rescan when);
    void writeCache();
    // The record's path for the identifier: nothing when there is none, and nothing with
    // `readable` false when it cannot be trusted.
    std::optional<std::string> readRecord(const std::string& identifier, bool& readable) const;
    bool confirms(const std::string& path, const std::string& identifier) const;

    SystemRoot _root;
    std::string _home;
    std::string _cacheDirectory;
    // The folders the last scan visited, as they were then: from this process's own scan or
    // from the index another process wrote.
    std::vector<FolderStamp> _stamps;
    // A folder changed so recently that a change in the same clock tick would leave its stamp
    // as it is: the scan serves this lookup only.
    bool _racy = false;
    // Identifier → path, when this process scanned; otherwise the records answer.
    std::optional<std::map<std::string, std::string>> _bundles;
};

}  // namespace quaymark
