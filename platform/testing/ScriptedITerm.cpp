#include "ScriptedITerm.h"

#include <algorithm>

#include "PlatformException.h"

namespace quaymark {

namespace {

constexpr const char* kDefaultSessionProfile = "Default Session";

std::string describe(const std::optional<std::string>& text) {
    return text ? *text : "nil";
}

}  // namespace

ScriptedITerm::ScriptedITerm(CallLog& calls, std::string name, std::string bundleIdentifier,
                             ITermVocabulary vocabulary, int processIdentifier)
    : _calls(calls),
      _name(std::move(name)),
      _bundleIdentifier(std::move(bundleIdentifier)),
      _vocabulary(vocabulary),
      _processIdentifier(processIdentifier) {}

void ScriptedITerm::activate() {
    _calls.record(_name + ".activate");
    if (_running)
        return;
    _running = true;
    openWindow();
}

bool ScriptedITerm::respondsToTerminals() {
    _calls.record(_name + ".respondsToTerminals");
    return _vocabulary == ITermVocabulary::Classic;
}

std::optional<ObjectSpecifier> ScriptedITerm::terminals() {
    _calls.record(_name + ".terminals");
    requireVocabulary(ITermVocabulary::Classic, "terminals");
    if (_givesNoTerminalList)
        return std::nullopt;
    return ObjectSpecifier({specifier::kTerminals});
}

ObjectSpecifier ScriptedITerm::makeTerminal() {
    _calls.record(_name + ".makeTerminal");
    requireVocabulary(ITermVocabulary::Classic, "classForScriptingClass:");
    std::size_t serial = _madeTerminals.size() + 1;
    _madeTerminals[serial] = std::nullopt;
    return ObjectSpecifier({specifier::newTerminal(serial)});
}

void ScriptedITerm::addObject(const ObjectSpecifier& list, const ObjectSpecifier& terminal) {
    _calls.record(_name + ".addObject", terminal.description() + " to " + list.description());
    requireVocabulary(ITermVocabulary::Classic, "addObject:");
    requireRunning();
    auto made = std::find_if(_madeTerminals.begin(), _madeTerminals.end(), [&](const auto& entry) {
        return terminal.steps() == std::vector{specifier::newTerminal(entry.first)};
    });
    if (list.steps() != std::vector<std::string>{specifier::kTerminals} ||
        made == _madeTerminals.end() || made->second) {
        throw PlatformException("SBErrorDomain -10000", "cannot add " + terminal.description());
    }
    // iTerm opens the window for the terminal at once; its session comes with launchSession.
    made->second = openWindow(0).id;
}

void ScriptedITerm::launchSession(const ObjectSpecifier& terminal, const std::string& name) {
    _calls.record(_name + ".launchSession", name + " in " + terminal.description());
    requireVocabulary(ITermVocabulary::Classic, "launchSession:");
    requireRunning();
    ScriptedWindow& window = resolveWindow(terminal);
    if (name != kDefaultSessionProfile) {
        throw PlatformException("SBErrorDomain -10000", "no session profile named " + name);
    }
    window.openSession();
}

ObjectSpecifier ScriptedITerm::currentTerminal() {
    _calls.record(_name + ".currentTerminal");
    requireVocabulary(ITermVocabulary::Classic, "currentTerminal");
    return ObjectSpecifier({specifier::kCurrentTerminal});
}

ObjectSpecifier ScriptedITerm::currentSession(const ObjectSpecifier& container) {
    _calls.record(_name + ".currentSession", "of " + container.description());
    return container.child(specifier::kCurrentSession);
}

void ScriptedITerm::writeContentsOfFile(const ObjectSpecifier& session,
                                        const std::optional<std::string>& file,
                                        const std::string& text) {
    _calls.record(_name + ".writeContentsOfFile",
                  describe(file) + " " + text + " to " + session.description());
    requireRunning();
    // iTerm types the text as a line that the shell runs.
    resolveSession(session).received.push_back(text + "\n");
}

ObjectSpecifier ScriptedITerm::currentWindow() {
    _calls.record(_name + ".currentWindow");
    requireVocabulary(ITermVocabulary::NextGeneration, "currentWindow");
    return ObjectSpecifier({specifier::kCurrentWindow});
}

bool ScriptedITerm::get(const ObjectSpecifier& window) {
    _calls.record(_name + ".get", window.description());
    requireVocabulary(ITermVocabulary::NextGeneration, "get");
    requireRunning();
    try {
        resolveWindow(window);
        return true;
    } catch (const PlatformException&) {
        return false;  // `get` of a reference that names nothing gives nil
    }
}

void ScriptedITerm::createTabWithDefaultProfile(const ObjectSpecifier& window,
                                                const std::optional<std::string>& command) {
    _calls.record(_name + ".createTabWithDefaultProfile",
                  describe(command) + " in " + window.description());
    requireVocabulary(ITermVocabulary::NextGeneration, "createTabWithDefaultProfileCommand:");
    requireRunning();
    ScriptedSession& session = resolveWindow(window).openSession();
    if (command)
        session.received.push_back(*command + "\n");
}

void ScriptedITerm::createWindowWithDefaultProfile(const std::optional<std::string>& command) {
    _calls.record(_name + ".createWindowWithDefaultProfile", describe(command));
    requireVocabulary(ITermVocabulary::NextGeneration, "createWindowWithDefaultProfileCommand:");
    requireRunning();
    ScriptedWindow& window = openWindow(1);
    if (command)
        window.sessions.back().received.push_back(*command + "\n");
}

bool ScriptedITerm::sessionRespondsToWriteWithNewline(const ObjectSpecifier& session) {
    _calls.record(_name + ".sessionRespondsToWriteWithNewline", session.description());
    return _vocabulary == ITermVocabulary::NextGeneration && _sessionsTakeNewline;
}

void ScriptedITerm::writeContentsOfFile(const ObjectSpecifier& session,
                                        const std::optional<std::string>& file,
                                        const std::string& text, bool newline) {
    _calls.record(_name + ".writeContentsOfFile", describe(file) + " " + text +
                                                      " newline:" + (newline ? "YES" : "NO") +
                                                      " to " + session.description());
    if (_vocabulary != ITermVocabulary::NextGeneration || !_sessionsTakeNewline) {
        throw PlatformException("NSInvalidArgumentException",
                                "unrecognized selector writeContentsOfFile:text:newline:");
    }
    requireRunning();
    resolveSession(session).received.push_back(newline ? text + "\n" : text);
}

std::optional<RunningApplication> ScriptedITerm::runningInstance() const {
    if (!_running)
        return std::nullopt;
    return RunningApplication{_processIdentifier, _bundleIdentifier, _name};
}

bool ScriptedITerm::pressCommandT() {
    if (!_running)
        return false;
    _stack.pressCommandT();
    return true;
}

ScriptedWindow& ScriptedITerm::openWindow(std::size_t sessions) {
    return _stack.open(sessions);
}

void ScriptedITerm::requireVocabulary(ITermVocabulary vocabulary, const char* selector) const {
    if (_vocabulary != vocabulary) {
        throw PlatformException("NSInvalidArgumentException",
                                std::string("unrecognized selector ") + selector);
    }
}

void ScriptedITerm::requireRunning() const {
    if (!_running)
        throw PlatformException("SBErrorDomain -600", _name + " is not running");
}

ScriptedWindow& ScriptedITerm::resolveWindow(const ObjectSpecifier& reference) {
    const std::vector<std::string>& steps = reference.steps();
    auto withId = [&](int id) -> ScriptedWindow* {
        auto found = std::find_if(_stack.windows.begin(), _stack.windows.end(),
                                  [id](const ScriptedWindow& w) { return w.id == id; });
        return found == _stack.windows.end() ? nullptr : &*found;
    };
    ScriptedWindow* window = nullptr;
    if (steps.size() == 1) {
        const std::string& step = steps.front();
        bool front = step == (_vocabulary == ITermVocabulary::Classic ? specifier::kCurrentTerminal
                                                                      : specifier::kCurrentWindow);
        if (front && !_stack.windows.empty())
            window = &_stack.windows.front();
        for (std::size_t index = 0; index < _stack.windows.size(); ++index) {
            if (step == specifier::windowAtIndex(index))
                window = &_stack.windows[index];
        }
        for (const auto& [serial, id] : _madeTerminals) {
            if (step == specifier::newTerminal(serial) && id)
                window = withId(*id);
        }
    }
    if (window == nullptr) {
        throw PlatformException("SBErrorDomain -1728", "Can't get " + reference.description());
    }
    return *window;
}

ScriptedSession& ScriptedITerm::resolveSession(const ObjectSpecifier& reference) {
    const std::vector<std::string>& steps = reference.steps();
    if (steps.size() != 2 || steps.back() != specifier::kCurrentSession) {
        throw PlatformException("SBErrorDomain -1728", "Can't get " + reference.description());
    }
    ScriptedWindow& window = resolveWindow(ObjectSpecifier({steps.front()}));
    if (window.sessions.empty()) {
        throw PlatformException("SBErrorDomain -1728", "Can't get " + reference.description());
    }
    return window.sessions[window.selected];
}

}  // namespace quaymark
