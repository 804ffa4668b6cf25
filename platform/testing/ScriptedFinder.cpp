#include "ScriptedFinder.h"

#include "PlatformException.h"
#include "Url.h"

namespace quaymark {

std::optional<std::string> ScriptedFinder::frontWindowTargetUrl() {
    _calls.record("Finder.frontWindowTargetUrl");
    if (_windows.empty()) {
        throw PlatformException("NSRangeException", "index 0 beyond bounds for empty array");
    }
    return _windows.front();
}

void ScriptedFinder::openWindow(std::optional<std::string> targetUrl) {
    _windows.insert(_windows.begin(), std::move(targetUrl));
}

void ScriptedFinder::openWindowAtPath(const std::string& path) {
    openWindow(Url::fileUrlWithPath(path, true).absoluteString());
}

}  // namespace quaymark
