// Apple's Terminal as its scripting target sees it. Calls are recorded as
// "Terminal.<operation>"; commands other than isRunning raise PlatformException while
// Terminal does not run, as does a window reference that names no window when doScript
// resolves it.
#pragma once

#include "ScriptedApplication.h"

namespace quaymark {

class ScriptedTerminal : public TerminalScripting, public ScriptedApplication {
public:
    explicit ScriptedTerminal(CallLog& calls)
        : ScriptedApplication(calls, {401, "com.apple.Terminal", "Terminal"}) {}

    bool isRunning() override {
        record("isRunning");
        return running();
    }
    void activate() override {
        record("activate");
        launch();
    }
    ObjectSpecifier windowAtIndex(std::size_t index) override {
        record("windowAtIndex", std::to_string(index));
        return ObjectSpecifier({specifier::windowAtIndex(index)});
    }
    void doScript(const std::string& command,
                  const std::optional<ObjectSpecifier>& window) override {
        record("doScript", command + " in " + (window ? window->description() : "new window"));
        if (!running())
            throw PlatformException("SBErrorDomain -600", "Terminal is not running");
        if (!window) {
            openWindow().sessions.back().received.push_back(command + "\n");
            return;
        }
        // The reference is resolved now, against the windows as they are at this moment.
        for (std::size_t index = 0; index < windows().size(); ++index) {
            ScriptedWindow& target = _state->windows[index];
            if (window->steps() == std::vector{specifier::windowAtIndex(index)}) {
                if (target.sessions.empty())
                    throw noSuchObject(window->child("selectedTab"));
                target.sessions.back().received.push_back(command + "\n");
                return;
            }
        }
        throw noSuchObject(*window);
    }
};

}  // namespace quaymark
