// What a Mac's system does for Finder on the stand-in desktop: whenever Finder ends, for any
// reason, it is started again.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "launch/SystemRoot.h"

namespace quaymark {

// One keeper per desktop, started by the first Finder and ended by pid with the desktop or
// when Finder is stopped on purpose (DesktopServices::stopApplication). It waits for the running
// Finder's pid to end, then starts Finder through launch services after kRestartDelay. Launch
// services start an application only when none with its identifier runs, under the
// registry's lock, so a Finder that someone else started meanwhile (the installer relaunching
// it) is the one that runs, never a second one.
class FinderKeeper {
public:
    // Long enough for whoever ended Finder to see it gone (killall waits for that, and the
    // installer starts Finder itself then), short enough that Finder is back within a second.
    static constexpr std::chrono::milliseconds kRestartDelay{300};

    FinderKeeper(SystemRoot root, std::string home);

    // Keeps Finder running until SIGTERM, SIGINT or SIGHUP, or until the desktop's Finder
    // bundle is gone (the desktop was removed); returns at once when another keeper runs on
    // the desktop. The exit status.
    int run();

    // Starts `program --keep` detached as the desktop's keeper unless one runs; false when it
    // could not be started.
    static bool startUnlessRunning(const SystemRoot& root, const std::string& program);
    // The pid of the desktop's keeper, while it runs.
    static std::optional<int> running(const SystemRoot& root);

private:
    SystemRoot _root;
    std::string _home;
};

}  // namespace quaymark
