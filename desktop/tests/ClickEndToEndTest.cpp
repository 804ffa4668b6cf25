// A click on the toolbar button, end to end: the built QuaymarkHelper started by the Finder
// stand-in on a fresh desktop, and the outcome read from the terminals' screens and shells,
// Quaymark's preference file and the main program's launches.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <regex>
#include <sstream>

#include "EndToEndTest.h"
#include "QuaymarkPreferences.h"
#include "TerminalIdentifiers.h"
#include "display/XvfbServer.h"
#include "launch/ApplicationRegistry.h"
#include "posix/Spawn.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using namespace terminal_identifier;

// A folder whose name a shell would misread unescaped.
const char* const kProjectFolder = "Projects/It's a \"test\" (1)";

// ---- Each opener, not running and running, new window and new tab, one click or many ----

enum class Before { NotRunning, Running, RunningWithoutWindows };
enum class Open { Window, Tab };
using enum Before;
using enum Open;

struct OpenerCase {
    const char* application;  // as Desktop::startApplication names it
    const char* identifier;
    const char* iTerm2Version;
    Before before;
    Open open;
    int clicks = 1;  // more are clicked quickly: 40 ms apart in tab mode, at once in windows
};

std::string nameOf(const OpenerCase& c) {
    const char* before[] = {"NotRunning", "Running", "RunningWithoutWindows"};
    bool classic = c.iTerm2Version[0] == '2' && c.identifier == std::string(kITerm2);
    return c.application + std::string(classic ? "Classic" : "") +
           before[static_cast<int>(c.before)] + (c.open == Window ? "Window" : "Tab") +
           (c.clicks > 1 ? std::to_string(c.clicks) + "QuickClicks" : "");
}

constexpr const char* kClassic = "2.9.1";
constexpr const char* kNextGen = "3.4.0";

const OpenerCase kOpenerCases[] = {
    {"Terminal", kAppleTerminal, kNextGen, NotRunning, Window},
    {"Terminal", kAppleTerminal, kNextGen, NotRunning, Tab},
    {"Terminal", kAppleTerminal, kNextGen, Running, Window},
    {"Terminal", kAppleTerminal, kNextGen, Running, Tab},
    {"iTerm", kITerm, kNextGen, NotRunning, Window},
    {"iTerm", kITerm, kNextGen, NotRunning, Tab},
    {"iTerm", kITerm, kNextGen, Running, Window},
    {"iTerm", kITerm, kNextGen, Running, Tab},
    {"iTerm2", kITerm2, kClassic, NotRunning, Window},
    {"iTerm2", kITerm2, kClassic, NotRunning, Tab},
    {"iTerm2", kITerm2, kClassic, Running, Window},
    {"iTerm2", kITerm2, kClassic, Running, Tab},
    {"iTerm2", kITerm2, kNextGen, NotRunning, Window},
    {"iTerm2", kITerm2, kNextGen, NotRunning, Tab},
    {"iTerm2", kITerm2, kNextGen, Running, Window},
    {"iTerm2", kITerm2, kNextGen, Running, Tab},
    {"iTerm2", kITerm2, kNextGen, RunningWithoutWindows, Window},
    {"iTerm2", kITerm2, kNextGen, RunningWithoutWindows, Tab},
    {"Terminal", kAppleTerminal, kNextGen, Running, Tab, 30},
    {"Terminal", kAppleTerminal, kNextGen, NotRunning, Window, 3},
};

class OpenerTest : public EndToEndTest, public ::testing::WithParamInterface<OpenerCase> {};

// Not running, the application's first window takes the first click's command, whatever is
// asked, with no window or tab made and no keystroke sent; running, each click makes a new
// window in front, or a new tab beside the front window's last (a new window when there is
// none). A click while the button program still runs only brings it to the front, as
// launching a running application does, so one window or tab opens per program run.
TEST_P(OpenerTest, EachWindowOrTabAClickOpensRunsTheCommandOnceAtTheFinderFolder) {
    const OpenerCase& c = GetParam();
    DesktopOptions options;
    options.iTerm2Version = c.iTerm2Version;
    ASSERT_NO_FATAL_FAILURE(layOut(options));
    std::string folder = makeFolder(kProjectFolder);
    ASSERT_TRUE(desktop->openFinderWindow(folder));
    if (c.before != NotRunning) {
        ASSERT_NO_FATAL_FAILURE(startTerminal(c.application));
    }
    if (c.before == RunningWithoutWindows) {
        ASSERT_NO_FATAL_FAILURE(closeTerminalWindows(c.identifier));
    }
    ASSERT_NO_FATAL_FAILURE(chooseTerminal(c.identifier, c.open == Window));
    // Its output is not the line typed, so each run of the command shows once on screen.
    ASSERT_NO_FATAL_FAILURE(
        storePreferences({{preference_key::kTerminalCommand, "cd %PATH%; echo ran-$((40+2))"}}));
    std::optional<PlistValue> lastLaunch = storedPreference(preference_key::kLastLaunchDate);

    std::size_t ran = clickQuickly(c.clicks, milliseconds(c.open == Tab ? 40 : 0)).size();
    ASSERT_TRUE(c.clicks == 1 ? ran == 1 : ran >= 1) << ran;

    std::size_t opened = ran + (c.before == Running ? 1 : 0);
    const std::regex output("ran-42");
    auto faults = [&] {
        std::string found;
        std::size_t atHome = 0;
        for (const TerminalWindowState& window : windowsOf(c.identifier)) {
            for (const TerminalTabState& tab : window.tabs) {
                auto runs = std::distance(
                    std::sregex_iterator(tab.screen.begin(), tab.screen.end(), output), {});
                atHome += tab.shellDirectory == home() && runs == 0;
                if ((tab.shellDirectory != home() || runs != 0) &&
                    (tab.shellDirectory != folder || runs != 1)) {
                    found += "a tab ran it " + std::to_string(runs) + " times\n";
                }
            }
        }
        if (atHome != opened - ran)  // only a tab there before stays in the home folder
            found += std::to_string(atHome) + " tabs in the home folder\n";
        return found;
    };
    EXPECT_TRUE(testing::waitUntil([&] {
        return faults().empty() && !windowsOf(c.identifier).empty();
    })) << faults()
        << describe(c.identifier);
    std::vector<TerminalWindowState> windows = windowsOf(c.identifier);
    ASSERT_FALSE(windows.empty());
    EXPECT_EQ(tabCounts(c.identifier), c.open == Window ? std::vector<std::size_t>(opened, 1)
                                                        : std::vector<std::size_t>{opened})
        << ran << " button program runs\n"
        << describe(c.identifier);
    EXPECT_EQ(windows[0].selectedTab, windows[0].tabs.size() - 1) << describe(c.identifier);
    EXPECT_EQ(windows[0].tabs.back().shellDirectory, folder);
    // The click opened only the chosen terminal, and no update launch came with it.
    for (const char* other : {kAppleTerminal, kITerm, kITerm2}) {
        EXPECT_TRUE(other == std::string(c.identifier) ||
                    !inspectTerminal(desktop->systemRoot(), other))
            << other;
    }
    EXPECT_EQ(storedPreference(preference_key::kLastLaunchDate), lastLaunch);
    EXPECT_EQ(mainProgramLaunches(), "");

    // Finder takes its signals with sigwait and so blocks them; what it launches must not
    // inherit that, or a terminal a click started could not be ended by SIGTERM.
    std::vector<RunningApplication> running = desktop->runningApplications();
    std::erase_if(running, [&](const auto& each) { return each.bundleIdentifier != c.identifier; });
    ASSERT_EQ(running.size(), 1u);
    ASSERT_EQ(kill(running[0].pid, SIGTERM), 0);
    EXPECT_TRUE(testing::waitUntil([&] { return !processStartTime(running[0].pid); }));
}

INSTANTIATE_TEST_SUITE_P(EachTerminal, OpenerTest, ::testing::ValuesIn(kOpenerCases),
                         [](const auto& test) { return nameOf(test.param); });

// ---- Where the terminal opens, and whether the click checks for updates ----

constexpr double kThreeDays = 259200.0;  // the time after which an update check is due

struct ClickPathCase {
    const char* name;
    const char* shown;             // what Finder's front window shows, under the home folder; none
    const char* expected;          // where Terminal opens, under the home folder; null: no terminal
    double lastLaunchAgo = 60;     // seconds
    const char* chosen = nullptr;  // the terminal chosen; nothing stored when null
    const char* launches = "";     // the main program's, one line each
    bool recordsTheLaunch = false;  // "Last Launch Date" becomes the time of the click
};

class ClickPathTest : public EndToEndTest, public ::testing::WithParamInterface<ClickPathCase> {};

TEST_P(ClickPathTest, TheClickOpensWhereFinderLeadsAndChecksForUpdatesOnlyWhenDue) {
    const ClickPathCase& c = GetParam();
    DesktopOptions options;
    options.iTerm = false;
    ASSERT_NO_FATAL_FAILURE(layOut(options));
    std::string target = makeFolder("Targets/Real Folder");
    std::string notes = makeFolder("Documents/Notes");
    testing::writeFile(fs::path(notes) / "note.txt", "a file\n");
    fs::path links = makeFolder("Links");
    fs::create_symlink(target, links / "alias");
    fs::create_symlink(links / "alias", links / "alias of alias");
    fs::create_symlink(fs::path(notes) / "note.txt", links / "alias of note.txt");
    fs::create_symlink(links / "nowhere", links / "broken alias");
    makeFolder(kProjectFolder);
    std::string gone = makeFolder("Gone/Removed Folder");
    ASSERT_TRUE(!c.shown || desktop->openFinderWindow(home() + "/" + c.shown));
    fs::remove(gone);  // only after a window showed it
    PlistDate lastLaunch = PlistDate{now().sinceReferenceDate - c.lastLaunchAgo};
    PlistDictionary stored{{preference_key::kLastLaunchDate, lastLaunch}};
    if (c.chosen)
        stored.set(preference_key::kTerminalIdentifier, c.chosen);
    ASSERT_NO_FATAL_FAILURE(storePreferences(stored));
    double started = now().sinceReferenceDate;

    ASSERT_TRUE(click());
    double ended = now().sinceReferenceDate;

    if (c.expected) {  // with nothing else stored: Apple's Terminal, in a new window
        EXPECT_TRUE(waitUntilShellIsIn(kAppleTerminal, 0, home() + "/" + c.expected));
    } else {
        for (const char* terminal : {kAppleTerminal, kITerm, kITerm2})
            EXPECT_FALSE(inspectTerminal(desktop->systemRoot(), terminal)) << describe(terminal);
        EXPECT_TRUE(desktop->xtermWindows().empty());
    }
    ASSERT_TRUE(!*c.launches || testing::waitUntil([&] { return !mainProgramLaunches().empty(); }));
    EXPECT_EQ(mainProgramLaunches(), c.launches);
    std::optional<PlistValue> date = storedPreference(preference_key::kLastLaunchDate);
    if (!c.recordsTheLaunch) {
        EXPECT_EQ(date, PlistValue(lastLaunch));
    } else {  // property-list files keep whole seconds
        ASSERT_TRUE(date && date->asDate()) << (date ? *date : PlistValue("absent"));
        EXPECT_GE(date->asDate()->sinceReferenceDate, started - 1.0);
        EXPECT_LE(date->asDate()->sinceReferenceDate, ended + 1.0);
    }
}

const ClickPathCase kClickPathCases[] = {
    {"NoFinderWindowOpensTheDesktop", nullptr, "Desktop"},
    {"AnAliasOpensItsFolder", "Links/alias", "Targets/Real Folder"},
    {"AnAliasChainOpensTheFolderAtItsEnd", "Links/alias of alias", "Targets/Real Folder"},
    {"AFileOpensItsFolder", "Documents/Notes/note.txt", "Documents/Notes"},
    {"AnAliasOfAFileOpensTheFileFolder", "Links/alias of note.txt", "Documents/Notes"},
    {"ABrokenAliasOpensItsFolder", "Links/broken alias", "Links"},
    {"AVanishedFolderOpensItsParent", "Gone/Removed Folder", "Gone"},
    {"ALaunchJustUnderThreeDaysAgoChecksNothing", kProjectFolder, kProjectFolder, kThreeDays - 60},
    {"ADueUpdateAlsoStartsTheMainProgramToCheck", kProjectFolder, kProjectFolder, kThreeDays,
     nullptr, "checkUpdates=checkUpdates\n", true},
    // Long overdue, yet the settings path neither checks for updates nor records a launch.
    {"AChosenTerminalNotInstalledOpensTheSettings", kProjectFolder, nullptr, 30 * 86400.0, kITerm,
     "checkUpdates=unset\n"},
};
INSTANTIATE_TEST_SUITE_P(EachWay, ClickPathTest, ::testing::ValuesIn(kClickPathCases),
                         [](const auto& test) { return std::string(test.param.name); });

// ---- xterm, on a virtual X display ----

// Whether a child of the process runs with WINDOWID in its environment, which xterm gives
// the shell it starts in the window it has made.
bool shellWithWindowUnder(int parent) {
    std::string pid = std::to_string(parent);
    std::istringstream children(testing::readFile("/proc/" + pid + "/task/" + pid + "/children"));
    for (int child = 0; children >> child;) {
        std::string environment = testing::readFile("/proc/" + std::to_string(child) + "/environ");
        if (('\0' + environment).find(std::string("\0WINDOWID=", 10)) != std::string::npos)
            return true;
    }
    return false;
}

class XtermTest : public EndToEndTest {
protected:
    void SetUp() override {
        if (!XvfbServer::isInstalled() || access("/usr/bin/xterm", X_OK) != 0)
            GTEST_SKIP() << "Xvfb or xterm is not installed (Debian packages xvfb, xterm)";
    }
};

TEST_F(XtermTest, EachClickStartsOneXtermInTheFinderFolderWhateverTheWindowChoice) {
    // Finder, and so the button program and xterm after it, run on the desktop's display.
    ASSERT_NO_FATAL_FAILURE(layOut({}, {.display = true}));
    // xterm is given the folder as the file system names it, never the escaped form.
    std::string folder = makeFolder("Projects/It's \"xterm\" here");
    ASSERT_TRUE(desktop->openFinderWindow(folder));
    ASSERT_NO_FATAL_FAILURE(chooseTerminal(kXterm, false));
    for (std::size_t clicks = 1; clicks <= 2; ++clicks) {
        ASSERT_TRUE(click());
        ASSERT_TRUE(testing::waitUntil([&] { return desktop->xtermWindows().size() == clicks; }));
    }
    for (const XtermWindow& xterm : desktop->xtermWindows()) {
        EXPECT_EQ(xterm.workingDirectory, folder);
        // xterm starts its shell only once its window is on the display.
        EXPECT_TRUE(testing::waitUntil([&] { return shellWithWindowUnder(xterm.pid); }))
            << "xterm " << xterm.pid << " opened no window";
    }
    EXPECT_EQ(mainProgramLaunches(), "");
    for (const char* terminal : {kAppleTerminal, kITerm, kITerm2})
        EXPECT_FALSE(inspectTerminal(desktop->systemRoot(), terminal)) << terminal;
}

}  // namespace
}  // namespace quaymark
