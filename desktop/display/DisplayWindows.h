// The windows on an X display, seen and driven as a user would: listed, waited for, typed
// into and photographed, through xdotool and the screenshot program.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "Result.h"

namespace quaymark {

struct DisplayWindow {
    unsigned long id = 0;
    std::string title;
    int pid = 0;  // 0 when the window does not name its process
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

class DisplayWindows {
public:
    static constexpr const char* kXdotool = "/usr/bin/xdotool";

    // `display` as in $DISPLAY (":N"); `screenshotProgram` is quaymark-screenshot.
    DisplayWindows(std::string display, std::string screenshotProgram);

    static bool isXdotoolInstalled();

    // The top-level windows shown (mapped) on the display; empty when it cannot be read.
    std::vector<DisplayWindow> shownWindows() const;
    // Waits up to `limit` for a shown top-level window titled exactly `title` (and owned by
    // `pid` when that is given); nothing when none came or that process ended.
    std::optional<DisplayWindow> waitForWindow(const std::string& title,
                                               std::chrono::milliseconds limit,
                                               std::optional<int> pid = std::nullopt) const;
    // Waits up to `limit` until process `endingPid` has ended and a window titled `title` of
    // another process shows (a program that started its successor); nothing when none came.
    std::optional<DisplayWindow> waitForSuccessor(const std::string& title, int endingPid,
                                                  std::chrono::milliseconds limit) const;
    // Gives the window the keyboard focus, then presses each key combination in turn, named
    // as xdotool names them ("Return", "alt+t", "ctrl+a"); false when that failed.
    bool pressKeys(const DisplayWindow& window, const std::vector<std::string>& keys) const;
    // Gives the window the keyboard focus and types the text; false when that failed.
    bool typeText(const DisplayWindow& window, const std::string& text) const;
    // Saves the whole display, or only `window`, as a PNG file; the reason on failure.
    Result<void> saveScreenshot(const std::string& path,
                                const std::optional<DisplayWindow>& window) const;

private:
    // xdotool's standard output, or why it failed.
    Result<std::string> xdotool(const std::vector<std::string>& arguments) const;
    bool focus(const DisplayWindow& window) const;

    std::string _display;
    std::string _screenshotProgram;
};

// One line for a window: its id, title, pid and geometry.
std::string describeWindow(const DisplayWindow& window);

}  // namespace quaymark
