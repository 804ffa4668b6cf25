// The Finder stand-in's windows, front to back, kept in a file so they survive a restart.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Scripting.h"
#include "Workspace.h"

namespace quaymark {

// One Finder window: the URL string of the item it shows, if it shows one.
struct FinderWindow {
    std::optional<std::string> targetUrl;
    friend bool operator==(const FinderWindow&, const FinderWindow&) = default;
};

// Every change is a locked read-modify-write of the file, so the desktop tool and Finder
// can both change it.
class FinderWindowsFile {
public:
    explicit FinderWindowsFile(std::string path) : _path(std::move(path)) {}
    // Where Finder keeps its windows for the user whose home this is.
    static std::string pathForHome(const std::string& home);

    // Front to back; empty when there is no file or it cannot be read.
    std::vector<FinderWindow> windows() const;
    // Opens a window in front of the others; false when the file could not be written.
    bool openWindow(const FinderWindow& window);
    // False when there was no window or the file could not be written.
    bool closeFrontWindow();
    bool closeAllWindows();

private:
    template <typename Change>
    bool change(Change&& edit);

    std::string _path;
};

// Finder's scripting target on this desktop: the front window's target while Finder runs.
class FinderStandInScripting : public FinderScripting {
public:
    FinderStandInScripting(Workspace& workspace, std::string windowsFile)
        : _workspace(workspace), _windows(std::move(windowsFile)) {}

    std::optional<std::string> frontWindowTargetUrl() override;

private:
    Workspace& _workspace;
    FinderWindowsFile _windows;
};

}  // namespace quaymark
