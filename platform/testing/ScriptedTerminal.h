// Apple's Terminal as its scripting target sees it: running or not, windows front to back,
// each with tabs, and what each tab was given to run.
#pragma once

#include <vector>

#include "CallLog.h"
#include "RecordingWorkspace.h"
#include "ScriptedAppleScriptRunner.h"
#include "ScriptedWindow.h"
#include "Scripting.h"

namespace quaymark {

class ScriptedTerminal : public TerminalScripting,
                         public RunningApplicationSource,
                         public KeystrokeTarget {
public:
    static constexpr int kProcessIdentifier = 401;

    explicit ScriptedTerminal(CallLog& calls) : _calls(calls) {}

    // Calls are recorded as "Terminal.<operation>". Commands other than isRunning raise
    // PlatformException while Terminal does not run, as does a window reference that
    // names no window when doScript resolves it.
    bool isRunning() override;
    void activate() override;
    ObjectSpecifier windowAtIndex(std::size_t index) override;
    void doScript(const std::string& command,
                  const std::optional<ObjectSpecifier>& window) override;

    std::optional<RunningApplication> runningInstance() const override;
    std::string processName() const override { return "Terminal"; }
    bool pressCommandT() override;

    // Running without windows; add them with openWindow.
    void setRunning(bool running) { _running = running; }
    // Opens a window in front of the others with the given number of tabs, the last selected.
    ScriptedWindow& openWindow(std::size_t tabs = 1);
    // Whether activate opens a first window when it starts Terminal (true by default).
    void setOpensWindowAtLaunch(bool opens) { _opensWindowAtLaunch = opens; }

    bool running() const { return _running; }
    const std::vector<ScriptedWindow>& windows() const { return _stack.windows; }

private:
    CallLog& _calls;
    bool _running = false;
    bool _opensWindowAtLaunch = true;
    ScriptedWindowStack _stack;
};

}  // namespace quaymark
