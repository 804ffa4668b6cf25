// Finder as its scripting target sees it: browser windows front to back, each showing a
// target given by its URL string. A copy is a handle on the same Finder.
#pragma once

#include <memory>

#include "CallLog.h"
#include "Scripting.h"
#include "Url.h"

namespace quaymark {

class ScriptedFinder : public FinderScripting {
public:
    explicit ScriptedFinder(CallLog& calls) : _calls(calls) {}

    // Recorded as "Finder.frontWindowTargetUrl"; raises PlatformException with no window.
    std::optional<std::string> frontWindowTargetUrl() override {
        _calls.record("Finder.frontWindowTargetUrl");
        if (_windows->empty())
            throw PlatformException("NSRangeException", "index 0 beyond bounds for empty array");
        return _windows->front();
    }

    // Opens a window in front showing a target with this URL string; nothing stands for a
    // window whose target or URL cannot be had.
    void openWindow(std::optional<std::string> targetUrl) {
        _windows->insert(_windows->begin(), std::move(targetUrl));
    }
    // Opens a window in front showing the folder at the path (its file URL).
    void openWindowAtPath(const std::string& path) {
        openWindow(Url::fileUrlWithPath(path, true).absoluteString());
    }

private:
    CallLog& _calls;
    std::shared_ptr<std::vector<std::optional<std::string>>> _windows =
        std::make_shared<std::vector<std::optional<std::string>>>();
};

}  // namespace quaymark
