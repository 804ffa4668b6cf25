#include "display/DisplayWindows.h"

#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <thread>

#include "launch/ApplicationRegistry.h"
#include "posix/Spawn.h"

namespace quaymark {

namespace {

// xdotool answers at once; a longer wait means the display is gone.
constexpr auto kXdotoolTimeLimit = std::chrono::seconds(10);
constexpr auto kScreenshotTimeLimit = std::chrono::seconds(20);
// Between two looks for a window that is to appear.
constexpr auto kPollInterval = std::chrono::milliseconds(25);

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        found.push_back(line);
    return found;
}

// A value of `xdotool getwindowgeometry --shell`, which prints "NAME=value" lines.
int shellValue(const std::string& output, const std::string& name) {
    for (const std::string& line : lines(output)) {
        if (line.starts_with(name + "="))
            return std::atoi(line.c_str() + name.size() + 1);
    }
    return 0;
}

}  // namespace

DisplayWindows::DisplayWindows(std::string display, std::string screenshotProgram)
    : _display(std::move(display)), _screenshotProgram(std::move(screenshotProgram)) {}

bool DisplayWindows::isXdotoolInstalled() {
    return access(kXdotool, X_OK) == 0;
}

Result<std::string> DisplayWindows::xdotool(const std::vector<std::string>& arguments) const {
    Environment environment = currentEnvironment();
    environment["DISPLAY"] = _display;
    Result<ProcessOutcome> outcome = runAndCollect({.executable = kXdotool,
                                                    .arguments = arguments,
                                                    .environment = environment,
                                                    .standardError = TaskStream::Discard,
                                                    .capture = Capture::StandardOutput},
                                                   kXdotoolTimeLimit);
    if (!outcome)
        return Result<std::string>::failure(outcome.error());
    if (outcome->exitStatus != 0) {
        return Result<std::string>::failure("xdotool " + arguments.front() +
                                            " failed with status " +
                                            std::to_string(outcome->exitStatus));
    }
    return Result<std::string>::success(outcome->output);
}

std::vector<DisplayWindow> DisplayWindows::shownWindows() const {
    // Depth 1 holds the root's children, the top-level windows; depth 0 is the root itself,
    // which the search lists too.
    Result<std::string> root = xdotool({"search", "--maxdepth", "0", "--name", ""});
    Result<std::string> shown =
        xdotool({"search", "--maxdepth", "1", "--onlyvisible", "--name", ""});
    if (!root || !shown)
        return {};
    std::vector<DisplayWindow> windows;
    for (const std::string& id : lines(shown.value())) {
        if (id.empty() || id == lines(root.value()).front())
            continue;
        DisplayWindow window;
        window.id = std::stoul(id);
        // A window can go between the search and these questions; it is then left out.
        Result<std::string> title = xdotool({"getwindowname", id});
        Result<std::string> geometry = xdotool({"getwindowgeometry", "--shell", id});
        if (!title || !geometry)
            continue;
        window.title = title->ends_with('\n') ? title->substr(0, title->size() - 1) : title.value();
        // A window without _NET_WM_PID has no pid to tell.
        Result<std::string> pid = xdotool({"getwindowpid", id});
        window.pid = pid ? std::atoi(pid->c_str()) : 0;
        window.x = shellValue(geometry.value(), "X");
        window.y = shellValue(geometry.value(), "Y");
        window.width = shellValue(geometry.value(), "WIDTH");
        window.height = shellValue(geometry.value(), "HEIGHT");
        windows.push_back(window);
    }
    return windows;
}

std::optional<DisplayWindow> DisplayWindows::waitForWindow(const std::string& title,
                                                           std::chrono::milliseconds limit,
                                                           std::optional<int> pid) const {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        for (const DisplayWindow& window : shownWindows()) {
            if (window.title == title && (!pid || window.pid == *pid))
                return window;
        }
        // A process that has ended shows nothing more.
        if (std::chrono::steady_clock::now() >= deadline || (pid && !processStartTime(*pid)))
            return std::nullopt;
        std::this_thread::sleep_for(kPollInterval);
    }
}

std::optional<DisplayWindow> DisplayWindows::waitForSuccessor(
    const std::string& title, int endingPid, std::chrono::milliseconds limit) const {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!processStartTime(endingPid)) {
            for (const DisplayWindow& window : shownWindows()) {
                if (window.title == title && window.pid != endingPid)
                    return window;
            }
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return std::nullopt;
}

bool DisplayWindows::focus(const DisplayWindow& window) const {
    // There is no window manager on the display: the focus is set on the window directly,
    // and keys then go to it through the XTEST extension, as a real keyboard's would. Keys
    // sent to a window as events of their own are marked synthetic, and Qt drops those.
    return static_cast<bool>(xdotool({"windowfocus", "--sync", std::to_string(window.id)}));
}

bool DisplayWindows::pressKeys(const DisplayWindow& window,
                               const std::vector<std::string>& keys) const {
    if (!focus(window))
        return false;
    std::vector<std::string> arguments{"key", "--delay", "30"};
    arguments.insert(arguments.end(), keys.begin(), keys.end());
    return static_cast<bool>(xdotool(arguments));
}

bool DisplayWindows::typeText(const DisplayWindow& window, const std::string& text) const {
    if (!focus(window))
        return false;
    return static_cast<bool>(xdotool({"type", "--delay", "20", "--", text}));
}

Result<void> DisplayWindows::saveScreenshot(const std::string& path,
                                            const std::optional<DisplayWindow>& window) const {
    Environment environment = currentEnvironment();
    environment["DISPLAY"] = _display;
    std::vector<std::string> arguments{path};
    if (window)
        arguments.push_back(std::to_string(window->id));
    Result<ProcessOutcome> outcome = runAndCollect({.executable = _screenshotProgram,
                                                    .arguments = arguments,
                                                    .environment = environment,
                                                    .capture = Capture::StandardError},
                                                   kScreenshotTimeLimit);
    if (outcome && outcome->exitStatus == 0)
        return Result<void>::success();
    std::string reason = !outcome ? outcome.error() : outcome->errorOutput;
    return Result<void>::failure("no screenshot: " +
                                 (reason.empty() ? std::string("it did not end in time") : reason));
}

std::string describeWindow(const DisplayWindow& window) {
    std::ostringstream out;
    out << "0x" << std::hex << window.id << std::dec << " \"" << window.title << "\" pid "
        << window.pid << " " << window.width << "x" << window.height << "+" << window.x << "+"
        << window.y;
    return out.str();
}

}  // namespace quaymark
