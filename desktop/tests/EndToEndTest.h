// A fresh stand-in desktop per test, with the built Quaymark installed and its button in
// Finder's toolbar, clicked as a user clicks it; and what the terminals show afterwards.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Desktop.h"
#include "HostTestSupport.h"
#include "PlistValue.h"
#include "Result.h"
#include "scripting/TmuxInspection.h"

namespace quaymark {

// Where the installer puts the button program, as the system names it.
inline constexpr const char* kHelperBundle =
    "/Applications/Quaymark.app/Contents/MacOS/QuaymarkHelper.app";

// Whether `screen` begins with what printing `text` and a line end leaves on a tmux screen:
// a tab there is the blanks up to the next tab stop, and blanks at a line's end are dropped
// by the inspection.
bool screenBeginsWithPrinted(std::string_view screen, std::string_view text);

// Passes for a success, and fails with the reason otherwise.
template <typename T>
::testing::AssertionResult succeeded(const Result<T>& result) {
    return result ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << result.error();
}

// The time now as a property-list date, in whole seconds as property-list files keep it.
PlistDate now();

// A name or path for messages: backslashes doubled, control characters written as C escapes.
std::string printable(std::string_view text);

// What a test needs of its desktop beyond the applications.
struct DesktopNeeds {
    // The desktop's X display, started before Finder so that all Finder launches shows
    // there; a test that asks for it skips itself first when Xvfb is not installed.
    bool display = false;
    // The built main program; otherwise a script that records each launch stands in.
    bool realMainProgram = false;
};

class EndToEndTest : public ::testing::Test {
protected:
    // Ends every application of the desktop, every xterm this test's clicks started, and the
    // desktop's display.
    void TearDown() override;
    // Lays out the desktop, installs Quaymark in /Applications (by default with its main
    // program replaced by the recording script), starts Finder and drags the button program
    // into Finder's toolbar, as a user does.
    void layOut(const DesktopOptions& options = {}, DesktopNeeds needs = {});
    // Puts the script that records launches in place of the installed main program.
    void replaceMainProgram();
    // Stores the values in Quaymark's preferences domain and writes the file out.
    void storePreferences(const PlistDictionary& values);
    std::optional<PlistValue> storedPreference(const std::string& key) const;
    // Which terminal to open, window or tab, and a "Last Launch Date" of now, so that no
    // update launch comes with the click.
    void chooseTerminal(const std::string& identifier, bool useWindow);

    // Clicks the button in Finder's toolbar `clicks` times, `apart` from each other, and waits
    // until every button program run has ended; the pids of those runs, or nothing (with the
    // reason reported) when a click failed or a run did not end.
    std::set<int> clickQuickly(int clicks, std::chrono::milliseconds apart);
    bool click() { return clickQuickly(1, {}).size() == 1; }
    // A folder under the home folder, made with its parents; its real path.
    std::string makeFolder(const std::filesystem::path& relative) const;
    std::string home() const { return desktop->home(); }
    // Starts the terminal application as launch services does and waits until its first
    // window's shell is in the home folder.
    void startTerminal(const std::string& name);
    // Closes every window of a running terminal application, which keeps running.
    void closeTerminalWindows(const std::string& bundleIdentifier);

    std::vector<TerminalWindowState> windowsOf(const std::string& bundleIdentifier) const;
    // The tab count of each window, front window first.
    std::vector<std::size_t> tabCounts(const std::string& bundleIdentifier) const;
    // Waits until the selected tab of window `window` (0 is the front one) has its shell in
    // `folder` and its screen begins with what `pwd` printed there.
    ::testing::AssertionResult waitUntilShellIsIn(const std::string& bundleIdentifier,
                                                  std::size_t window, const std::string& folder);
    // Every window and tab with its shell's folder and screen, for failure messages.
    std::string describe(const std::string& bundleIdentifier) const;
    // The pid of the Finder that last loaded its toolbar; -1 when none has.
    int finderPid() const;
    // The main program's launches so far, one "checkUpdates=<value or unset>" line each.
    std::string mainProgramLaunches() const;

    testing::TemporaryDirectory directory;
    std::optional<Desktop> desktop;
    std::filesystem::path launchRecord;
};

}  // namespace quaymark
