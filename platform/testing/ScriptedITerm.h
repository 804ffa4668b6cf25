// iTerm or iTerm2 as its scripting target sees it. Calls are recorded as
// "<process name>.<operation>". Calls of the other vocabulary raise PlatformException (an
// unrecognised selector), as do commands sent while the application does not run and
// references that name nothing when a command resolves them; obtaining a reference never
// raises.
#pragma once

#include "ScriptedApplication.h"

namespace quaymark {

enum class ITermVocabulary { Classic, NextGeneration };

class ScriptedITerm : public ITermScripting, public ScriptedApplication {
public:
    ScriptedITerm(CallLog& calls, std::string name, std::string bundleIdentifier, int pid)
        : ScriptedApplication(calls, std::move(name), std::move(bundleIdentifier), pid) {}

    void activate() override {
        record("activate");
        launch();
    }
    bool respondsToTerminals() override {
        record("respondsToTerminals");
        return _options->vocabulary == ITermVocabulary::Classic;
    }

    std::optional<ObjectSpecifier> terminals() override {
        command("terminals", "", ITermVocabulary::Classic, false);
        if (_options->givesNoTerminalList)
            return std::nullopt;
        return ObjectSpecifier({specifier::kTerminals});
    }
    ObjectSpecifier makeTerminal() override {
        command("makeTerminal", "", ITermVocabulary::Classic, false);
        _options->madeTerminals.push_back(0);
        return ObjectSpecifier({specifier::newTerminal(_options->madeTerminals.size())});
    }
    void addObject(const ObjectSpecifier& list, const ObjectSpecifier& terminal) override {
        command("addObject", terminal.description() + " to " + list.description(),
                ITermVocabulary::Classic, true);
        int* window = madeTerminal(terminal);
        if (list.steps() != std::vector<std::string>{specifier::kTerminals} || !window ||
            *window != 0) {
            throw PlatformException("SBErrorDomain -10000", "cannot add " + terminal.description());
        }
        // iTerm opens the window for the terminal at once; its session comes with launchSession.
        *window = openWindow(0).id;
    }
    void launchSession(const ObjectSpecifier& terminal, const std::string& name) override {
        command("launchSession", name + " in " + terminal.description(), ITermVocabulary::Classic,
                true);
        ScriptedWindow& window = resolveWindow(terminal);
        if (name != "Default Session")
            throw PlatformException("SBErrorDomain -10000", "no session profile named " + name);
        window.openTab();
    }
    ObjectSpecifier currentTerminal() override {
        command("currentTerminal", "", ITermVocabulary::Classic, false);
        return ObjectSpecifier({specifier::kCurrentTerminal});
    }
    ObjectSpecifier currentSession(const ObjectSpecifier& container) override {
        record("currentSession", "of " + container.description());
        return container.child(specifier::kCurrentSession);
    }
    // iTerm types the text as a line that the shell runs.
    void writeContentsOfFile(const ObjectSpecifier& session, const std::optional<std::string>& file,
                             const std::string& text) override {
        record("writeContentsOfFile",
               file.value_or("nil") + " " + text + " to " + session.description());
        requireRunning();
        resolveSession(session).received.push_back(text + "\n");
    }

    ObjectSpecifier currentWindow() override {
        command("currentWindow", "", ITermVocabulary::NextGeneration, false);
        return ObjectSpecifier({specifier::kCurrentWindow});
    }
    bool get(const ObjectSpecifier& window) override {
        command("get", window.description(), ITermVocabulary::NextGeneration, true);
        return findWindow(window) != nullptr;
    }
    void createTabWithDefaultProfile(const ObjectSpecifier& window,
                                     const std::optional<std::string>& text) override {
        command("createTabWithDefaultProfile", text.value_or("nil") + " in " + window.description(),
                ITermVocabulary::NextGeneration, true);
        receive(resolveWindow(window).openTab(), text);
    }
    void createWindowWithDefaultProfile(const std::optional<std::string>& text) override {
        command("createWindowWithDefaultProfile", text.value_or("nil"),
                ITermVocabulary::NextGeneration, true);
        receive(openWindow().sessions.back(), text);
    }
    bool sessionRespondsToWriteWithNewline(const ObjectSpecifier& session) override {
        record("sessionRespondsToWriteWithNewline", session.description());
        return takesNewline();
    }
    void writeContentsOfFile(const ObjectSpecifier& session, const std::optional<std::string>& file,
                             const std::string& text, bool newline) override {
        record("writeContentsOfFile", file.value_or("nil") + " " + text +
                                          " newline:" + (newline ? "YES" : "NO") + " to " +
                                          session.description());
        if (!takesNewline()) {
            throw PlatformException("NSInvalidArgumentException",
                                    "unrecognized selector writeContentsOfFile:text:newline:");
        }
        requireRunning();
        resolveSession(session).received.push_back(newline ? text + "\n" : text);
    }

    void setVocabulary(ITermVocabulary vocabulary) { _options->vocabulary = vocabulary; }
    // While set, `terminals` gives no list.
    void setGivesNoTerminalList(bool none) { _options->givesNoTerminalList = none; }
    // Whether sessions offer writeContentsOfFile:text:newline: (next generation only).
    void setSessionsRespondToWriteWithNewline(bool respond) { _options->takesNewline = respond; }

private:
    // Records the call, then raises as the application would for the wrong vocabulary or,
    // when the command needs it, for an application that does not run.
    void command(const std::string& operation, const std::string& detail,
                 ITermVocabulary vocabulary, bool needsRunning) {
        record(operation, detail);
        if (_options->vocabulary != vocabulary) {
            throw PlatformException("NSInvalidArgumentException",
                                    "unrecognized selector " + operation);
        }
        if (needsRunning)
            requireRunning();
    }
    bool takesNewline() const {
        return _options->vocabulary == ITermVocabulary::NextGeneration && _options->takesNewline;
    }
    static void receive(ScriptedSession& session, const std::optional<std::string>& text) {
        if (text)
            session.received.push_back(*text + "\n");
    }
    // The window a made terminal became (0 while not added); nothing for another reference.
    int* madeTerminal(const ObjectSpecifier& terminal) {
        for (std::size_t serial = 1; serial <= _options->madeTerminals.size(); ++serial) {
            if (terminal.steps() == std::vector{specifier::newTerminal(serial)})
                return &_options->madeTerminals[serial - 1];
        }
        return nullptr;
    }
    ScriptedWindow* findWindow(const ObjectSpecifier& reference) {
        const char* front = _options->vocabulary == ITermVocabulary::Classic
                                ? specifier::kCurrentTerminal
                                : specifier::kCurrentWindow;
        int id = windows().empty() ? -1 : windows().front().id;
        if (reference.steps() != std::vector<std::string>{front}) {
            int* made = madeTerminal(reference);
            id = made ? *made : -1;
        }
        for (ScriptedWindow& window : windowList()) {
            if (window.id == id)
                return &window;
        }
        return nullptr;
    }
    ScriptedWindow& resolveWindow(const ObjectSpecifier& reference) {
        if (ScriptedWindow* window = findWindow(reference))
            return *window;
        throw noSuchObject(reference);
    }
    ScriptedSession& resolveSession(const ObjectSpecifier& reference) {
        const std::vector<std::string>& steps = reference.steps();
        ScriptedWindow* window = nullptr;
        if (steps.size() == 2 && steps.back() == specifier::kCurrentSession)
            window = findWindow(ObjectSpecifier({steps.front()}));
        if (!window || window->sessions.empty())
            throw noSuchObject(reference);
        return window->sessions[window->selected];
    }

    struct Options {
        ITermVocabulary vocabulary = ITermVocabulary::Classic;
        bool givesNoTerminalList = false;
        bool takesNewline = true;
        // By serial, counted from 1: the id of the window each made terminal became.
        std::vector<int> madeTerminals;
    };
    std::shared_ptr<Options> _options = std::make_shared<Options>();
};

}  // namespace quaymark
