// Scripting targets of the stand-in terminals (Terminal, iTerm, iTerm2), carried out on
// their tmux servers.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "Scripting.h"
#include "launch/HostWorkspace.h"
#include "launch/SystemRoot.h"
#include "scripting/TerminalStandIn.h"
#include "scripting/TmuxApplication.h"

namespace quaymark {

// The desktop the stand-in terminals run on: the system root (where their sockets live),
// the home their shells start in, and the launch services that start and list them.
struct TmuxDesktop {
    SystemRoot root;
    std::string home;
    HostWorkspace& workspace;
};

// One stand-in terminal application as launch services and its tmux server see it.
class TmuxStandInTarget {
public:
    TmuxStandInTarget(TmuxDesktop desktop, std::string bundleIdentifier);

    // Whether launch services list the application as running; never raises.
    bool isRunning();
    // Starts the application through launch services when it does not run, and waits
    // (a few seconds at most) until its server answers with its initial window; then makes
    // it the frontmost application. Raises when it is not installed as a stand-in terminal,
    // cannot be started, or does not answer in time.
    void activate();
    // The installed stand-in; nothing when no stand-in terminal has this identifier.
    const std::optional<TerminalStandIn>& standIn();
    const TmuxApplication& application() const { return _application; }

    // How long activate() waits for a starting application.
    static constexpr std::chrono::milliseconds kStartTimeLimit{5000};

private:
    void waitUntilAnswering(int pid);

    TmuxDesktop _desktop;
    std::string _bundleIdentifier;
    TmuxApplication _application;
    std::optional<std::optional<TerminalStandIn>> _standIn;
};

// Apple's Terminal. References: "windows[N]", resolved against the windows front to back
// when a command uses them.
class TmuxTerminal : public TerminalScripting {
public:
    TmuxTerminal(TmuxDesktop desktop, std::string bundleIdentifier);

    // Commands raise PlatformException when Terminal does not run, or a reference names no
    // window at the moment the command is carried out.
    bool isRunning() override;
    void activate() override;
    ObjectSpecifier windowAtIndex(std::size_t index) override;
    void doScript(const std::string& command,
                  const std::optional<ObjectSpecifier>& window) override;

private:
    TmuxStandInTarget _target;
};

// iTerm and iTerm2, with the vocabulary their bundle's version gives. References:
// "currentTerminal" (classic) or "currentWindow" (next generation) for the front window,
// "windows[N]", "newTerminal#N" for a terminal this target made (classic), each with an
// optional "currentSession" step for the window's selected tab.
class TmuxITerm : public ITermScripting {
public:
    TmuxITerm(TmuxDesktop desktop, std::string bundleIdentifier);

    // A command of the other vocabulary raises PlatformException (an unrecognised selector),
    // as do commands while the application does not run, references that name nothing when
    // a command resolves them, and a file to write (only text can be written).
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

private:
    // A terminal object from makeTerminal: the window addObject opened for it, and whether
    // its first session has been launched.
    struct MadeTerminal {
        std::optional<std::string> window;
        bool launched = false;
    };

    bool speaks(TerminalVocabulary vocabulary);
    void requireVocabulary(TerminalVocabulary vocabulary, const char* selector);
    MadeTerminal* madeTerminal(const ObjectSpecifier& reference);
    // The session id of the window a one-step reference names now; nothing when it names none.
    std::optional<std::string> findWindow(const ObjectSpecifier& reference);
    std::string resolveWindow(const ObjectSpecifier& reference);
    std::string resolveSession(const ObjectSpecifier& reference);
    void refuseFile(const std::optional<std::string>& file) const;

    TmuxStandInTarget _target;
    std::map<std::string, MadeTerminal> _madeTerminals;
};

// The scripting bridge of a desktop with stand-in terminals. Finder is not a terminal: its
// targets come from `finder`.
class TmuxScriptingBridge : public ScriptingBridge {
public:
    using FinderSource = std::function<std::unique_ptr<FinderScripting>(const std::string&)>;

    TmuxScriptingBridge(TmuxDesktop desktop, FinderSource finder);

    std::unique_ptr<FinderScripting> finder(const std::string& bundleIdentifier) override;
    std::unique_ptr<TerminalScripting> terminal(const std::string& bundleIdentifier) override;
    std::unique_ptr<ITermScripting> iTerm(const std::string& bundleIdentifier) override;

private:
    TmuxDesktop _desktop;
    FinderSource _finder;
};

}  // namespace quaymark
