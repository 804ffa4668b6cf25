// A click on the toolbar button, end to end: the built QuaymarkHelper started by the Finder
// stand-in on a fresh desktop, and the outcome read from the terminals' screens and shells,
// Quaymark's preference file and the main program's launches.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <sstream>

#include "ApplicationRegistry.h"
#include "EndToEndTest.h"
#include "QuaymarkPreferences.h"
#include "Spawn.h"
#include "TerminalIdentifiers.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

// A folder whose name a shell would misread unescaped.
const char* const kProjectFolder = "Projects/It's a \"test\" (1)";

// ---- Each opener, not running and running, new window and new tab ----

enum class Before { NotRunning, RunningWithAWindow, RunningWithoutWindows };

struct OpenerCase {
    const char* name;
    const char* application;  // as Desktop::startApplication names it
    const char* identifier;
    const char* iTerm2Version;
    Before before;
    bool useWindow;
    // Tab counts of the windows afterwards, front window first; the command runs in the
    // front window's last tab, which is the selected one.
    std::vector<std::size_t> tabsAfter;
};

void PrintTo(const OpenerCase& c, std::ostream* out) {
    *out << c.name;
}

using terminal_identifier::kAppleTerminal;
using terminal_identifier::kITerm;
using terminal_identifier::kITerm2;
constexpr const char* kClassic = "2.9.1";
constexpr const char* kNextGeneration = "3.4.0";

// Not running: the application's first window takes the command, whatever is asked, with
// no window or tab made and no keystroke sent. Running: a new window in front of the one
// there was, or a new tab beside its tab.
const OpenerCase kOpenerCases[] = {
    {"TerminalNotRunningWindow",
     "Terminal",
     kAppleTerminal,
     kNextGeneration,
     Before::NotRunning,
     true,
     {1}},
    {"TerminalNotRunningTab",
     "Terminal",
     kAppleTerminal,
     kNextGeneration,
     Before::NotRunning,
     false,
     {1}},
    {"TerminalRunningWindow",
     "Terminal",
     kAppleTerminal,
     kNextGeneration,
     Before::RunningWithAWindow,
     true,
     {1, 1}},
    {"TerminalRunningTab",
     "Terminal",
     kAppleTerminal,
     kNextGeneration,
     Before::RunningWithAWindow,
     false,
     {2}},
    {"ITermNotRunningWindow", "iTerm", kITerm, kNextGeneration, Before::NotRunning, true, {1}},
    {"ITermNotRunningTab", "iTerm", kITerm, kNextGeneration, Before::NotRunning, false, {1}},
    {"ITermRunningWindow",
     "iTerm",
     kITerm,
     kNextGeneration,
     Before::RunningWithAWindow,
     true,
     {1, 1}},
    {"ITermRunningTab", "iTerm", kITerm, kNextGeneration, Before::RunningWithAWindow, false, {2}},
    {"ITerm2ClassicNotRunningWindow", "iTerm2", kITerm2, kClassic, Before::NotRunning, true, {1}},
    {"ITerm2ClassicNotRunningTab", "iTerm2", kITerm2, kClassic, Before::NotRunning, false, {1}},
    {"ITerm2ClassicRunningWindow",
     "iTerm2",
     kITerm2,
     kClassic,
     Before::RunningWithAWindow,
     true,
     {1, 1}},
    {"ITerm2ClassicRunningTab",
     "iTerm2",
     kITerm2,
     kClassic,
     Before::RunningWithAWindow,
     false,
     {2}},
    {"ITerm2NextGenerationNotRunningWindow",
     "iTerm2",
     kITerm2,
     kNextGeneration,
     Before::NotRunning,
     true,
     {1}},
    {"ITerm2NextGenerationNotRunningTab",
     "iTerm2",
     kITerm2,
     kNextGeneration,
     Before::NotRunning,
     false,
     {1}},
    {"ITerm2NextGenerationRunningWindow",
     "iTerm2",
     kITerm2,
     kNextGeneration,
     Before::RunningWithAWindow,
     true,
     {1, 1}},
    {"ITerm2NextGenerationRunningTab",
     "iTerm2",
     kITerm2,
     kNextGeneration,
     Before::RunningWithAWindow,
     false,
     {2}},
    // With no window to put a tab in, a new window is made instead.
    {"ITerm2NextGenerationRunningWithoutWindowsTab",
     "iTerm2",
     kITerm2,
     kNextGeneration,
     Before::RunningWithoutWindows,
     false,
     {1}},
    {"ITerm2NextGenerationRunningWithoutWindowsWindow",
     "iTerm2",
     kITerm2,
     kNextGeneration,
     Before::RunningWithoutWindows,
     true,
     {1}},
};

class OpenerTest : public EndToEndTest, public ::testing::WithParamInterface<OpenerCase> {};

TEST_P(OpenerTest, ClickRunsTheCommandInTheRightWindowOrTabAtTheFinderFolder) {
    const OpenerCase& c = GetParam();
    DesktopOptions options;
    options.iTerm2Version = c.iTerm2Version;
    ASSERT_NO_FATAL_FAILURE(layOut(options));
    std::string folder = makeFolder(kProjectFolder);
    ASSERT_TRUE(desktop->openFinderWindow(folder));
    if (c.before != Before::NotRunning) {
        ASSERT_NO_FATAL_FAILURE(startTerminal(c.application));
    }
    if (c.before == Before::RunningWithoutWindows) {
        ASSERT_NO_FATAL_FAILURE(closeTerminalWindows(c.identifier));
    }
    ASSERT_NO_FATAL_FAILURE(chooseTerminal(c.identifier, c.useWindow));
    std::optional<PlistValue> lastLaunch = storedPreference(preference_key::kLastLaunchDate);

    ASSERT_TRUE(click());

    ASSERT_TRUE(waitUntilShellIsIn(c.identifier, 0, folder));
    std::vector<TerminalWindowState> windows = windowsOf(c.identifier);
    EXPECT_EQ(tabCounts(c.identifier), c.tabsAfter) << describe(c.identifier);
    ASSERT_FALSE(windows.empty());
    EXPECT_EQ(windows[0].selectedTab, windows[0].tabs.size() - 1) << describe(c.identifier);
    // Every other tab is the one that was there before, untouched, in the home folder.
    for (std::size_t w = 0; w < windows.size(); ++w) {
        for (std::size_t t = 0; t < windows[w].tabs.size(); ++t) {
            if (w == 0 && t == windows[0].selectedTab)
                continue;
            EXPECT_EQ(windows[w].tabs[t].shellDirectory, home()) << describe(c.identifier);
            EXPECT_EQ(windows[w].tabs[t].screen.find(folder), std::string::npos);
        }
    }
    // The click opened only the chosen terminal, and no update launch came with it.
    for (const char* other : {kAppleTerminal, kITerm, kITerm2}) {
        if (std::string(other) != c.identifier) {
            EXPECT_FALSE(inspectTerminal(desktop->systemRoot(), other)) << other;
        }
    }
    EXPECT_EQ(storedPreference(preference_key::kLastLaunchDate), lastLaunch);
    EXPECT_EQ(mainProgramLaunches(), "");
}

INSTANTIATE_TEST_SUITE_P(EachTerminal, OpenerTest, ::testing::ValuesIn(kOpenerCases),
                         [](const ::testing::TestParamInfo<OpenerCase>& test) {
                             return std::string(test.param.name);
                         });

// ---- What Finder's front window shows ----

using FinderTargetTest = EndToEndTest;

TEST_F(FinderTargetTest, TheTerminalOpensAtTheFolderTheFrontWindowLeadsTo) {
    ASSERT_NO_FATAL_FAILURE(layOut());
    ASSERT_NO_FATAL_FAILURE(startTerminal("Terminal"));
    ASSERT_NO_FATAL_FAILURE(chooseTerminal(kAppleTerminal, true));

    std::string target = makeFolder("Targets/Real Folder");
    std::string documents = makeFolder("Documents/Notes");
    testing::writeFile(fs::path(documents) / "note.txt", "a file\n");
    std::string links = makeFolder("Links");
    fs::create_symlink(target, fs::path(links) / "alias of Real Folder");
    fs::create_symlink(fs::path(links) / "alias of Real Folder",
                       fs::path(links) / "alias of alias");
    fs::create_symlink(fs::path(documents) / "note.txt", fs::path(links) / "alias of note.txt");
    std::string gone = makeFolder("Gone/Removed Folder");

    struct Case {
        const char* name;
        std::optional<std::string> shown;  // what the front window shows; nothing: no window
        std::string expected;
    };
    const Case cases[] = {
        {"no window: the Desktop", std::nullopt, home() + "/Desktop"},
        {"an alias: the folder it leads to", links + "/alias of Real Folder", target},
        {"a chain of aliases: the folder at its end", links + "/alias of alias", target},
        {"a file: the folder holding it", documents + "/note.txt", documents},
        {"an alias of a file: the folder holding the file", links + "/alias of note.txt",
         documents},
        {"a folder that no longer exists: its parent", gone, home() + "/Gone"},
    };
    ASSERT_TRUE(desktop->finderWindows().empty());
    std::size_t windows = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        while (desktop->closeFinderWindow()) {
        }
        if (c.shown) {
            ASSERT_TRUE(desktop->openFinderWindow(*c.shown));
        }
        if (c.shown == gone)
            fs::remove(gone);

        ASSERT_TRUE(click());

        EXPECT_TRUE(waitUntilShellIsIn(kAppleTerminal, 0, c.expected));
        // A new window each time, so that no earlier window in the same folder passes.
        EXPECT_EQ(windowsOf(kAppleTerminal).size(), ++windows) << describe(kAppleTerminal);
    }
}

// ---- The three ways a click can go ----

using HelperPathTest = EndToEndTest;

TEST_F(HelperPathTest, ARecentLastLaunchDateOpensTheTerminalOnly) {
    ASSERT_NO_FATAL_FAILURE(layOut());
    std::string folder = makeFolder(kProjectFolder);
    ASSERT_TRUE(desktop->openFinderWindow(folder));
    // Three days less a minute ago: not yet due.
    PlistDate lastLaunch = PlistDate{now().sinceReferenceDate - 259200.0 + 60.0};
    ASSERT_NO_FATAL_FAILURE(storePreferences({{preference_key::kLastLaunchDate, lastLaunch}}));

    ASSERT_TRUE(click());

    // With nothing else stored: Apple's Terminal, in a new window.
    EXPECT_TRUE(waitUntilShellIsIn(kAppleTerminal, 0, folder));
    EXPECT_EQ(storedPreference(preference_key::kLastLaunchDate), PlistValue(lastLaunch));
    EXPECT_EQ(mainProgramLaunches(), "");
}

TEST_F(HelperPathTest, ADueUpdateOpensTheTerminalThenStartsTheMainProgramToCheckForUpdates) {
    ASSERT_NO_FATAL_FAILURE(layOut());
    std::string folder = makeFolder(kProjectFolder);
    ASSERT_TRUE(desktop->openFinderWindow(folder));
    ASSERT_NO_FATAL_FAILURE(storePreferences(
        {{preference_key::kLastLaunchDate, PlistDate{now().sinceReferenceDate - 259200.0}}}));
    double started = now().sinceReferenceDate;

    ASSERT_TRUE(click());
    double ended = now().sinceReferenceDate;

    EXPECT_TRUE(waitUntilShellIsIn(kAppleTerminal, 0, folder));
    ASSERT_TRUE(testing::waitUntil([&] { return !mainProgramLaunches().empty(); }));
    EXPECT_EQ(mainProgramLaunches(), "checkUpdates=checkUpdates\n");
    std::optional<PlistValue> stored = storedPreference(preference_key::kLastLaunchDate);
    ASSERT_TRUE(stored && stored->asDate()) << (stored ? *stored : PlistValue("absent"));
    // Property-list files keep whole seconds.
    EXPECT_GE(stored->asDate()->sinceReferenceDate, started - 1.0);
    EXPECT_LE(stored->asDate()->sinceReferenceDate, ended + 1.0);
}

TEST_F(HelperPathTest, AChosenTerminalThatIsNotInstalledOpensTheSettingsInstead) {
    DesktopOptions options;
    options.iTerm = false;
    ASSERT_NO_FATAL_FAILURE(layOut(options));
    ASSERT_TRUE(desktop->openFinderWindow(makeFolder(kProjectFolder)));
    // Long overdue, yet the settings path neither checks for updates nor records a launch.
    PlistDate lastLaunch = PlistDate{now().sinceReferenceDate - 30 * 86400.0};
    ASSERT_NO_FATAL_FAILURE(storePreferences({{preference_key::kTerminalIdentifier, kITerm},
                                              {preference_key::kLastLaunchDate, lastLaunch}}));

    ASSERT_TRUE(click());

    ASSERT_TRUE(testing::waitUntil([&] { return !mainProgramLaunches().empty(); }));
    EXPECT_EQ(mainProgramLaunches(), "checkUpdates=unset\n");
    EXPECT_EQ(storedPreference(preference_key::kLastLaunchDate), PlistValue(lastLaunch));
    // No terminal was opened.
    for (const char* terminal : {kAppleTerminal, kITerm, kITerm2})
        EXPECT_FALSE(inspectTerminal(desktop->systemRoot(), terminal)) << describe(terminal);
    EXPECT_TRUE(desktop->xtermWindows().empty());
}

// ---- Applications a click started stay under the desktop's control ----

using StartedApplicationTest = EndToEndTest;

// Finder takes its signals with sigwait and so blocks them; what it launches must not
// inherit that, or the terminal a click started could not be ended by SIGTERM.
TEST_F(StartedApplicationTest, ATerminalAClickStartedEndsOnSigterm) {
    ASSERT_NO_FATAL_FAILURE(layOut());
    std::string folder = makeFolder(kProjectFolder);
    ASSERT_TRUE(desktop->openFinderWindow(folder));
    ASSERT_NO_FATAL_FAILURE(chooseTerminal(kAppleTerminal, true));
    ASSERT_TRUE(click());
    ASSERT_TRUE(waitUntilShellIsIn(kAppleTerminal, 0, folder));
    std::vector<RunningApplication> running = desktop->runningApplications();
    auto terminal = std::find_if(running.begin(), running.end(), [](const auto& application) {
        return application.bundleIdentifier == kAppleTerminal;
    });
    ASSERT_NE(terminal, running.end());

    ASSERT_EQ(kill(terminal->pid, SIGTERM), 0);

    EXPECT_TRUE(testing::waitUntil([&] { return !processStartTime(terminal->pid); }, seconds(3)));
}

// ---- xterm, on a virtual X display ----

// An Xvfb server of this test's own, on a display it chose itself; ended by pid.
class VirtualDisplay {
public:
    VirtualDisplay() {
        std::optional<Pipe> numberPipe = makePipe();
        if (!numberPipe)
            return;
        // Xvfb writes the display number it took to descriptor 3 once it accepts clients.
        _pid = spawnProcess({.executable = kXvfb,
                             .arguments = {"-displayfd", "3", "-nolisten", "tcp", "-screen", "0",
                                           "800x600x24"},
                             .standardOutput = TaskStream::Discard,
                             .standardError = TaskStream::Discard,
                             .descriptor3 = numberPipe->writeEnd.get()})
                   .pid;
        numberPipe->writeEnd.close();
        std::string number;
        pollfd waiting{numberPipe->readEnd.get(), POLLIN, 0};
        char buffer[16];
        // Xvfb is ready within a second; ten allow for a loaded machine.
        while (_pid > 0 && poll(&waiting, 1, 10000) > 0) {
            ssize_t got = read(numberPipe->readEnd.get(), buffer, sizeof buffer);
            if (got <= 0)
                break;
            number.append(buffer, static_cast<std::size_t>(got));
            if (number.find('\n') != std::string::npos)
                break;
        }
        if (!number.empty() && number.back() == '\n')
            _display = ":" + number.substr(0, number.size() - 1);
    }
    ~VirtualDisplay() {
        if (_pid <= 0)
            return;
        kill(_pid, SIGTERM);
        bool ended = testing::waitUntil([&] { return waitpid(_pid, nullptr, WNOHANG) == _pid; },
                                        milliseconds(3000));
        if (!ended) {
            kill(_pid, SIGKILL);
            waitpid(_pid, nullptr, 0);
        }
    }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // ":N", or empty when Xvfb did not start.
    const std::string& display() const { return _display; }

    static constexpr const char* kXvfb = "/usr/bin/Xvfb";

private:
    pid_t _pid = -1;
    std::string _display;
};

// Whether a child of the process runs with WINDOWID in its environment, which xterm gives
// the shell it starts in the window it has made.
bool shellWithWindowUnder(int parent) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        std::string stat = testing::readFile(entry.path() / "stat");
        std::size_t close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream fields(stat.substr(close + 1));
        std::string state;
        int parentPid = 0;
        if (!(fields >> state >> parentPid) || parentPid != parent)
            continue;
        std::string environment = testing::readFile(entry.path() / "environ");
        if (environment.starts_with("WINDOWID=") ||
            environment.find(std::string("\0WINDOWID=", 10)) != std::string::npos) {
            return true;
        }
    }
    return false;
}

class XtermTest : public EndToEndTest {
protected:
    void SetUp() override {
        if (access(VirtualDisplay::kXvfb, X_OK) != 0)
            GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb)";
        if (access("/usr/bin/xterm", X_OK) != 0)
            GTEST_SKIP() << "xterm is not installed (Debian package xterm)";
        display.emplace();
        ASSERT_FALSE(display->display().empty()) << "Xvfb did not start";
        // Finder, and so the button program and xterm after it, inherit the display.
        setenv("DISPLAY", display->display().c_str(), 1);
    }
    void TearDown() override {
        EndToEndTest::TearDown();
        unsetenv("DISPLAY");
        display.reset();
    }

    std::optional<VirtualDisplay> display;
};

TEST_F(XtermTest, EachClickStartsOneXtermInTheFinderFolderWhateverTheWindowChoice) {
    ASSERT_NO_FATAL_FAILURE(layOut());
    // xterm is given the folder as the file system names it, never the escaped form.
    std::string folder = makeFolder("Projects/It's \"xterm\" here");
    ASSERT_TRUE(desktop->openFinderWindow(folder));
    ASSERT_NO_FATAL_FAILURE(chooseTerminal(terminal_identifier::kXterm, false));

    ASSERT_TRUE(click());
    ASSERT_TRUE(testing::waitUntil([&] { return desktop->xtermWindows().size() == 1; }));
    ASSERT_TRUE(click());
    ASSERT_TRUE(testing::waitUntil([&] { return desktop->xtermWindows().size() == 2; }));

    std::vector<XtermWindow> xterms = desktop->xtermWindows();
    ASSERT_EQ(xterms.size(), 2u);
    EXPECT_NE(xterms[0].pid, xterms[1].pid);
    for (const XtermWindow& xterm : xterms) {
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
