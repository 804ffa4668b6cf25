// What the scripted terminal applications share: whether they run, their windows front to
// back with tabs (sessions), and what each tab was given. A copy is a handle on the same
// application, as every scripting target of a real application addresses one process.
#pragma once

#include <memory>

#include "CallLog.h"
#include "Scripting.h"
#include "Workspace.h"

namespace quaymark {

struct ScriptedSession {
    // Each text the session received, in order; a text that was run as a line ends in "\n".
    std::vector<std::string> received;
};

// A window's tabs in the order they were opened; the last one opened is the selected one,
// which is all the openers ever select.
struct ScriptedWindow {
    int id = 0;  // identifies the window while others open in front of it
    std::vector<ScriptedSession> sessions;
};

class ScriptedApplication {
public:
    // The application's process as the workspace lists it while it runs.
    ScriptedApplication(CallLog& calls, RunningApplication process)
        : _calls(calls), _process(std::move(process)) {}

    const std::string& processName() const { return _process.processName; }
    bool running() const { return _state->running; }
    // Running without windows; add them with openWindow.
    void setRunning(bool running) { _state->running = running; }
    // Opens a window in front of the others with `tabs` tabs.
    ScriptedWindow& openWindow(std::size_t tabs = 1) {
        ScriptedWindow window{_state->nextWindowId++, std::vector<ScriptedSession>(tabs)};
        return *_state->windows.insert(_state->windows.begin(), std::move(window));
    }
    const std::vector<ScriptedWindow>& windows() const { return _state->windows; }
    std::optional<RunningApplication> runningInstance() const {
        return running() ? std::optional(_process) : std::nullopt;
    }
    // Command-T: a new tab in the front window, or a first window when there is none; false
    // when the application does not run, so there is no process to press the keys in.
    bool pressCommandT() {
        if (!running())
            return false;
        if (windows().empty())
            openWindow();
        else
            _state->windows.front().sessions.emplace_back();
        return true;
    }

protected:
    // Recorded as "<process name>.<operation>", with the detail after a space.
    void record(const std::string& operation, const std::string& detail = {}) const {
        _calls.record(processName() + "." + operation, detail);
    }
    // Starts the application with its first window, as launching it does.
    void launch() {
        if (!running()) {
            setRunning(true);
            openWindow();
        }
    }
    // The scripting error for a reference that names nothing (errAENoSuchObject).
    static PlatformException noSuchObject(const ObjectSpecifier& reference) {
        return PlatformException("SBErrorDomain -1728", "Can't get " + reference.description());
    }

    struct State {
        bool running = false;
        std::vector<ScriptedWindow> windows;
        int nextWindowId = 1;
    };
    std::shared_ptr<State> _state = std::make_shared<State>();

private:
    CallLog& _calls;
    RunningApplication _process;
};

}  // namespace quaymark
