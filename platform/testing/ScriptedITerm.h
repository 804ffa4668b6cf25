// iTerm or iTerm2 as its scripting target sees it. Calls are recorded as
// "<process name>.<operation>". Calls of the other vocabulary raise PlatformException (an
// unrecognised selector), as do the application's commands while it does not run and
// references that name nothing when a command resolves them.
#pragma once

#include "ScriptedApplication.h"

namespace quaymark {

enum class ITermVocabulary { Classic, NextGeneration };

class ScriptedITerm : public ITermScripting, public ScriptedApplication {
public:
    using ScriptedApplication::ScriptedApplication;

    void activate() override {
        record("activate");
        launch();
    }
    bool respondsToTerminals() override {
        record("respondsToTerminals");
        return _options->vocabulary == ITermVocabulary::Classic;
    }

    std::optional<ObjectSpecifier> terminals() override {
        command("terminals", "", ITermVocabulary::Classic);
        if (_options->givesNoTerminalList)
            return std::nullopt;
        return ObjectSpecifier({specifier::kTerminals});
    }
    ObjectSpecifier makeTerminal() override {
        command("makeTerminal", "", ITermVocabulary::Classic);
        _options->madeTerminals.push_back(0);
        return ObjectSpecifier({specifier::newTerminal(_options->madeTerminals.size())});
    }
    // iTerm opens the window for the terminal at once; its session comes with launchSession.
    void addObject(const ObjectSpecifier& list, const ObjectSpecifier& terminal) override {
        command("addObject", terminal.description() + " to " + list.description(),
                ITermVocabulary::Classic);
        int* window = madeTerminal(terminal);
        if (list.steps() != std::vector<std::string>{specifier::kTerminals} || !window || *window)
            throw PlatformException("SBErrorDomain -10000", "cannot add " + terminal.description());
        *window = openWindow(0).id;
    }
    void launchSession(const ObjectSpecifier& terminal, const std::string& name) override {
        command("launchSession", name + " in " + terminal.description(), ITermVocabulary::Classic);
        if (name != "Default Session")
            throw PlatformException("SBErrorDomain -10000", "no session profile named " + name);
        resolveWindow(terminal).openTab();
    }
    ObjectSpecifier currentTerminal() override {
        command("currentTerminal", "", ITermVocabulary::Classic);
        return ObjectSpecifier({specifier::kCurrentTerminal});
    }
    ObjectSpecifier currentSession(const ObjectSpecifier& container) override {
        record("currentSession", "of " + container.description());
        return container.child(specifier::kCurrentSession);
    }
    // The session runs the text as a typed line.
    void writeContentsOfFile(const ObjectSpecifier& session, const std::optional<std::string>& file,
                             const std::string& text) override {
        record("writeContentsOfFile",
               file.value_or("nil") + " " + text + " to " + session.description());
        requireRunning();
        resolveSession(session).received.push_back(text + "\n");
    }

    ObjectSpecifier currentWindow() override {
        command("currentWindow", "", ITermVocabulary::NextGeneration);
        return ObjectSpecifier({specifier::kCurrentWindow});
    }
    bool get(const ObjectSpecifier& window) override {
        command("get", window.description(), ITermVocabulary::NextGeneration);
        return findWindow(window) != nullptr;
    }
    void createTabWithDefaultProfile(const ObjectSpecifier& window,
                                     const std::optional<std::string>& text) override {
        command("createTabWithDefaultProfile", text.value_or("nil") + " in " + window.description(),
                ITermVocabulary::NextGeneration);
        receive(resolveWindow(window).openTab(), text);
    }
    void createWindowWithDefaultProfile(const std::optional<std::string>& text) override {
        command("createWindowWithDefaultProfile", text.value_or("nil"),
                ITermVocabulary::NextGeneration);
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
        if (!takesNewline())
            throw PlatformException("NSInvalidArgumentException", "unrecognized selector");
        requireRunning();
        resolveSession(session).received.push_back(newline ? text + "\n" : text);
    }

    void setVocabulary(ITermVocabulary vocabulary) { _options->vocabulary = vocabulary; }
    // While set, `terminals` gives no list.
    void setGivesNoTerminalList(bool none) { _options->givesNoTerminalList = none; }
    // Whether sessions offer writeContentsOfFile:text:newline: (next generation only).
    void setSessionsRespondToWriteWithNewline(bool respond) { _options->takesNewline = respond; }

private:
    // Records the call, then raises as the application does for a selector of the other
    // vocabulary, or while it does not run.
    void command(const std::string& operation, const std::string& detail,
                 ITermVocabulary vocabulary) {
        record(operation, detail);
        if (_options->vocabulary != vocabulary)
            throw PlatformException("NSInvalidArgumentException", "unrecognized " + operation);
        requireRunning();
    }
    bool takesNewline() const {
        return _options->vocabulary == ITermVocabulary::NextGeneration && _options->takesNewline;
    }
    static void receive(ScriptedSession& session, const std::optional<std::string>& text) {
        if (text)
            session.received.push_back(*text + "\n");
    }
    // The id of the window a made terminal became (0 while not added); null for another
    // reference.
    int* madeTerminal(const ObjectSpecifier& terminal) {
        for (std::size_t serial = 1; serial <= _options->madeTerminals.size(); ++serial) {
            if (terminal.steps() == std::vector{specifier::newTerminal(serial)})
                return &_options->madeTerminals[serial - 1];
        }
        return nullptr;
    }
    // "currentTerminal" or "currentWindow" name the front window, "newTerminal#N" the window
    // a made terminal became.
    ScriptedWindow* findWindow(const ObjectSpecifier& reference) {
        bool front = reference.steps() == std::vector<std::string>{specifier::kCurrentTerminal} ||
                     reference.steps() == std::vector<std::string>{specifier::kCurrentWindow};
        int* made = madeTerminal(reference);
        for (ScriptedWindow& window : _state->windows) {
            if ((front && &window == &_state->windows.front()) || (made && window.id == *made))
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
        std::vector<int> madeTerminals;  // by serial from 1: the window id each became
    };
    std::shared_ptr<Options> _options = std::make_shared<Options>();
};

}  // namespace quaymark
