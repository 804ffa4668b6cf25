// A stand-in desktop in one folder: a system root, a home, and the applications around
// Quaymark, laid out and driven as a user would.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "PlistValue.h"
#include "Workspace.h"
#include "launch/SystemRoot.h"
#include "scripting/FinderWindows.h"

namespace quaymark {

struct DesktopOptions {
    // "ProductVersion" of the system's SystemVersion.plist.
    std::string systemVersion = "10.14.6";
    bool terminal = true;
    bool iTerm = true;
    bool iTerm2 = true;
    bool xterm = true;
    // iTerm2 below 3 speaks the classic scripting vocabulary, from 3 on the next-generation one.
    std::string iTerm2Version = "3.4.0";
    // The shell the stand-in terminals run: "bash" or "zsh".
    std::string shell = "bash";
};

// The built programs a desktop copies into its system root.
struct StandInPrograms {
    std::string finder;    // quaymark-finder
    std::string killall;   // quaymark-killall
    std::string terminal;  // quaymark-standin
    // The programs in the folder of the running executable, where the build puts them.
    static StandInPrograms besideRunningExecutable();
    // Any other built program, by its path relative to that folder.
    static std::string besideRunningExecutable(const std::string& name);
};

enum class InstallLocation { Applications, HomeApplications };

// Runs this source tree's scripts/make-release with `arguments`; the base64 public key it
// printed, or nothing with its output in `output`.
std::optional<std::string> makeRelease(const std::vector<std::string>& arguments,
                                       std::string& output);

// Copies the bundle `builtApp` to `target` (replacing what is there), with `infoChanges` set in
// the copy's Info.plist; the reason on failure.
std::optional<std::string> copyApplication(const std::string& builtApp, const std::string& target,
                                           const PlistDictionary& infoChanges = {});

// A server the desktop runs beside its applications (its X display, its update feed), ended
// by pid with the desktop.
struct DesktopService {
    int pid = -1;
    // ":N" for the display, "http://127.0.0.1:<port>/" for the feed.
    std::string address;
};

struct XtermWindow {
    int pid = 0;
    std::string workingDirectory;
};

class Desktop {
public:
    // A desktop laid out earlier in `folder`.
    explicit Desktop(std::string folder);

    // Lays out a new desktop in `folder`, which must be missing or empty; the reason when
    // that failed.
    static std::optional<std::string> create(const std::string& folder,
                                             const DesktopOptions& options,
                                             const StandInPrograms& programs);

    const std::string& folder() const { return _folder; }
    std::string root() const { return _folder + "/root"; }
    std::string home() const { return _folder + "/home"; }
    // XDG_RUNTIME_DIR of the programs on this desktop.
    std::string runtimeFolder() const { return _folder + "/run"; }
    SystemRoot systemRoot() const { return SystemRoot(root()); }
    bool exists() const;
    // HOME, QUAYMARK_SYSTEM_ROOT, XDG_RUNTIME_DIR and a PATH that finds the desktop's URL
    // opener first, and DISPLAY while the desktop's display runs: what programs need to run
    // on this desktop.
    Environment environment() const;
    // Puts environment() into this process's environment, so that what it launches runs on
    // the desktop.
    void enter() const;

    // Copies a built Quaymark.app into /Applications or ~/Applications, with `infoChanges`
    // set in the copy's Info.plist (another version, feed or public key); the reason on failure.
    std::optional<std::string> installQuaymark(const std::string& builtApp,
                                               InstallLocation location,
                                               const PlistDictionary& infoChanges = {}) const;
    // Installs `builtApp` in /Applications as version `version`, reading the feed this desktop
    // serves and trusting `publicKey` (base64); the reason on failure or without a feed.
    std::optional<std::string> installQuaymarkForUpdates(const std::string& builtApp,
                                                         const std::string& version,
                                                         const std::string& publicKey) const;
    // What the installed Quaymark prints for --version, without the line end (or why it
    // printed nothing).
    std::string installedQuaymarkVersion() const;
    // The path of the installed Quaymark.app as the system names it, if there is one.
    std::optional<std::string> installedQuaymark() const;

    // "Finder", "Terminal", "iTerm", "iTerm2", "Quaymark" or a bundle identifier; nothing when
    // unknown.
    static std::optional<std::string> bundleIdentifierForApplication(const std::string& name);
    // Starts the application through launch services, or brings it to the front when it runs
    // already; its pid, or -1.
    int startApplication(const std::string& name) const;
    // Ends the application's registered processes by pid; false when none ran. Finder is
    // stopped for good, its keeper ended first: a Finder that ends any other way (killall, a
    // crash) is started again within a second.
    bool stopApplication(const std::string& name) const;
    std::vector<RunningApplication> runningApplications() const;
    // Ends every application registered on this desktop, and Finder's keeper.
    void stopAll() const;

    // A Finder window in front, showing the item at `path`.
    bool openFinderWindow(const std::string& path) const;
    bool closeFinderWindow() const;
    std::vector<FinderWindow> finderWindows() const;
    // What the running Finder loaded as its toolbar when it started; nothing when it has not
    // recorded anything.
    std::optional<PlistDictionary> loadedToolbar() const;
    // Asks the running Finder to click a toolbar item (by default, the first that leads to an
    // application); Finder's answer: "Launched" and "Pid", or "Error".
    PlistDictionary clickToolbarItem(std::optional<int> index) const;
    // Asks the running Finder to add the item at `path` (as the system names it) to the end
    // of its toolbar, as a user dragging it there does; "Index" of the new item, or "Error".
    PlistDictionary addToolbarItem(const std::string& path) const;

    // Starts the desktop's own X display unless it runs already; the reason on failure.
    // Applications started afterwards show their windows there, and so does what they start.
    // Nothing orders two callers at once: each could start a display, and only the one
    // recorded last would be ended with the desktop.
    std::optional<std::string> startDisplay() const;
    // The running display; nothing when it was never started or has ended.
    std::optional<DesktopService> display() const;
    // Starts the feed server program on `folder` unless a feed is served already, with
    // `options` after the folder ("--hold", "/Quaymark-1.1.zip"); the reason on failure.
    std::optional<std::string> serveFeed(const std::string& folder,
                                         const std::string& serverProgram,
                                         const std::vector<std::string>& options = {}) const;
    std::optional<DesktopService> feed() const;
    // What the feed server printed so far: its address, then "held PATH" for each request it
    // holds; empty when it cannot be read.
    std::string feedServerOutput() const;
    // Has the feed server answer the requests it holds, and later ones at once; false when no
    // feed is served or it could not be signalled.
    bool releaseHeldFeedRequests() const;
    // Ends the display and the feed server.
    void stopServices() const;

    // The addresses applications asked the desktop to open (in a browser), oldest first.
    std::vector<std::string> urlsOpened() const;

    // The xterm processes running on this desktop (their environment names its system root).
    std::vector<XtermWindow> xtermWindows() const;

private:
    PlistDictionary askFinder(const PlistDictionary& request) const;
    // False when Finder ended or did not get ready in time.
    bool waitUntilFinderServes(int pid) const;
    std::string servicesFile() const { return _folder + "/services.plist"; }
    std::string feedServerLog() const { return _folder + "/feed-server.log"; }
    std::optional<DesktopService> service(const std::string& name) const;
    bool recordService(const std::string& name, const DesktopService& service) const;

    std::string _folder;
};

}  // namespace quaymark
