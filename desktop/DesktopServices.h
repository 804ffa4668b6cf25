// What runs on a stand-in desktop for its applications: its X display, its update feed, and
// the launch registry through which applications start and end.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "DesktopLayout.h"
#include "Result.h"
#include "Workspace.h"

namespace quaymark {

// A server the desktop runs beside its applications (its X display, its update feed), ended
// by pid with the desktop.
struct DesktopService {
    int pid = -1;
    // ":N" for the display, "http://127.0.0.1:<port>/" for the feed.
    std::string address;
};

class DesktopServices : public DesktopLayout {
public:
    using DesktopLayout::DesktopLayout;

    // The folders' environment (DesktopLayout), and DISPLAY while the desktop's display runs:
    // what programs need to run on this desktop.
    Environment environment() const;
    // Puts environment() into this process's environment, so that what it launches runs on
    // the desktop.
    void enter() const;

    // Starts the desktop's own X display unless it runs already; the reason on failure.
    // Applications started afterwards show their windows there, and so does what they start.
    // Nothing orders two callers at once: each could start a display, and only the one
    // recorded last would be ended with the desktop.
    Result<void> startDisplay() const;
    // The running display; nothing when it was never started or has ended.
    std::optional<DesktopService> display() const;
    // Starts the feed server program on `folder` unless a feed is served already, with
    // `options` after the folder ("--hold", "/Quaymark-1.1.zip"); the reason on failure.
    Result<void> serveFeed(const std::string& folder, const std::string& serverProgram,
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

    // Installs `builtApp` in /Applications as version `version`, reading the feed this desktop
    // serves and trusting `publicKey` (base64); the reason on failure or without a feed.
    Result<void> installQuaymarkForUpdates(const std::string& builtApp, const std::string& version,
                                           const std::string& publicKey) const;
    // What the installed Quaymark prints for --version, without the line end (or why it
    // printed nothing).
    std::string installedQuaymarkVersion() const;

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

private:
    std::string servicesFile() const { return folder() + "/services.plist"; }
    std::string feedServerLog() const { return folder() + "/feed-server.log"; }
    std::optional<DesktopService> service(const std::string& name) const;
    bool recordService(const std::string& name, const DesktopService& service) const;
};

}  // namespace quaymark
