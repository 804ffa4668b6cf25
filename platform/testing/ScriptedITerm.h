// iTerm or iTerm2 as its scripting target sees it, with calls recorded as
// "<process name>.<operation>". References are resolved when a command uses them; one that
// names nothing raises PlatformException. Which vocabulary a caller may use is left to the
// tests of its call order.
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
        record("terminals");
        if (_options->givesNoTerminalList)
            return std::nullopt;
        return ObjectSpecifier({specifier::kTerminals});
    }
    ObjectSpecifier makeTerminal() override {
        record("makeTerminal");
        _options->madeTerminals.push_back(0);
        return ObjectSpecifier({specifier::newTerminal(_options->madeTerminals.size())});
    }
    // iTerm opens the window for the terminal at once; its session comes with launchSession.
    void addObject(const ObjectSpecifier& list, const ObjectSpecifier& terminal) override {
        record("addObject", terminal.description() + " to " + list.description());
        if (int* window = madeTerminal(terminal))
            *window = openWindow(0).id;
    }
    void launchSession(const ObjectSpecifier& terminal, const std::string& name) override {
        record("launchSession", name + " in " + terminal.description());
        resolveWindow(terminal).sessions.emplace_back();
    }
    ObjectSpecifier currentTerminal() override { return reference(specifier::kCurrentTerminal); }
    ObjectSpecifier currentSession(const ObjectSpecifier& container) override {
        record("currentSession", "of " + container.description());
        return container.child(specifier::kCurrentSession);
    }
    // The session runs the text as a typed line.
    void writeContentsOfFile(const ObjectSpecifier& session, const std::optional<std::string>& file,
                             const std::string& text) override {
        record("writeContentsOfFile",
               file.value_or("nil") + " " + text + " to " + session.description());
        resolveSession(session).received.push_back(text + "\n");
    }

    ObjectSpecifier currentWindow() override { return reference(specifier::kCurrentWindow); }
    bool get(const ObjectSpecifier& window) override {
        record("get", window.description());
        return findWindow(window) != nullptr;
    }
    void createTabWithDefaultProfile(const ObjectSpecifier& window,
                                     const std::optional<std::string>& text) override {
        record("createTabWithDefaultProfile", text.value_or("nil") + " in " + window.description());
        resolveWindow(window).sessions.emplace_back();
    }
    void createWindowWithDefaultProfile(const std::optional<std::string>& text) override {
        record("createWindowWithDefaultProfile", text.value_or("nil"));
        openWindow();
    }
    bool sessionRespondsToWriteWithNewline(const ObjectSpecifier& session) override {
        record("sessionRespondsToWriteWithNewline", session.description());
        return _options->vocabulary == ITermVocabulary::NextGeneration && _options->takesNewline;
    }
    void writeContentsOfFile(const ObjectSpecifier& session, const std::optional<std::string>& file,
                             const std::string& text, bool newline) override {
        record("writeContentsOfFile", file.value_or("nil") + " " + text +
                                          " newline:" + (newline ? "YES" : "NO") + " to " +
                                          session.description());
        resolveSession(session).received.push_back(newline ? text + "\n" : text);
    }

    void setVocabulary(ITermVocabulary vocabulary) { _options->vocabulary = vocabulary; }
    void setGivesNoTerminalList(bool none) { _options->givesNoTerminalList = none; }
    // Whether sessions offer writeContentsOfFile:text:newline: (next generation only).
    void setSessionsRespondToWriteWithNewline(bool respond) { _options->takesNewline = respond; }

private:
    // A reference of one step, recorded as a call of the same name.
    ObjectSpecifier reference(const char* step) {
        record(step);
        return ObjectSpecifier({step});
    }
    // The window id a made terminal became (0 until added); null for other references.
    int* madeTerminal(const ObjectSpecifier& terminal) {
        for (std::size_t serial = 1; serial <= _options->madeTerminals.size(); ++serial) {
            if (terminal.steps() == std::vector{specifier::newTerminal(serial)})
                return &_options->madeTerminals[serial - 1];
        }
        return nullptr;
    }
    // The front window for "currentTerminal" and "currentWindow", else a made terminal's.
    ScriptedWindow* findWindow(const ObjectSpecifier& reference) {
        const std::vector<std::string>& steps = reference.steps();
        bool front = steps.size() == 1 && (steps[0] == specifier::kCurrentTerminal ||
                                           steps[0] == specifier::kCurrentWindow);
        int* made = madeTerminal(reference);
        for (ScriptedWindow& window : _state->windows) {
            if ((front && &window == &_state->windows.front()) || (made && window.id == *made))
                return &window;
        }
        return nullptr;
    }
    ScriptedWindow& resolveWindow(const ObjectSpecifier& reference) {
        if (ScriptedWindow* window = running() ? findWindow(reference) : nullptr)
            return *window;
        throw noSuchObject(reference);
    }
    ScriptedSession& resolveSession(const ObjectSpecifier& reference) {
        const std::vector<std::string>& steps = reference.steps();
        if (steps.size() != 2 || steps[1] != specifier::kCurrentSession)
            throw noSuchObject(reference);
        ScriptedWindow& window = resolveWindow(ObjectSpecifier({steps[0]}));
        if (window.sessions.empty())
            throw noSuchObject(reference);
        return window.sessions.back();
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
