// Scripting targets: typed vocabularies of the applications the core drives.
//
// Every call is a scripting command carried out by the application, and every failure
// (the application cannot be reached, a reference names nothing) raises PlatformException.
// References are ObjectSpecifiers: they describe how the application finds an object
// ("the current session of the current window") and are resolved only when a command
// that uses them is carried out, never when they are obtained.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Result.h"

namespace quaymark {

class ObjectSpecifier {
public:
    ObjectSpecifier() = default;
    explicit ObjectSpecifier(std::vector<std::string> steps) : _steps(std::move(steps)) {}

    // Steps from the application down to the object, outermost first.
    const std::vector<std::string>& steps() const { return _steps; }
    ObjectSpecifier child(std::string step) const {
        ObjectSpecifier result = *this;
        result._steps.push_back(std::move(step));
        return result;
    }
    // "currentSession of currentWindow"; "application" for the empty specifier.
    std::string description() const;

    friend bool operator==(const ObjectSpecifier&, const ObjectSpecifier&) = default;

private:
    std::vector<std::string> _steps;
};

// Step names shared by the realisations; a step "windows[N]" names the window at index N.
namespace specifier {
inline constexpr const char* kCurrentWindow = "currentWindow";
inline constexpr const char* kCurrentTerminal = "currentTerminal";
inline constexpr const char* kCurrentSession = "currentSession";
inline constexpr const char* kTerminals = "terminals";
std::string windowAtIndex(std::size_t index);
std::string newTerminal(std::size_t serial);
}  // namespace specifier

// Finder ("com.apple.Finder").
class FinderScripting {
public:
    virtual ~FinderScripting() = default;
    // The URL string of the target that the front-most window shows (window 0's "target"
    // property, its URL); nothing when the window has no target or the target no URL.
    // Raises when Finder has no window or cannot be reached.
    virtual std::optional<std::string> frontWindowTargetUrl() = 0;
};

// Apple's Terminal ("com.apple.Terminal").
class TerminalScripting {
public:
    virtual ~TerminalScripting() = default;
    // Whether Terminal runs at this moment; false when that cannot be told.
    virtual bool isRunning() = 0;
    // Starts Terminal if needed (its initial window exists before the next command) and
    // brings it to the front.
    virtual void activate() = 0;
    // A reference to the window at `index` (0 is the front window).
    virtual ObjectSpecifier windowAtIndex(std::size_t index) = 0;
    // doScript:in: runs the command in the selected tab of `window`; with no window, in a
    // new window.
    virtual void doScript(const std::string& command,
                          const std::optional<ObjectSpecifier>& window) = 0;
};

// iTerm ("net.sourceforge.iTerm") and iTerm2 ("com.googlecode.iterm2"). iTerm and older
// iTerm2 versions offer the classic vocabulary (terminals with sessions), newer iTerm2
// versions the next-generation one (windows, tabs and sessions).
class ITermScripting {
public:
    virtual ~ITermScripting() = default;

    // Starts the application if needed (its initial window, with a current terminal or
    // window and a current session, exists before the next command) and brings it forward.
    virtual void activate() = 0;
    // respondsToSelector: `terminals`: true for the classic vocabulary. Never raises.
    virtual bool respondsToTerminals() = 0;

    // Classic vocabulary.
    // The application's terminal list; nothing when the application gives no list.
    virtual std::optional<ObjectSpecifier> terminals() = 0;
    // A new terminal object of scripting class "terminal", not yet part of the application.
    virtual ObjectSpecifier makeTerminal() = 0;
    // Adds a made terminal to the list; the application opens a new terminal window for it.
    virtual void addObject(const ObjectSpecifier& list, const ObjectSpecifier& terminal) = 0;
    // Starts a session from the named profile; it becomes the terminal's current session.
    virtual void launchSession(const ObjectSpecifier& terminal, const std::string& name) = 0;
    virtual ObjectSpecifier currentTerminal() = 0;
    // The current session (selected tab) of a terminal or window reference.
    virtual ObjectSpecifier currentSession(const ObjectSpecifier& container) = 0;
    // The session receives `text` as a typed line that its shell runs.
    virtual void writeContentsOfFile(const ObjectSpecifier& session,
                                     const std::optional<std::string>& file,
                                     const std::string& text) = 0;

    // Next-generation vocabulary.
    virtual ObjectSpecifier currentWindow() = 0;
    // Resolves a window reference: false when it names no window (`get` gives nil).
    virtual bool get(const ObjectSpecifier& window) = 0;
    // A new tab with the default profile; it becomes the window's current session.
    virtual void createTabWithDefaultProfile(const ObjectSpecifier& window,
                                             const std::optional<std::string>& command) = 0;
    // A new window with the default profile; it becomes the current window.
    virtual void createWindowWithDefaultProfile(const std::optional<std::string>& command) = 0;
    // respondsToSelector: `writeContentsOfFile:text:newline:` on a session. Never raises.
    virtual bool sessionRespondsToWriteWithNewline(const ObjectSpecifier& session) = 0;
    // The session receives `text`, followed by a line end when `newline` is true.
    virtual void writeContentsOfFile(const ObjectSpecifier& session,
                                     const std::optional<std::string>& file,
                                     const std::string& text, bool newline) = 0;
};

// applicationWithBundleIdentifier: obtaining a target never starts the application.
class ScriptingBridge {
public:
    virtual ~ScriptingBridge() = default;
    virtual std::unique_ptr<FinderScripting> finder(const std::string& bundleIdentifier) = 0;
    virtual std::unique_ptr<TerminalScripting> terminal(const std::string& bundleIdentifier) = 0;
    virtual std::unique_ptr<ITermScripting> iTerm(const std::string& bundleIdentifier) = 0;
};

// Runs AppleScript source text (the System Events keystroke scripts).
class AppleScriptRunner {
public:
    virtual ~AppleScriptRunner() = default;
    // Runs the script to its end; refused with the failure's message when it did not succeed.
    virtual Result<void> executeScript(const std::string& source) = 0;
};

}  // namespace quaymark
