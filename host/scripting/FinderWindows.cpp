#include "scripting/FinderWindows.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>

#include "PlatformException.h"
#include "plist/PlistCodec.h"
#include "posix/Posix.h"
#include "preferences/AtomicFile.h"

namespace quaymark {

namespace fs = std::filesystem;

namespace {

const char* const kWindowsKey = "Windows";
const char* const kTargetKey = "Target";

std::vector<FinderWindow> decodeWindows(const std::optional<DecodedPlist>& file) {
    std::vector<FinderWindow> windows;
    const PlistDictionary* top = file ? file->value.asDictionary() : nullptr;
    const PlistValue* list = top ? top->find(kWindowsKey) : nullptr;
    if (!list || !list->asArray())
        return windows;
    for (const PlistValue& entry : *list->asArray()) {
        const PlistDictionary* window = entry.asDictionary();
        if (!window)
            continue;
        const PlistValue* target = window->find(kTargetKey);
        FinderWindow decoded;
        if (target && target->asString())
            decoded.targetUrl = *target->asString();
        windows.push_back(decoded);
    }
    return windows;
}

PlistValue encodeWindows(const std::vector<FinderWindow>& windows) {
    PlistArray list;
    for (const FinderWindow& window : windows) {
        PlistDictionary entry;
        if (window.targetUrl)
            entry.set(kTargetKey, *window.targetUrl);
        list.push_back(entry);
    }
    return PlistDictionary{{kWindowsKey, list}};
}

}  // namespace

std::string FinderWindowsFile::pathForHome(const std::string& home) {
    return home + "/Library/Saved Application State/com.apple.finder.savedState/windows.plist";
}

std::vector<FinderWindow> FinderWindowsFile::windows() const {
    return decodeWindows(readPlistFile(_path));
}

template <typename Change>
bool FinderWindowsFile::change(Change&& edit) {
    std::error_code error;
    fs::create_directories(fs::path(_path).parent_path(), error);
    FileDescriptor lock = openFile(_path + ".lock", O_RDWR | O_CREAT, 0600);
    if (!lock || retryOnInterrupt([&] { return flock(lock.get(), LOCK_EX); }) != 0)
        return false;
    std::vector<FinderWindow> windows = decodeWindows(readPlistFile(_path));
    bool changed = edit(windows);
    return changed && writePlistFileAtomically(_path, encodeWindows(windows));
}

bool FinderWindowsFile::openWindow(const FinderWindow& window) {
    return change([&](std::vector<FinderWindow>& windows) {
        windows.insert(windows.begin(), window);
        return true;
    });
}

bool FinderWindowsFile::closeFrontWindow() {
    return change([](std::vector<FinderWindow>& windows) {
        if (windows.empty())
            return false;
        windows.erase(windows.begin());
        return true;
    });
}

bool FinderWindowsFile::closeAllWindows() {
    return change([](std::vector<FinderWindow>& windows) {
        windows.clear();
        return true;
    });
}

std::optional<std::string> FinderStandInScripting::frontWindowTargetUrl() {
    if (_workspace.runningApplicationsWithBundleIdentifier("com.apple.finder").empty()) {
        throw PlatformException("SBApplicationNotRunning", "Finder is not running");
    }
    std::vector<FinderWindow> windows = _windows.windows();
    if (windows.empty())
        throw PlatformException("NSRangeException", "Finder has no window");
    return windows.front().targetUrl;
}

}  // namespace quaymark
