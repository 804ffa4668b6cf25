#include "TerminalFixture.h"

namespace quaymark {
namespace {

const std::string kCommand = "cd /p; clear; pwd";

enum class Opener { ITerm, ITerm2 };

struct ClassicCase {
    std::string name;
    Opener opener;
    bool running;
    bool inNewWindow;
    std::vector<std::string> calls;  // of the application, System Events and the clock
    std::size_t windows;
    std::size_t frontSessions;  // the command lands in the front window's selected session
};

class Classic : public TerminalFixture, public ::testing::WithParamInterface<ClassicCase> {};

TEST_P(Classic, SendsItsCallsInOrderAndTheCommandLandsWhereExpected) {
    const ClassicCase& row = GetParam();
    ScriptedITerm& app = row.opener == Opener::ITerm ? platform.iTerm : platform.iTerm2;
    if (row.running) {
        app.setRunning(true);
        app.openWindow();
    }
    if (row.opener == Opener::ITerm) {
        terminals.openiTermWithCommand(kCommand, row.inNewWindow);
    } else {
        terminals.openiTerm2WithCommand(kCommand, row.inNewWindow);
    }
    std::string prefix = app.processName() + ".";
    EXPECT_EQ(platform.calls.matching({"Workspace.", "Bridge.", prefix, "SystemEvents", "sleep"}),
              row.calls);
    ASSERT_EQ(app.windows().size(), row.windows);
    const ScriptedWindow& front = app.windows().front();
    ASSERT_EQ(front.sessions.size(), row.frontSessions);
    EXPECT_EQ(front.sessions[front.selected].received, std::vector{kCommand + "\n"});
    EXPECT_TRUE(platform.log.lines().empty());
}

std::vector<std::string> classicCalls(const std::string& app, const std::string& identifier,
                                      std::vector<std::string> middle,
                                      const std::string& terminal) {
    std::vector<std::string> calls{"Workspace.runningApplications", "Bridge.iTerm " + identifier};
    if (app == "iTerm2")
        calls.push_back("iTerm2.respondsToTerminals");
    calls.push_back(app + ".activate");
    calls.insert(calls.end(), middle.begin(), middle.end());
    calls.push_back(app + ".currentSession of " + terminal);
    calls.push_back(app + ".writeContentsOfFile nil " + kCommand + " to currentSession of " +
                    terminal);
    return calls;
}

const std::string kITermId = "net.sourceforge.iTerm";
const std::string kITerm2Id = "com.googlecode.iterm2";

INSTANTIATE_TEST_SUITE_P(
    Openers, Classic,
    ::testing::Values(
        ClassicCase{"ITermNotRunningUsesItsFirstWindow", Opener::ITerm, false, false,
                    classicCalls("iTerm", kITermId, {"iTerm.currentTerminal"}, "currentTerminal"),
                    1, 1},
        ClassicCase{"ITermNewWindowLaunchesDefaultSession", Opener::ITerm, true, true,
                    classicCalls("iTerm", kITermId,
                                 {"iTerm.terminals", "iTerm.makeTerminal",
                                  "iTerm.addObject newTerminal#1 to terminals",
                                  "iTerm.launchSession Default Session in newTerminal#1"},
                                 "newTerminal#1"),
                    2, 1},
        ClassicCase{"ITermNewTabAsksCurrentTerminalAfterKeystrokeAndPause", Opener::ITerm, true,
                    false,
                    classicCalls("iTerm", kITermId,
                                 {"iTerm.terminals", "SystemEvents.keystroke command-t in iTerm",
                                  "sleep 250000us", "iTerm.currentTerminal"},
                                 "currentTerminal"),
                    1, 2},
        ClassicCase{
            "ITerm2ClassicNotRunning", Opener::ITerm2, false, true,
            classicCalls("iTerm2", kITerm2Id, {"iTerm2.currentTerminal"}, "currentTerminal"), 1, 1},
        ClassicCase{"ITerm2ClassicNewWindow", Opener::ITerm2, true, true,
                    classicCalls("iTerm2", kITerm2Id,
                                 {"iTerm2.terminals", "iTerm2.makeTerminal",
                                  "iTerm2.addObject newTerminal#1 to terminals",
                                  "iTerm2.launchSession Default Session in newTerminal#1"},
                                 "newTerminal#1"),
                    2, 1},
        // The keystroke goes to process "iTerm", which is not running here, so no tab opens in
        // iTerm2 and a new terminal takes the command instead of the current session.
        ClassicCase{"ITerm2ClassicNewTabPressesKeysInProcessITerm", Opener::ITerm2, true, false,
                    classicCalls("iTerm2", kITerm2Id,
                                 {"iTerm2.terminals", "SystemEvents.keystroke command-t in iTerm",
                                  "sleep 250000us", "iTerm2.makeTerminal",
                                  "iTerm2.addObject newTerminal#1 to terminals",
                                  "iTerm2.launchSession Default Session in newTerminal#1"},
                                 "newTerminal#1"),
                    2, 1}),
    CaseName());

TEST_F(TerminalFixture, ITermWithoutTerminalListMakesATerminalInsteadOfATab) {
    platform.iTerm.setRunning(true);
    platform.iTerm.openWindow();
    platform.iTerm.setGivesNoTerminalList(true);
    terminals.openiTermWithCommand(kCommand, false);
    EXPECT_TRUE(platform.calls.contains("iTerm.makeTerminal"));
    EXPECT_TRUE(platform.calls.contains("iTerm.launchSession Default Session in newTerminal#1"));
    EXPECT_TRUE(platform.calls.matching({"SystemEvents", "sleep"}).empty());
}

struct NextGenerationCase {
    std::string name;
    bool running;
    std::size_t openWindows;
    bool inNewWindow;
    bool sessionsTakeNewline;
    std::vector<std::string> middle;  // between activate and the session query
    std::size_t windows;
    std::size_t frontSessions;
};

class NextGeneration : public TerminalFixture,
                       public ::testing::WithParamInterface<NextGenerationCase> {};

TEST_P(NextGeneration, SendsItsCallsInOrderAndTheCommandLandsWhereExpected) {
    const NextGenerationCase& row = GetParam();
    platform.iTerm2.setVocabulary(ITermVocabulary::NextGeneration);
    platform.iTerm2.setSessionsRespondToWriteWithNewline(row.sessionsTakeNewline);
    platform.iTerm2.setRunning(row.running);
    for (std::size_t i = 0; i < row.openWindows; ++i)
        platform.iTerm2.openWindow();
    terminals.openiTerm2WithCommand(kCommand, row.inNewWindow);

    std::vector<std::string> expected{
        "Workspace.runningApplications", "Bridge.iTerm com.googlecode.iterm2",
        "iTerm2.respondsToTerminals",    "Bridge.iTerm com.googlecode.iterm2",
        "Workspace.runningApplications", "iTerm2.activate",
        "iTerm2.currentWindow"};
    expected.insert(expected.end(), row.middle.begin(), row.middle.end());
    for (const char* call : {"iTerm2.sessionRespondsToWriteWithNewline currentSession of "
                             "currentWindow",
                             "iTerm2.currentWindow", "iTerm2.currentSession of currentWindow"}) {
        expected.push_back(call);
    }
    expected.push_back("iTerm2.writeContentsOfFile nil " + kCommand +
                       (row.sessionsTakeNewline ? " newline:YES" : "") +
                       " to currentSession of currentWindow");
    EXPECT_EQ(
        platform.calls.matching({"Workspace.", "Bridge.", "iTerm2.", "SystemEvents", "sleep"}),
        expected);
    ASSERT_EQ(platform.iTerm2.windows().size(), row.windows);
    const ScriptedWindow& front = platform.iTerm2.windows().front();
    ASSERT_EQ(front.sessions.size(), row.frontSessions);
    EXPECT_EQ(front.selected, row.frontSessions - 1);
    EXPECT_EQ(front.sessions.back().received, std::vector{kCommand + "\n"});
}

const std::vector<std::string> kNotRunning{"iTerm2.currentSession of currentWindow"};
const std::vector<std::string> kCreatesTab{
    "iTerm2.get currentWindow", "iTerm2.currentWindow",
    "iTerm2.createTabWithDefaultProfile nil in currentWindow", "iTerm2.currentWindow",
    "iTerm2.currentSession of currentWindow"};
const std::vector<std::string> kCreatesWindow{
    "iTerm2.get currentWindow", "iTerm2.createWindowWithDefaultProfile nil", "iTerm2.currentWindow",
    "iTerm2.currentSession of currentWindow"};

INSTANTIATE_TEST_SUITE_P(
    Opener, NextGeneration,
    ::testing::Values(NextGenerationCase{"NotRunningUsesTheFirstWindow", false, 0, false, true,
                                         kNotRunning, 1, 1},
                      NextGenerationCase{"RunningTabWantedCreatesATab", true, 1, false, true,
                                         kCreatesTab, 1, 2},
                      NextGenerationCase{"RunningWithoutWindowCreatesAWindow", true, 0, false, true,
                                         kCreatesWindow, 1, 1},
                      NextGenerationCase{"RunningWindowWantedCreatesAWindowBesideTheOld", true, 1,
                                         true, true, kCreatesWindow, 2, 1},
                      NextGenerationCase{"SessionWithoutNewlineGetsThePlainWrite", true, 1, false,
                                         false, kCreatesTab, 1, 2}),
    CaseName());

}  // namespace
}  // namespace quaymark
