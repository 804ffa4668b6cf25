#include "scripting/TmuxApplication.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <sstream>
#include <thread>

#include "PlatformException.h"
#include "posix/Posix.h"

namespace quaymark {

namespace {

// How the commands that make or find a tab print it: its window's session id, its pane, and
// the terminal device its shell reads.
constexpr const char* kPaneFormat = "#{session_id} #{pane_id} #{pane_tty}";

// Every window has this size, so that screens read the same whoever opened them.
const TmuxCommand kNewSession = {"new-session", "-d", "-x", "200",      "-y",
                                 "50",          "-P", "-F", kPaneFormat};

// Run right after the command that made a window (tmux aims them at what it made).
const std::vector<TmuxCommand> kBringForward = {
    {"set-option", "-gF", "@frontCounter", "#{e|+|:#{@frontCounter},1}"},
    {"set-option", "-F", "@front", "#{@frontCounter}"},
};

long long numberAfter(std::string_view text, std::size_t offset) {
    long long number = 0;
    if (offset > text.size())
        return 0;
    std::from_chars(text.data() + offset, text.data() + text.size(), number);
    return number;
}

bool isContinuationByte(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

}  // namespace

bool waitUntilLineEditorReads(const std::string& ttyPath, std::chrono::milliseconds timeLimit) {
    // O_NOCTTY: looking at the device must never make it this process's controlling terminal.
    FileDescriptor device = openFile(ttyPath, O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (!device)
        return false;
    auto deadline = std::chrono::steady_clock::now() + timeLimit;
    std::chrono::milliseconds pause{1};
    bool reading = false;
    termios settings{};
    while (tcgetattr(device.get(), &settings) == 0) {
        if ((settings.c_lflag & ICANON) == 0) {
            reading = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        // The kernel tells no one when a terminal's modes change, so this looks again after a
        // pause that grows to 20 ms: quick for a shell that starts at once, idle for a slow one.
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
    return reading;
}

std::vector<std::string> splitForTyping(const std::string& text, std::size_t limit) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (text.size() - start > limit) {
        std::size_t end = start + limit;
        while (end > start + 1 && isContinuationByte(text[end]))
            --end;
        parts.push_back(text.substr(start, end - start));
        start = end;
    }
    parts.push_back(text.substr(start));
    return parts;
}

TmuxApplication::TmuxApplication(std::string name, std::string socketPath)
    : _name(std::move(name)), _server(std::move(socketPath)) {}

std::string TmuxApplication::run(const std::vector<TmuxCommand>& commands) const {
    // tmux given no command at all would try to start a session of its own.
    if (commands.empty())
        return "";
    TmuxReply reply = _server.send(commands);
    switch (reply.outcome) {
        case TmuxReply::Outcome::Done:
            return reply.output;
        case TmuxReply::Outcome::NoServer:
            throw PlatformException("SBErrorDomain -600",
                                    _name + " is not running (" + reply.error + ")");
        case TmuxReply::Outcome::TimedOut:
            throw PlatformException("SBErrorDomain -1712",
                                    _name + " did not answer: " + reply.error);
        case TmuxReply::Outcome::NoClient:
            throw PlatformException("SBErrorDomain -10000",
                                    _name + " cannot be reached: " + reply.error);
        case TmuxReply::Outcome::Failed:
            break;
    }
    bool gone = reply.error.find("can't find") != std::string::npos;
    throw PlatformException(gone ? "SBErrorDomain -1728" : "SBErrorDomain -10000",
                            _name + " got an error: " + reply.error);
}

std::vector<std::string> TmuxApplication::windowsFrontToBack() const {
    struct Window {
        long long front;
        long long serial;
        std::string id;
    };
    std::vector<Window> windows;
    std::istringstream lines(run({{"list-sessions", "-F", "#{session_id} #{@front}"}}));
    std::string line;
    while (std::getline(lines, line)) {
        std::size_t blank = line.find(' ');
        if (line.empty() || line[0] != '$' || blank == std::string::npos)
            continue;
        // A session opened by other means than ours has no @front and counts as the back.
        windows.push_back(
            {numberAfter(line, blank + 1), numberAfter(line, 1), line.substr(0, blank)});
    }
    std::sort(windows.begin(), windows.end(), [](const Window& a, const Window& b) {
        return a.front != b.front ? a.front > b.front : a.serial > b.serial;
    });
    std::vector<std::string> ids;
    for (Window& window : windows)
        ids.push_back(std::move(window.id));
    return ids;
}

std::optional<std::string> TmuxApplication::frontWindow() const {
    std::vector<std::string> windows = windowsFrontToBack();
    if (windows.empty())
        return std::nullopt;
    return windows.front();
}

std::string TmuxApplication::openWindow(const std::optional<std::string>& line) const {
    std::vector<TmuxCommand> commands = {kNewSession};
    commands.insert(commands.end(), kBringForward.begin(), kBringForward.end());
    return makeAndType(std::move(commands), line).window;
}

void TmuxApplication::openTab(const std::string& window,
                              const std::optional<std::string>& line) const {
    makeAndType({{"new-window", "-a", "-t", window + ":{end}", "-P", "-F", kPaneFormat}}, line);
}

TmuxApplication::Pane TmuxApplication::runForPane(const std::vector<TmuxCommand>& commands) const {
    std::istringstream printed(run(commands));
    Pane pane;
    printed >> pane.window >> pane.id >> pane.tty;
    return pane;
}

TmuxApplication::Pane TmuxApplication::makeAndType(std::vector<TmuxCommand> commands,
                                                   const std::optional<std::string>& line) const {
    // Refused before the tab is made, so that a text no terminal takes opens nothing.
    if (line)
        requireTypable(*line);
    Pane made = runForPane(commands);
    if (line)
        typeInto(made, *line, LineEnd::Return);
    return made;
}

void TmuxApplication::type(const std::string& window, const std::string& text,
                           LineEnd lineEnd) const {
    requireTypable(text);
    // "$3:" is the active pane of the active window of session $3, as tmux finds it now.
    typeInto(runForPane({{"display-message", "-p", "-t", window + ":", kPaneFormat}}), text,
             lineEnd);
}

void TmuxApplication::typeInto(const Pane& pane, const std::string& text, LineEnd lineEnd) const {
    // A shell's line editor (readline in bash, zle in zsh) takes the terminal out of canonical
    // mode while it reads a line, and puts it back before it runs the line. Text that reaches
    // the terminal in canonical mode, before the new shell's editor has started or while a
    // command runs, waits in the kernel's line buffer, which keeps 4095 bytes of a line and
    // drops the rest: a long command would run cut short. Out of canonical mode the kernel
    // holds back what it has no room for, tmux keeps it, and every byte reaches the editor.
    // A tab whose program never leaves canonical mode is typed into once the wait gives up,
    // as a terminal would.
    waitUntilLineEditorReads(pane.tty, kLineEditorTimeLimit);
    std::vector<std::string> parts = splitForTyping(text, kMaximumTypedBytes);
    for (std::size_t i = 0; i + 1 < parts.size(); ++i)
        run(typing(pane.id, parts[i], LineEnd::None));
    run(typing(pane.id, parts.back(), lineEnd));
}

void TmuxApplication::requireTypable(const std::string& text) const {
    if (text.find('\0') != std::string::npos) {
        throw PlatformException("NSInvalidArgumentException",
                                "text for " + _name + " holds a NUL character");
    }
}

std::vector<TmuxCommand> TmuxApplication::typing(const std::string& target, const std::string& part,
                                                 LineEnd lineEnd) {
    std::vector<TmuxCommand> commands;
    // -l: every character is typed as itself, so "Enter" or "C-c" arrive as text.
    if (!part.empty())
        commands.push_back({"send-keys", "-t", target, "-l", "--", TmuxServer::verbatim(part)});
    if (lineEnd == LineEnd::Return)
        commands.push_back({"send-keys", "-t", target, "Enter"});
    return commands;
}

}  // namespace quaymark
