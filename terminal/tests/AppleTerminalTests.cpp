#include <functional>

#include "TerminalFixture.h"

namespace quaymark {
namespace {

using namespace std::chrono_literals;

const std::string kCommand = "cd /p; clear; pwd";
const std::string kTerminalKeystroke =
    "tell application \"System Events\" to tell process \"Terminal\" to keystroke \"t\" using "
    "command down";
const std::string kITermKeystroke =
    "tell application \"System Events\" to tell process \"iTerm\" to keystroke \"t\" using "
    "command down";

struct OpenCase {
    std::string name;
    bool running;
    bool inNewWindow;
    std::vector<std::string> calls;
    std::size_t windows;
    std::size_t frontTabs;  // the command lands in the front window's last (selected) tab
};

class AppleTerminal : public TerminalFixture, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(AppleTerminal, SendsItsCallsInOrderAndTheCommandLandsWhereExpected) {
    if (GetParam().running) {
        platform.terminal.setRunning(true);
        platform.terminal.openWindow();
    }
    terminals.openAppleTerminalWithCommand(kCommand, GetParam().inNewWindow);

    EXPECT_EQ(platform.calls.entries(), GetParam().calls);
    const auto& windows = platform.terminal.windows();
    ASSERT_EQ(windows.size(), GetParam().windows);
    ASSERT_EQ(windows.front().sessions.size(), GetParam().frontTabs);
    EXPECT_EQ(windows.front().selected, GetParam().frontTabs - 1);
    EXPECT_EQ(windows.front().sessions.back().received, std::vector{kCommand + "\n"});
    // Nothing else received the command.
    for (std::size_t w = 0; w < windows.size(); ++w) {
        for (std::size_t t = 0; t < windows[w].sessions.size(); ++t) {
            if (w != 0 || t != GetParam().frontTabs - 1) {
                EXPECT_TRUE(windows[w].sessions[t].received.empty()) << w << "/" << t;
            }
        }
    }
}

const std::vector<std::string> kNotRunningCalls{
    "Bridge.terminal com.apple.Terminal", "Terminal.isRunning", "Terminal.activate",
    "Terminal.windowAtIndex 0", "Terminal.doScript " + kCommand + " in windows[0]"};

INSTANTIATE_TEST_SUITE_P(
    Opener, AppleTerminal,
    ::testing::Values(
        OpenCase{"NotRunningTabWantedUsesFirstWindow", false, false, kNotRunningCalls, 1, 1},
        OpenCase{"NotRunningWindowWantedUsesFirstWindow", false, true, kNotRunningCalls, 1, 1},
        OpenCase{"RunningWindowWanted",
                 true,
                 true,
                 {"Bridge.terminal com.apple.Terminal", "Terminal.isRunning", "Terminal.activate",
                  "Terminal.doScript " + kCommand + " in new window"},
                 2,
                 1},
        OpenCase{"RunningTabWantedLandsInTheNewTab",
                 true,
                 false,
                 {"Bridge.terminal com.apple.Terminal", "Terminal.isRunning", "Terminal.activate",
                  "Terminal.windowAtIndex 0", "SystemEvents.keystroke command-t in Terminal",
                  "sleep 250000us", "Terminal.doScript " + kCommand + " in windows[0]"},
                 1,
                 2}),
    CaseName());

TEST_F(TerminalFixture, RefusedKeystrokeOpensANewWindowAndLeavesTheFrontTabAlone) {
    platform.terminal.setRunning(true);
    platform.terminal.openWindow(2);
    platform.appleScript.setRefusesKeystrokes(true);
    terminals.openAppleTerminalWithCommand(kCommand, false);

    EXPECT_EQ(platform.clock.sleeps(), std::vector<std::chrono::microseconds>{250000us});
    EXPECT_EQ(platform.calls.matching({"Terminal.doScript"}),
              std::vector<std::string>{"Terminal.doScript " + kCommand + " in new window"});
    const auto& windows = platform.terminal.windows();
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].sessions.back().received, std::vector{kCommand + "\n"});
    EXPECT_TRUE(windows[1].sessions[1].received.empty());
}

struct KeystrokeCase {
    std::string name;
    bool (TerminalIdentifiers::*press)() const;
    std::string source;
    std::function<void(TestPlatform&)> breakKeystroke;
    bool pressed;
};

class Keystroke : public TerminalFixture, public ::testing::WithParamInterface<KeystrokeCase> {};

TEST_P(Keystroke, RunsTheExactScriptThenPausesWhateverHappened) {
    GetParam().breakKeystroke(platform);
    EXPECT_EQ((terminals.*GetParam().press)(), GetParam().pressed);
    EXPECT_EQ(platform.appleScript.sources(), std::vector{GetParam().source});
    EXPECT_EQ(platform.calls.matching({"sleep"}), std::vector<std::string>{"sleep 250000us"});
}

void leaveAlone(TestPlatform& p) {
    p.terminal.setRunning(true);
    p.iTerm.setRunning(true);
}
void refuse(TestPlatform& p) {
    p.appleScript.setRefusesKeystrokes(true);
}
void raise(TestPlatform& p) {
    p.calls.failOn("SystemEvents.keystroke", InjectedFailure::Platform);
}

INSTANTIATE_TEST_SUITE_P(
    NewTab, Keystroke,
    ::testing::Values(KeystrokeCase{"Terminal",
                                    &TerminalIdentifiers::emulateCMDTPressForAppleTerminal,
                                    kTerminalKeystroke, leaveAlone, true},
                      KeystrokeCase{"ITerm", &TerminalIdentifiers::emulateCMDTPressForIterm,
                                    kITermKeystroke, leaveAlone, true},
                      KeystrokeCase{"TerminalRefused",
                                    &TerminalIdentifiers::emulateCMDTPressForAppleTerminal,
                                    kTerminalKeystroke, refuse, false},
                      KeystrokeCase{"ITermRaising", &TerminalIdentifiers::emulateCMDTPressForIterm,
                                    kITermKeystroke, raise, false}),
    CaseName());

}  // namespace
}  // namespace quaymark
