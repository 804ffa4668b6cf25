// One command of quaymark-desktop as a row of the tool's table: its name, the arguments it
// takes, what it does, and the handler that does it. Each family of commands lives in a file
// of its own; the tool lists the rows in the order its usage shows them.
#pragma once

#include <chrono>
#include <cstddef>
#include <iosfwd>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Desktop.h"
#include "Result.h"
#include "commands/ToolArguments.h"
#include "display/DisplayWindows.h"

namespace quaymark {

// One run of a command: the tool's arguments, the words after the command's name, and the
// desktop it runs on (none for the commands that make a desktop of their own).
struct Invocation {
    const ToolArguments& arguments;
    const std::vector<std::string>& words;
    const Desktop* desktop;
    std::ostream& out;
    std::ostream& err;
};

// What a handler returns when the words do not fit the command: the tool then prints its
// usage and ends with status 2.
constexpr int kWrongArguments = -1;
constexpr std::size_t kAnyNumber = std::numeric_limits<std::size_t>::max();

struct DesktopCommand {
    std::string_view name = {};
    // As the usage shows them after the name; a line end starts a line of its own.
    std::string_view arguments = {};
    // What it does, as the usage shows it; a line end starts a line of its own.
    std::string_view usage = {};
    // The exit status, or kWrongArguments.
    int (*handler)(const Invocation&) = nullptr;
    // How many words after the name the command takes.
    std::size_t fewestWords = 0;
    std::size_t mostWords = kAnyNumber;
    // False for the commands that make a desktop of their own (create, demo).
    bool onDesktop = true;
};

// LayoutCommands.cpp
extern const DesktopCommand kCreateCommand, kInstallCommand, kEnvCommand, kRunCommand,
    kDestroyCommand;
// ApplicationCommands.cpp
extern const DesktopCommand kStartCommand, kSettingsCommand, kStopCommand;
// FinderCommands.cpp
extern const DesktopCommand kOpenCommand, kCloseCommand, kFinderCommand, kAddToToolbarCommand,
    kClickCommand;
// TerminalCommands.cpp
extern const DesktopCommand kShowCommand, kKeystrokesCommand;
// DisplayCommands.cpp
extern const DesktopCommand kDisplayCommand, kWindowsCommand, kWaitWindowCommand, kKeysCommand,
    kTypeCommand, kScreenshotCommand;
// UpdateCommands.cpp
extern const DesktopCommand kReachabilityCommand, kServeFeedCommand;
// DemoScript.cpp
extern const DesktopCommand kDemoCommand;

// What the families share with the demo.

// Finder's answer to a click or a drag, in one line. (FinderCommands.cpp)
std::string describe(const PlistDictionary& answer);
// Each terminal's windows and tabs with what their screens show, or only those of the
// terminal named `only`, or the xterms for "xterm". (TerminalCommands.cpp)
void showTerminals(const Desktop& desktop, const std::string& only, std::ostream& out);
// Waits until Terminal has more than `windowsBefore` windows and the front one's shell is in
// `folder` with pwd's answer on its screen; that screen, or nothing after 15 seconds.
// (TerminalCommands.cpp)
std::string waitForTerminalIn(const Desktop& desktop, const std::string& folder,
                              std::size_t windowsBefore);
std::size_t terminalWindowCount(const Desktop& desktop);
// Starts the desktop's display and puts it into this process's environment, so that what is
// started next shows there; the reason when there is none. (DisplayCommands.cpp)
Result<void> showOnDisplay(const Desktop& desktop);
// The windows of the desktop's display, started if need be. (DisplayCommands.cpp)
Result<DisplayWindows> displayWindows(const Desktop& desktop);

// A Qt window shows within a second; the rest allows for a loaded machine.
constexpr auto kSettingsShowTime = std::chrono::seconds(20);

}  // namespace quaymark
