// iTerm or iTerm2 as its scripting target sees it: running or not, windows (terminals)
// front to back with their sessions, the selected one, and what each session received.
#pragma once

#include <map>
#include <optional>
#include <vector>

#include "CallLog.h"
#include "RecordingWorkspace.h"
#include "ScriptedAppleScriptRunner.h"
#include "ScriptedWindow.h"
#include "Scripting.h"

namespace quaymark {

enum class ITermVocabulary { Classic, NextGeneration };

class ScriptedITerm : public ITermScripting,
                      public RunningApplicationSource,
                      public KeystrokeTarget {
public:
    // `name` is the process name and the prefix of the recorded calls ("iTerm.activate").
    ScriptedITerm(CallLog& calls, std::string name, std::string bundleIdentifier,
                  ITermVocabulary vocabulary, int processIdentifier);

    // Calls of the other vocabulary raise PlatformException (an unrecognised selector), as
    // do commands sent while the application does not run and references that name
    // nothing when a command resolves them. Obtaining a reference never raises.
    void activate() override;
    bool respondsToTerminals() override;
    std::optional<ObjectSpecifier> terminals() override;
    ObjectSpecifier makeTerminal() override;
    void addObject(const ObjectSpecifier& list, const ObjectSpecifier& terminal) override;
    void launchSession(const ObjectSpecifier& terminal, const std::string& name) override;
    ObjectSpecifier currentTerminal() override;
    ObjectSpecifier currentSession(const ObjectSpecifier& container) override;
    void writeContentsOfFile(const ObjectSpecifier& session, const std::optional<std::string>& file,
                             const std::string& text) override;
    ObjectSpecifier currentWindow() override;
    bool get(const ObjectSpecifier& window) override;
    void createTabWithDefaultProfile(const ObjectSpecifier& window,
                                     const std::optional<std::string>& command) override;
    void createWindowWithDefaultProfile(const std::optional<std::string>& command) override;
    bool sessionRespondsToWriteWithNewline(const ObjectSpecifier& session) override;
    void writeContentsOfFile(const ObjectSpecifier& session, const std::optional<std::string>& file,
                             const std::string& text, bool newline) override;

    std::optional<RunningApplication> runningInstance() const override;
    std::string processName() const override { return _name; }
    bool pressCommandT() override;

    void setVocabulary(ITermVocabulary vocabulary) { _vocabulary = vocabulary; }
    void setRunning(bool running) { _running = running; }
    // Opens a window in front of the others with the given sessions, the last selected.
    ScriptedWindow& openWindow(std::size_t sessions = 1);
    // While set, `terminals` gives no list.
    void setGivesNoTerminalList(bool none) { _givesNoTerminalList = none; }
    // Whether sessions offer writeContentsOfFile:text:newline: (next generation only).
    void setSessionsRespondToWriteWithNewline(bool respond) { _sessionsTakeNewline = respond; }

    bool running() const { return _running; }
    const std::vector<ScriptedWindow>& windows() const { return _stack.windows; }

private:
    void requireVocabulary(ITermVocabulary vocabulary, const char* selector) const;
    void requireRunning() const;
    ScriptedWindow& resolveWindow(const ObjectSpecifier& reference);
    ScriptedSession& resolveSession(const ObjectSpecifier& reference);

    CallLog& _calls;
    std::string _name;
    std::string _bundleIdentifier;
    ITermVocabulary _vocabulary;
    int _processIdentifier;
    bool _running = false;
    bool _givesNoTerminalList = false;
    bool _sessionsTakeNewline = true;
    ScriptedWindowStack _stack;
    // Terminals made by makeTerminal, by serial: the window each became, once added.
    std::map<std::size_t, std::optional<int>> _madeTerminals;
};

}  // namespace quaymark
