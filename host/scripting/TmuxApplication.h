// A stand-in terminal application as its tmux server holds it.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "scripting/TmuxServer.h"

namespace quaymark {

enum class LineEnd { None, Return };

// A window of the application is a tmux session, a tab is a tmux window of that session,
// and the selected tab is the session's active window. Windows are ordered front to back
// by the session option @front, taken from the counter @frontCounter whenever a window is
// opened; the front window is the one with the highest @front at the moment of asking.
// Every call that fails raises PlatformException naming the application.
class TmuxApplication {
public:
    // `name` names the application in failure messages.
    TmuxApplication(std::string name, std::string socketPath);

    const std::string& name() const { return _name; }
    const TmuxServer& server() const { return _server; }

    // The windows' session ids ("$3"), front to back; raises when the server does not answer.
    std::vector<std::string> windowsFrontToBack() const;
    // Nothing when the application has no window; raises when the server does not answer.
    std::optional<std::string> frontWindow() const;

    // Opens a window in front of the others, with one tab, and types `line` into it as a
    // line, as type() does, when given; the new window's session id. Raises when it could
    // not be opened.
    std::string openWindow(const std::optional<std::string>& line = std::nullopt) const;
    // Opens a tab after the last tab of `window`; it becomes the selected tab and is given
    // `line` as a line when given. Raises when the window no longer exists.
    void openTab(const std::string& window,
                 const std::optional<std::string>& line = std::nullopt) const;
    // Types `text` literally (never read as key names) into the selected tab of `window`,
    // then Return when asked, once the tab's shell reads from its line editor (waiting
    // kLineEditorTimeLimit at most), so that no line is cut. Raises when the window no longer
    // exists or `text` holds a NUL character, which no terminal can be given.
    void type(const std::string& window, const std::string& text, LineEnd lineEnd) const;

    // Runs tmux commands in one client; their output. Raises when any of them fails.
    std::string run(const std::vector<TmuxCommand>& commands) const;

    // tmux refuses a client message above 16 KiB, so longer text is typed in parts of at
    // most this many bytes, each through its own client.
    static constexpr std::size_t kMaximumTypedBytes = 8192;
    // How long typing waits for a tab's line editor to read the terminal. A shell starts in
    // milliseconds, so this bound is met only on a loaded machine or when the tab runs
    // something else, which is then typed into as before.
    static constexpr std::chrono::milliseconds kLineEditorTimeLimit{5000};

private:
    // A tab as the commands that make or find it print it, in kPaneFormat.
    struct Pane {
        std::string window;  // the session id
        std::string id;      // the pane id, such as "%4"
        std::string tty;     // the terminal device its shell reads, such as "/dev/pts/3"
    };
    // Runs commands one of which prints kPaneFormat; the pane it printed.
    Pane runForPane(const std::vector<TmuxCommand>& commands) const;
    // Runs commands that make a window or tab, then types `line` into the new tab when given.
    Pane makeAndType(std::vector<TmuxCommand> commands,
                     const std::optional<std::string>& line) const;
    // The commands that type one part of a text into `target`, then Return when asked.
    static std::vector<TmuxCommand> typing(const std::string& target, const std::string& part,
                                           LineEnd lineEnd);
    void typeInto(const Pane& pane, const std::string& text, LineEnd lineEnd) const;
    // Raises for a text that holds a NUL character: no argument vector can carry one.
    void requireTypable(const std::string& text) const;

    std::string _name;
    TmuxServer _server;
};

// Waits, sleeping a few milliseconds at a time, until the terminal device at `ttyPath` is
// out of canonical mode or `timeLimit` has passed; false when the limit passed or the device
// could not be read.
bool waitUntilLineEditorReads(const std::string& ttyPath, std::chrono::milliseconds timeLimit);

// `text` cut into parts of at most `limit` bytes, never inside a UTF-8 sequence; one empty
// part for an empty text.
std::vector<std::string> splitForTyping(const std::string& text, std::size_t limit);

}  // namespace quaymark
