// The scripting bridge over the modelled applications a test holds, and the modelled
// Finder; each target the bridge hands out is a new handle on the one modelled application.
#pragma once

#include "ScriptedITerm.h"
#include "ScriptedTerminal.h"
#include "Url.h"

namespace quaymark {

// Finder's browser windows front to back, each showing a target given by its URL string.
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

class ScriptedBridge : public ScriptingBridge {
public:
    // The models are not owned.
    ScriptedBridge(CallLog& calls, ScriptedFinder& finder, ScriptedTerminal& terminal,
                   ScriptedITerm& iTerm, ScriptedITerm& iTerm2)
        : _calls(calls), _finder(finder), _terminal(terminal), _iTerm(iTerm), _iTerm2(iTerm2) {}

    // Recorded as "Bridge.<vocabulary> <bundle identifier>", which the call-order tests
    // compare exactly; iTerm2 is "com.googlecode.iterm2", any other identifier is iTerm.
    std::unique_ptr<FinderScripting> finder(const std::string& bundleIdentifier) override {
        _calls.record("Bridge.finder", bundleIdentifier);
        return std::make_unique<ScriptedFinder>(_finder);
    }
    std::unique_ptr<TerminalScripting> terminal(const std::string& bundleIdentifier) override {
        _calls.record("Bridge.terminal", bundleIdentifier);
        return std::make_unique<ScriptedTerminal>(_terminal);
    }
    std::unique_ptr<ITermScripting> iTerm(const std::string& bundleIdentifier) override {
        _calls.record("Bridge.iTerm", bundleIdentifier);
        return std::make_unique<ScriptedITerm>(
            bundleIdentifier == "com.googlecode.iterm2" ? _iTerm2 : _iTerm);
    }

private:
    CallLog& _calls;
    ScriptedFinder& _finder;
    ScriptedTerminal& _terminal;
    ScriptedITerm& _iTerm;
    ScriptedITerm& _iTerm2;
};

}  // namespace quaymark
