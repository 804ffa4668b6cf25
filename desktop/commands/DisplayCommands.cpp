// The commands that start the desktop's X display and see and drive its windows.
#include <cstdlib>
#include <filesystem>
#include <ostream>

#include "commands/DesktopCommand.h"

namespace quaymark {

namespace fs = std::filesystem;

Result<void> showOnDisplay(const Desktop& desktop) {
    Result<void> started = desktop.startDisplay();
    if (!started)
        return Result<void>::failure("no display: " + started.error());
    desktop.enter();
    return Result<void>::success();
}

Result<DisplayWindows> displayWindows(const Desktop& desktop) {
    if (!DisplayWindows::isXdotoolInstalled()) {
        return Result<DisplayWindows>::failure(std::string(DisplayWindows::kXdotool) +
                                               " is not installed (Debian package xdotool)");
    }
    if (Result<void> shown = showOnDisplay(desktop); !shown)
        return Result<DisplayWindows>::failure(shown.error());
    return Result<DisplayWindows>::success(
        DisplayWindows(desktop.display()->address,
                       StandInPrograms::besideRunningExecutable("quaymark-screenshot")));
}

namespace {

// The display's windows, and the one titled `title` when a title is given, waited for up to
// `seconds`; nothing (with the reason written) when either is missing.
struct Target {
    std::optional<DisplayWindows> windows;
    std::optional<DisplayWindow> window;
};

std::optional<Target> target(const Invocation& call, const std::string& title, double seconds) {
    Result<DisplayWindows> windows = displayWindows(*call.desktop);
    if (!windows) {
        call.err << windows.error() << "\n";
        return std::nullopt;
    }
    Target found{std::move(windows).value(), std::nullopt};
    if (title.empty())
        return found;
    found.window = found.windows->waitForWindow(
        title, std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
    if (!found.window) {
        call.err << "no window titled \"" << title << "\" is shown\n";
        return std::nullopt;
    }
    return found;
}

int display(const Invocation& call) {
    if (Result<void> shown = showOnDisplay(*call.desktop); !shown) {
        call.err << shown.error() << "\n";
        return 1;
    }
    call.out << "DISPLAY=" << call.desktop->display()->address << "\n";
    return 0;
}

int windows(const Invocation& call) {
    std::optional<Target> shown = target(call, "", 0);
    if (!shown)
        return 1;
    for (const DisplayWindow& window : shown->windows->shownWindows())
        call.out << describeWindow(window) << "\n";
    return 0;
}

int waitWindow(const Invocation& call) {
    double seconds = std::strtod(call.arguments.option("--timeout", "10").c_str(), nullptr);
    std::optional<Target> shown = target(call, call.words[0], seconds);
    if (!shown)
        return 1;
    call.out << describeWindow(*shown->window) << "\n";
    return 0;
}

int keys(const Invocation& call) {
    std::optional<Target> shown = target(call, call.words[0], 0);
    if (!shown)
        return 1;
    if (!shown->windows->pressKeys(*shown->window, {call.words.begin() + 1, call.words.end()})) {
        call.err << "xdotool could not press the keys\n";
        return 1;
    }
    return 0;
}

int type(const Invocation& call) {
    std::optional<Target> shown = target(call, call.words[0], 0);
    if (!shown)
        return 1;
    if (!shown->windows->typeText(*shown->window, call.words[1])) {
        call.err << "xdotool could not type\n";
        return 1;
    }
    return 0;
}

int screenshot(const Invocation& call) {
    std::optional<Target> shown = target(call, call.words.size() == 2 ? call.words[1] : "", 0);
    if (!shown)
        return 1;
    std::string path = fs::absolute(call.words[0]).string();
    if (Result<void> saved = shown->windows->saveScreenshot(path, shown->window); !saved) {
        call.err << saved.error() << "\n";
        return 1;
    }
    call.out << "saved " << path << "\n";
    return 0;
}

}  // namespace

const DesktopCommand kDisplayCommand{
    .name = "display",
    .usage =
        "start the desktop's own X display (Xvfb) if it is not running,\n"
        "and print its DISPLAY",
    .handler = display,
    .mostWords = 0};

const DesktopCommand kWindowsCommand{
    .name = "windows",
    .usage = "the top-level windows shown on the display: id, title, pid, size",
    .handler = windows,
    .mostWords = 0};

const DesktopCommand kWaitWindowCommand{
    .name = "wait-window",
    .arguments = "TITLE [--timeout SECONDS]",
    .usage = "wait (10 seconds unless told) until a window titled TITLE shows",
    .handler = waitWindow,
    .fewestWords = 1,
    .mostWords = 1};

const DesktopCommand kKeysCommand{
    .name = "keys",
    .arguments = "TITLE KEY...",
    .usage =
        "focus the window titled TITLE and press keys as xdotool names them\n"
        "(Return, Tab, alt+t, ctrl+a)",
    .handler = keys,
    .fewestWords = 2};

const DesktopCommand kTypeCommand{.name = "type",
                                  .arguments = "TITLE TEXT",
                                  .usage = "focus the window titled TITLE and type TEXT",
                                  .handler = type,
                                  .fewestWords = 2,
                                  .mostWords = 2};

const DesktopCommand kScreenshotCommand{
    .name = "screenshot",
    .arguments = "FILE [TITLE]",
    .usage = "save the display, or the window titled TITLE, as a PNG file",
    .handler = screenshot,
    .fewestWords = 1,
    .mostWords = 2};

}  // namespace quaymark
