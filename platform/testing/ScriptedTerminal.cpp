#include "ScriptedTerminal.h"

#include "PlatformException.h"

namespace quaymark {

namespace {

// Terminal's scripting error for a reference that names nothing (errAENoSuchObject).
PlatformException noSuchObject(const ObjectSpecifier& reference) {
    return PlatformException("SBErrorDomain -1728", "Can't get " + reference.description());
}

}  // namespace

bool ScriptedTerminal::isRunning() {
    _calls.record("Terminal.isRunning");
    return _running;
}

void ScriptedTerminal::activate() {
    _calls.record("Terminal.activate");
    if (_running)
        return;
    _running = true;
    if (_opensWindowAtLaunch)
        openWindow();
}

ObjectSpecifier ScriptedTerminal::windowAtIndex(std::size_t index) {
    _calls.record("Terminal.windowAtIndex", std::to_string(index));
    return ObjectSpecifier({specifier::windowAtIndex(index)});
}

void ScriptedTerminal::doScript(const std::string& command,
                                const std::optional<ObjectSpecifier>& window) {
    _calls.record("Terminal.doScript",
                  command + " in " + (window ? window->description() : "new window"));
    if (!_running)
        throw PlatformException("SBErrorDomain -600", "Terminal is not running");
    if (!window) {
        openWindow().sessions.back().received.push_back(command + "\n");
        return;
    }
    // The reference is resolved now, against the windows as they are at this moment.
    for (std::size_t index = 0; index < _stack.windows.size(); ++index) {
        if (window->steps() == std::vector{specifier::windowAtIndex(index)}) {
            ScriptedWindow& target = _stack.windows[index];
            if (target.sessions.empty())
                throw noSuchObject(window->child("selectedTab"));
            target.sessions[target.selected].received.push_back(command + "\n");
            return;
        }
    }
    throw noSuchObject(*window);
}

std::optional<RunningApplication> ScriptedTerminal::runningInstance() const {
    if (!_running)
        return std::nullopt;
    return RunningApplication{kProcessIdentifier, "com.apple.Terminal", "Terminal"};
}

bool ScriptedTerminal::pressCommandT() {
    if (!_running)
        return false;
    _stack.pressCommandT();
    return true;
}

ScriptedWindow& ScriptedTerminal::openWindow(std::size_t tabs) {
    return _stack.open(tabs);
}

}  // namespace quaymark
