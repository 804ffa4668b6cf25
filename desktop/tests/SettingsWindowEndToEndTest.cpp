// Quaymark's settings window on the desktop's X display, end to end: shown by a click whose
// terminal is missing, driven with keystrokes as a user drives it, and judged by what Finder
// loads and by what the next click types into a terminal.
#include <unistd.h>

#include "EndToEndTest.h"
#include "InstallerCommand.h"
#include "QuaymarkPreferences.h"
#include "TerminalIdentifiers.h"
#include "display/DisplayWindows.h"
#include "display/XvfbServer.h"
#include "launch/ApplicationRegistry.h"
#include "launch/HostWorkspace.h"
#include "posix/Posix.h"
#include "posix/Spawn.h"

namespace quaymark {
namespace {

using namespace terminal_identifier;
using std::chrono::seconds;

// Quaymark installs and uninstalls by restarting Finder, which holds it a second or more.
constexpr seconds kFinderRestartTime{20};

// How many items of a toolbar Finder loaded lead to the button program.
int buttonsIn(const PlistDictionary& loaded) {
    const PlistValue* toolbar = loaded.find("Toolbar");
    const PlistValue* plists = toolbar && toolbar->asDictionary()
                                   ? toolbar->asDictionary()->find("TB Item Plists")
                                   : nullptr;
    int buttons = 0;
    for (const auto& [key, item] :
         plists && plists->asDictionary() ? *plists->asDictionary() : PlistDictionary{}) {
        const PlistValue* url =
            item.asDictionary() ? item.asDictionary()->find("_CFURLString") : nullptr;
        const std::string* text = url ? url->asString() : nullptr;
        buttons += text && text->find("QuaymarkHelper.app") != std::string::npos;
    }
    return buttons;
}

class SettingsWindowTest : public EndToEndTest {
protected:
    void SetUp() override {
        if (!XvfbServer::isInstalled() || !DisplayWindows::isXdotoolInstalled())
            GTEST_SKIP() << "Xvfb or xdotool is not installed (Debian packages xvfb, xdotool)";
    }
    void TearDown() override {
        if (_started > 0) {
            endProcess(_started, seconds(2));
            waitForChild(_started);
        }
        EndToEndTest::TearDown();
    }

    std::string installedQuaymark() const {
        return desktop->systemRoot().map("/Applications/Quaymark.app") + "/Contents/MacOS/Quaymark";
    }

    // Waits until a Finder other than `previous` runs, has loaded its toolbar and has been
    // brought to the front; what it loaded. Quaymark brings it to the front last, and only
    // then relabels its button, so a key pressed earlier could find the button as it was.
    std::optional<PlistDictionary> restartedFinder(int previous) const {
        HostWorkspace workspace(desktop->systemRoot(), home());
        bool restarted = testing::waitUntil(
            [&] {
                int now = finderPid();
                return now > 0 && now != previous && processStartTime(now).has_value() &&
                       workspace.registry().frontmost() == now;
            },
            kFinderRestartTime);
        return restarted ? desktop->loadedToolbar() : std::nullopt;
    }

    int _started = -1;
};

TEST_F(SettingsWindowTest, AClickForAMissingTerminalShowsTheSettingsWhoseKeysSetUpTheNextClick) {
    DesktopOptions options;
    options.iTerm2 = false;
    ASSERT_NO_FATAL_FAILURE(layOut(options, {.display = true, .realMainProgram = true}));
    std::string folder = makeFolder("Projects/Set up by keys");
    ASSERT_TRUE(desktop->openFinderWindow(folder));
    ASSERT_NO_FATAL_FAILURE(chooseTerminal(kITerm2, true));

    ASSERT_TRUE(click());
    DisplayWindows display(desktop->display()->address, QUAYMARK_SCREENSHOT_PROGRAM);
    std::optional<DisplayWindow> settings = display.waitForWindow("Quaymark", seconds(20));
    ASSERT_TRUE(settings) << "windows shown: " << display.shownWindows().size();
    std::vector<RunningApplication> running = desktop->runningApplications();
    EXPECT_TRUE(std::any_of(running.begin(), running.end(), [&](const RunningApplication& each) {
        return each.pid == settings->pid && each.bundleIdentifier == "com.brindlewood.Quaymark";
    })) << "the window is not the launched Quaymark's";
    for (const char* terminal : {kAppleTerminal, kITerm})
        EXPECT_FALSE(inspectTerminal(desktop->systemRoot(), terminal)) << terminal;

    // The button dragged into the toolbar counts as installed, so the install button offers
    // to take it out: back from the terminal pop-up to it, and Space presses it.
    int finder = finderPid();
    ASSERT_TRUE(display.pressKeys(*settings, {"alt+t", "shift+Tab", "space"}));
    std::optional<PlistDictionary> loaded = restartedFinder(finder);
    ASSERT_TRUE(loaded) << "Finder was not restarted";
    EXPECT_EQ(buttonsIn(*loaded), 0) << *loaded;
    // Now it offers to add the button, and Return presses it.
    finder = finderPid();
    ASSERT_TRUE(display.pressKeys(*settings, {"Return"}));
    loaded = restartedFinder(finder);
    ASSERT_TRUE(loaded) << "Finder was not restarted";
    EXPECT_EQ(buttonsIn(*loaded), 1) << *loaded;

    // The settings path left Apple's Terminal chosen in place of the missing one; iTerm and a
    // command of the user's, chosen by keys, are what the next click uses.
    const std::string command = "cd %PATH%; clear; echo typed-in-the-settings; pwd";
    ASSERT_TRUE(display.pressKeys(*settings, {"alt+t"}));
    ASSERT_TRUE(display.typeText(*settings, "iTerm"));
    ASSERT_TRUE(display.pressKeys(*settings, {"alt+c", "ctrl+a"}));
    ASSERT_TRUE(display.typeText(*settings, command));
    // Every keystroke is stored at once; the last one tells that all have arrived.
    ASSERT_TRUE(testing::waitUntil([&] {
        return storedPreference(preference_key::kTerminalCommand) == PlistValue(command);
    })) << storedPreference(preference_key::kTerminalCommand).value_or(PlistValue("absent"));

    ASSERT_TRUE(click());
    EXPECT_TRUE(testing::waitUntil([&] {
        std::vector<TerminalWindowState> windows = windowsOf(kITerm);
        return windows.size() == 1 && windows[0].tabs[0].shellDirectory == folder &&
               screenBeginsWithPrinted(windows[0].tabs[0].screen,
                                       "typed-in-the-settings\n" + folder);
    })) << describe(kITerm);
    EXPECT_FALSE(inspectTerminal(desktop->systemRoot(), kAppleTerminal))
        << describe(kAppleTerminal);
}

// Finder's preferences in a form the installer does not understand are left as they are: Add
// says why in an alert, with the reason the command line gives, and Finder keeps running.
TEST_F(SettingsWindowTest, AnAddRefusedByFinderPreferencesShowsWhyAndLeavesFinderAlone) {
    ASSERT_NO_FATAL_FAILURE(layOut({}, {.display = true, .realMainProgram = true}));
    ASSERT_NO_FATAL_FAILURE(chooseTerminal(kAppleTerminal, true));
    const std::string finderFile = home() + "/Library/Preferences/com.apple.finder.plist";
    const std::string foreign = "toolbar = { items = (); };\n";
    testing::writeFile(finderFile, foreign);
    const int finder = finderPid();
    ASSERT_GT(finder, 0);

    const std::string reason =
        checkToolbarChange({.readFailure = PreferencesFailure{finderFile, "not a property list"},
                            .saveFailure = {}})
            .error();
    testing::ProcessResult command =
        testing::runProcess({installedQuaymark(), "install"}, currentEnvironment());
    EXPECT_EQ(command.exitStatus, kCommandFailed);
    EXPECT_EQ(command.output, reason + "\n");

    SpawnRequest request{.executable = installedQuaymark(), .environment = currentEnvironment()};
    request.logFile = (directory.path() / "Quaymark.log").string();
    Result<StartedProcess> started = spawnProcess(request);
    ASSERT_EQ(started.error(), "");
    _started = started->pid;
    DisplayWindows display(desktop->display()->address, QUAYMARK_SCREENSHOT_PROGRAM);
    std::optional<DisplayWindow> settings =
        display.waitForWindow("Quaymark", seconds(20), _started);
    ASSERT_TRUE(settings);
    ASSERT_TRUE(display.pressKeys(*settings, {"alt+t", "shift+Tab", "space"}));
    // The alert is the program's second window; its title is the application's name.
    EXPECT_TRUE(testing::waitUntil([&] {
        std::vector<DisplayWindow> shown = display.shownWindows();
        return std::any_of(shown.begin(), shown.end(), [&](const DisplayWindow& window) {
            return window.pid == _started && window.id != settings->id &&
                   window.title == "Quaymark";
        });
    })) << testing::readFile(request.logFile.value());
    EXPECT_EQ(testing::readFile(finderFile), foreign);
    EXPECT_EQ(finderPid(), finder);
    EXPECT_TRUE(processStartTime(finder).has_value()) << "Finder no longer runs";
}

}  // namespace
}  // namespace quaymark
