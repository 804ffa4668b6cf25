// Finder as its scripting target sees it: browser windows front to back, each showing a
// target given by its URL string.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "CallLog.h"
#include "Scripting.h"

namespace quaymark {

class ScriptedFinder : public FinderScripting {
public:
    explicit ScriptedFinder(CallLog& calls) : _calls(calls) {}

    // Recorded as "Finder.frontWindowTargetUrl"; raises PlatformException with no window.
    std::optional<std::string> frontWindowTargetUrl() override;

    // Opens a window in front showing a target with this URL string; nothing stands for a
    // window whose target or URL cannot be had.
    void openWindow(std::optional<std::string> targetUrl);
    // Opens a window in front showing the folder at the path (its file URL).
    void openWindowAtPath(const std::string& path);
    void closeAllWindows() { _windows.clear(); }

    const std::vector<std::optional<std::string>>& windows() const { return _windows; }

private:
    CallLog& _calls;
    std::vector<std::optional<std::string>> _windows;
};

}  // namespace quaymark
