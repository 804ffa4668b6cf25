// A stand-in desktop in one folder and the applications on it: Finder's windows and toolbar,
// and the xterms. Its layout and services come from the layers below it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "DesktopServices.h"
#include "PlistValue.h"
#include "scripting/FinderWindows.h"

namespace quaymark {

struct XtermWindow {
    int pid = 0;
    std::string workingDirectory;
};

class Desktop : public DesktopServices {
public:
    using DesktopServices::DesktopServices;

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

    // The xterm processes running on this desktop (their environment names its system root).
    std::vector<XtermWindow> xtermWindows() const;

private:
    PlistDictionary askFinder(const PlistDictionary& request) const;
    // False when Finder ended or did not get ready in time.
    bool waitUntilFinderServes(int pid) const;
};

}  // namespace quaymark
