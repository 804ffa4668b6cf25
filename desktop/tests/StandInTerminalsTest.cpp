// The stand-in terminals driven through their scripting targets and System Events, each
// test on its own desktop (system root, home, tmux sockets) with real tmux servers and shells.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <random>

#include "HostTestSupport.h"
#include "PlatformException.h"
#include "launch/HostWorkspace.h"
#include "scripting/SystemEventsRunner.h"
#include "scripting/TmuxInspection.h"
#include "scripting/TmuxScripting.h"
#include "standins/StandInBundles.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr const char* kTerminal = "com.apple.Terminal";
constexpr const char* kITerm2 = "com.googlecode.iterm2";
constexpr const char* kDefaultSession = "Default Session";

std::string keystrokeScript(const std::string& process) {
    return "tell application \"System Events\" to tell process \"" + process +
           "\" to keystroke \"t\" using command down";
}

bool showsLine(const TerminalTabState& tab, const std::string& line) {
    return ("\n" + tab.screen + "\n").find("\n" + line + "\n") != std::string::npos;
}

class StandInTerminalsTest : public ::testing::Test {
public:
    // Ends, by pid, every application this test started on its desktop.
    void TearDown() override {
        for (const RunningApplication& application : workspace.runningApplications()) {
            if (application.pid != getpid())
                endProcess(application.pid, milliseconds(3000));
        }
    }

    void install(TerminalKind kind, const std::string& version, const std::string& shell = "bash") {
        Result<void> laidOut = layOutTerminalStandIn(SystemRoot(root.string()), kind, version,
                                                     shell, QUAYMARK_STANDIN_PROGRAM);
        ASSERT_TRUE(laidOut) << laidOut.error();
    }

    std::vector<TerminalWindowState> windowsOf(const std::string& bundleIdentifier) {
        auto windows = inspectTerminal(SystemRoot(root.string()), bundleIdentifier);
        return windows ? *windows : std::vector<TerminalWindowState>{};
    }

    // The tab count of each window, front window first.
    std::vector<std::size_t> tabCounts(const std::string& bundleIdentifier) {
        std::vector<std::size_t> counts;
        for (const auto& window : windowsOf(bundleIdentifier))
            counts.push_back(window.tabs.size());
        return counts;
    }

    testing::TemporaryDirectory directory;
    fs::path root = directory.path() / "root";
    fs::path home = directory.path();
    HostWorkspace workspace{SystemRoot(root.string()), home.string()};
    // No test here asks for Finder.
    TmuxScriptingBridge bridge{
        TmuxDesktop{SystemRoot(root.string()), home.string(), workspace},
        [](const std::string&) { return std::unique_ptr<FinderScripting>(); }};
    SystemEventsRunner systemEvents{SystemRoot(root.string()), workspace};
};

TEST_F(StandInTerminalsTest, EachIsLaidOutStartsInHomeAndStartsAgainAfterItsPidIsEnded) {
    // Nothing is laid out for a missing shell, nor outside a system root.
    EXPECT_FALSE(layOutTerminalStandIn(SystemRoot(root.string()), TerminalKind::AppleTerminal,
                                       "2.8", "no-such-shell", QUAYMARK_STANDIN_PROGRAM));
    EXPECT_FALSE(layOutTerminalStandIn(SystemRoot(""), TerminalKind::AppleTerminal, "2.8", "bash",
                                       QUAYMARK_STANDIN_PROGRAM));
    EXPECT_FALSE(fs::exists(root / "Applications/Utilities/Terminal.app/Contents/Info.plist"));
    const std::tuple<TerminalKind, const char*, const char*> standIns[] = {
        {TerminalKind::AppleTerminal, "2.8", "Terminal"},
        {TerminalKind::ITerm, "0.10", "iTerm"},
        {TerminalKind::ITerm2, "3.4.0", "iTerm2"},
    };
    for (const auto& [kind, version, processName] : standIns) {
        SCOPED_TRACE(processName);
        install(kind, version);
        std::string identifier = bundleIdentifierFor(kind);
        // The shell reads no start-up file of the machine's user.
        EXPECT_NE(testing::readFile(root.string() + terminalStandInPath(kind) +
                                    "/Contents/Resources/tmux.conf")
                      .find("bash --noprofile --norc\""),
                  std::string::npos);
        auto activate = [&] {
            if (kind == TerminalKind::AppleTerminal)
                bridge.terminal(identifier)->activate();
            else
                bridge.iTerm(identifier)->activate();
        };
        auto running = [&] {
            return workspace.runningApplicationsWithBundleIdentifier(identifier);
        };
        EXPECT_FALSE(inspectTerminal(SystemRoot(root.string()), identifier));

        activate();

        ASSERT_EQ(running().size(), 1u);
        const RunningApplication first = running().front();
        EXPECT_EQ(first.processName, processName);
        EXPECT_EQ(workspace.registry().frontmost(), first.pid);
        EXPECT_TRUE(testing::waitUntil([&] {
            auto windows = windowsOf(identifier);
            return windows.size() == 1 && windows[0].tabs.size() == 1 &&
                   windows[0].tabs[0].shellDirectory == home.string();
        }));
        // Activating it again while it runs opens nothing and starts nothing.
        activate();
        EXPECT_EQ(tabCounts(identifier), (std::vector<std::size_t>{1}));
        EXPECT_EQ(running().front().pid, first.pid);

        ASSERT_EQ(kill(first.pid, SIGTERM), 0);
        EXPECT_TRUE(testing::waitUntil([&] { return running().empty(); }));
        EXPECT_FALSE(inspectTerminal(SystemRoot(root.string()), identifier));
        // Started again over the socket the ended server left behind, it opens one window.
        activate();
        EXPECT_NE(running().front().pid, first.pid);
        EXPECT_EQ(tabCounts(identifier), (std::vector<std::size_t>{1}));
    }
    struct stat socketFolder {};
    ASSERT_EQ(stat((root / "private/var/run/quaymark/tmux").c_str(), &socketFolder), 0);
    EXPECT_EQ(socketFolder.st_mode & 0777, 0700u);
}

TEST(TerminalStandInTest, ITerm2VersionChoosesVocabularyAndProcessNameByItsMajorNumber) {
    // A number, not text, is compared; a version without one counts as a current one.
    for (const auto& [version, classic] : std::vector<std::pair<const char*, bool>>{
             {"0.9", true}, {"2.9.20160206", true}, {"3.0", false}, {"10.1", false}, {"", false}}) {
        EXPECT_EQ(vocabularyFor(TerminalKind::ITerm2, version) == TerminalVocabulary::ITermClassic,
                  classic)
            << version;
        EXPECT_EQ(processNameFor(TerminalKind::ITerm2, version), classic ? "iTerm" : "iTerm2");
    }
}

// Runs `command` through `script` and waits until it has run in the selected tab `tab` of
// window `window`, and in no other tab, with the windows' tab counts `tabsAfter` then.
::testing::AssertionResult landsIn(StandInTerminalsTest& test, const std::string& identifier,
                                   const std::function<void(const std::string&)>& script,
                                   std::vector<std::size_t> tabsAfter, std::size_t window,
                                   std::size_t tab) {
    // Ending in "\;", which tmux would read as an escaped end of its own command.
    static int serial = 0;
    std::string name = "landed" + std::to_string(++serial) + ";";
    script("printf 'mark:%s\\n' " + name.substr(0, name.size() - 1) + "\\;");
    std::vector<TerminalWindowState> windows;
    if (!testing::waitUntil([&] {
            windows = test.windowsOf(identifier);
            return window < windows.size() && tab < windows[window].tabs.size() &&
                   showsLine(windows[window].tabs[tab], "mark:" + name);
        })) {
        return ::testing::AssertionFailure() << name << " never showed in its tab";
    }
    if (test.tabCounts(identifier) != tabsAfter || windows[window].selectedTab != tab)
        return ::testing::AssertionFailure() << name << ": other windows, tabs or selection";
    for (std::size_t w = 0; w < windows.size(); ++w) {
        for (std::size_t t = 0; t < windows[w].tabs.size(); ++t) {
            if ((w != window || t != tab) && showsLine(windows[w].tabs[t], "mark:" + name))
                return ::testing::AssertionFailure() << name << " also ran in " << w << "/" << t;
        }
    }
    return ::testing::AssertionSuccess();
}

TEST_F(StandInTerminalsTest, TerminalAndSystemEventsActOnTheWindowsReferencesNameWhenUsed) {
    install(TerminalKind::AppleTerminal, "2.8");
    install(TerminalKind::ITerm, "0.10");
    auto terminal = bridge.terminal(kTerminal);
    EXPECT_THROW(terminal->doScript("true", std::nullopt), PlatformException);
    EXPECT_FALSE(terminal->isRunning());
    terminal->activate();
    ObjectSpecifier front = terminal->windowAtIndex(0);
    for (const ObjectSpecifier& reference :
         {terminal->windowAtIndex(1), ObjectSpecifier({"tab"}), front.child("selectedTab")}) {
        EXPECT_THROW(terminal->doScript("true", reference), PlatformException)
            << reference.description();
    }

    // System Events refuses any other script, and processes that are no running terminal:
    // "Other" is an application that is no terminal, iTerm is installed but not running.
    ASSERT_TRUE(workspace.registry().add({getpid(), "com.example.other", "Other"}));

    for (const std::string& script :
         {std::string(), keystrokeScript("Terminal") + "\n", keystrokeScript("Ter\"minal"),
          keystrokeScript(""), keystrokeScript("terminal"),  // names are compared exactly
          keystrokeScript("iTerm"), keystrokeScript("Nobody"), keystrokeScript("Other"),
          std::string("tell application \"System Events\" to tell process \"Terminal\" to "
                      "keystroke \"n\" using command down"),
          std::string("tell application \"Finder\" to tell process \"Terminal\" to keystroke "
                      "\"t\" using command down")}) {
        const Result<void> failure = systemEvents.executeScript(script);
        EXPECT_TRUE(!failure && !failure.error().empty()) << script;
    }
    EXPECT_EQ(tabCounts(kTerminal), (std::vector<std::size_t>{1}));

    auto doScript = [&](std::optional<ObjectSpecifier> window) {
        return [&terminal, window](const std::string& command) {
            terminal->doScript(command, window);
        };
    };
    EXPECT_TRUE(landsIn(*this, kTerminal, doScript(std::nullopt), {1, 1}, 0, 0));
    EXPECT_TRUE(landsIn(*this, kTerminal, doScript(terminal->windowAtIndex(1)), {1, 1}, 1, 0));
    // Resolved when used: `front` is now the new window, and its new tab the keystroke's.
    EXPECT_EQ(systemEvents.executeScript(keystrokeScript("Terminal")).error(), "");
    EXPECT_TRUE(landsIn(*this, kTerminal, doScript(front), {2, 1}, 0, 1));
}

TEST_F(StandInTerminalsTest, ClassicITermMakesTerminalsAndSessionsAndRefusesWhatItCannotDo) {
    install(TerminalKind::ITerm2, "2.9.1");
    auto iTerm = bridge.iTerm(kITerm2);
    EXPECT_FALSE(iTerm->sessionRespondsToWriteWithNewline(ObjectSpecifier()));
    EXPECT_THROW(iTerm->currentWindow(), PlatformException);
    iTerm->activate();
    auto write = [&](const ObjectSpecifier& terminal) {
        return [&iTerm, terminal](const std::string& command) {
            iTerm->writeContentsOfFile(iTerm->currentSession(terminal), std::nullopt, command);
        };
    };
    EXPECT_EQ(systemEvents.executeScript(keystrokeScript("iTerm")).error(), "");
    EXPECT_TRUE(landsIn(*this, kITerm2, write(iTerm->currentTerminal()), {2}, 0, 1));

    ObjectSpecifier made = iTerm->makeTerminal();
    EXPECT_THROW(iTerm->launchSession(made, kDefaultSession), PlatformException);
    iTerm->addObject(*iTerm->terminals(), made);
    EXPECT_THROW(iTerm->addObject(*iTerm->terminals(), made), PlatformException);
    EXPECT_THROW(write(made)("true"), PlatformException);  // no session launched yet
    EXPECT_THROW(iTerm->launchSession(made, "Another Profile"), PlatformException);
    // The first launch takes over the window addObject opened; a second opens a tab there.
    iTerm->launchSession(made, kDefaultSession);
    EXPECT_TRUE(landsIn(*this, kITerm2, write(made), {1, 2}, 0, 0));
    iTerm->launchSession(made, kDefaultSession);
    EXPECT_TRUE(landsIn(*this, kITerm2, write(made), {2, 2}, 0, 1));
    EXPECT_THROW(iTerm->writeContentsOfFile(iTerm->currentSession(made),
                                            std::string("/etc/hostname"), "true"),
                 PlatformException);
}

TEST_F(StandInTerminalsTest, NextGenerationITerm2RunsWithoutWindowsUntilOneIsMade) {
    install(TerminalKind::ITerm2, "3.4.0");
    auto iTerm2 = bridge.iTerm(kITerm2);
    EXPECT_FALSE(iTerm2->respondsToTerminals());
    EXPECT_THROW(iTerm2->terminals(), PlatformException);
    iTerm2->activate();
    // Written in two parts, the first without a line end, which waits on the prompt line.
    auto write = [&](const std::string& command) {
        ObjectSpecifier session = iTerm2->currentSession(iTerm2->currentWindow());
        iTerm2->writeContentsOfFile(session, std::nullopt, command.substr(0, 10), false);
        iTerm2->writeContentsOfFile(session, std::nullopt, command.substr(10), true);
    };
    EXPECT_TRUE(landsIn(
        *this, kITerm2,
        [&](const std::string& command) { iTerm2->createWindowWithDefaultProfile(command); },
        {1, 1}, 0, 0));

    TmuxApplication application("iTerm2", tmuxSocketPath(SystemRoot(root.string()), kITerm2));
    for (const std::string& window : application.windowsFrontToBack())
        application.run({{"kill-session", "-t", window}});
    EXPECT_FALSE(iTerm2->get(iTerm2->currentWindow()));
    EXPECT_THROW(iTerm2->createTabWithDefaultProfile(iTerm2->currentWindow(), "true"),
                 PlatformException);
    // A keystroke in an application without windows opens one.
    EXPECT_EQ(systemEvents.executeScript(keystrokeScript("iTerm2")).error(), "");
    EXPECT_TRUE(landsIn(*this, kITerm2, write, {1}, 0, 0));
    EXPECT_TRUE(landsIn(
        *this, kITerm2,
        [&](const std::string& command) {
            iTerm2->createTabWithDefaultProfile(iTerm2->currentWindow(), command);
        },
        {2}, 0, 1));
}

TEST(SplitForTypingTest, PartsStayWithinTheLimitAndNeverCutACharacter) {
    std::mt19937 random(20240611);
    const std::string pieces[] = {"a", "é", "中", "😀", ";", "\\"};
    for (int round = 0; round < 2000; ++round) {
        std::string text, joined;
        for (std::size_t i = random() % 60; i > 0; --i)
            text += pieces[random() % std::size(pieces)];
        std::size_t limit = 4 + random() % 12;
        for (const std::string& part : splitForTyping(text, limit)) {
            bool startsACharacter = part.empty() || (part[0] & 0xC0) != 0x80;
            ASSERT_TRUE(part.size() <= limit && startsACharacter) << "round " << round;
            joined += part;
        }
        ASSERT_EQ(joined, text) << "round " << round;
    }
}

}  // namespace
}  // namespace quaymark
