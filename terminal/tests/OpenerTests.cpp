#include "TerminalFixture.h"

namespace quaymark {
namespace {

const std::string kCommand = "cd /p; clear; pwd";

enum class Opener { Terminal, ITerm, ITerm2Classic, ITerm2NextGeneration };
enum class Before { NotRunning, Running, RunningWithoutWindows };
enum class Quirk { None, KeystrokesRefused, KeystrokeRaises, NoNewlineWrite };

struct OpenerCase {
    std::string name;
    Opener opener;
    Before before;
    bool inNewWindow;
    Quirk quirk;
    std::string calls;              // "; " between the calls; C stands for the command
    std::vector<std::size_t> tabs;  // of each window, front first
};

std::vector<std::string> callList(const std::string& calls) {
    std::vector<std::string> list;
    for (std::size_t start = 0, end; start < calls.size(); start = end + 2) {
        end = std::min(calls.find("; ", start), calls.size());
        std::string call = calls.substr(start, end - start);
        if (std::size_t c = call.find(" C "); c != std::string::npos)
            call.replace(c + 1, 1, kCommand);
        list.push_back(call);
    }
    return list;
}

class Openers : public TerminalFixture, public ::testing::WithParamInterface<OpenerCase> {};

TEST_P(Openers, SendTheirCallsInOrderAndTheCommandLandsInTheFrontWindowsSelectedTabOnly) {
    const OpenerCase& c = GetParam();
    ScriptedApplication& application = c.opener == Opener::Terminal
                                           ? static_cast<ScriptedApplication&>(platform.terminal)
                                       : c.opener == Opener::ITerm ? platform.iTerm
                                                                   : platform.iTerm2;
    if (c.opener == Opener::ITerm2NextGeneration)
        platform.iTerm2.setVocabulary(ITermVocabulary::NextGeneration);
    platform.iTerm2.setSessionsRespondToWriteWithNewline(c.quirk != Quirk::NoNewlineWrite);
    platform.appleScript.setRefusesKeystrokes(c.quirk == Quirk::KeystrokesRefused);
    if (c.quirk == Quirk::KeystrokeRaises)
        platform.calls.failOn("SystemEvents.keystroke", InjectedFailure::Platform);
    application.setRunning(c.before != Before::NotRunning);
    if (c.before == Before::Running)
        application.openWindow();

    auto open = c.opener == Opener::Terminal ? &TerminalIdentifiers::openAppleTerminalWithCommand
                : c.opener == Opener::ITerm  ? &TerminalIdentifiers::openiTermWithCommand
                                             : &TerminalIdentifiers::openiTerm2WithCommand;
    (terminals.*open)(kCommand, c.inNewWindow);

    EXPECT_EQ(platform.calls.matching(
                  {"Bridge.", "Workspace.running", "Terminal.", "iTerm", "SystemEvents", "sleep"}),
              callList(c.calls));
    const std::vector<ScriptedWindow>& windows = application.windows();
    ASSERT_EQ(windows.size(), c.tabs.size());
    for (std::size_t w = 0; w < windows.size(); ++w) {
        ASSERT_EQ(windows[w].sessions.size(), c.tabs[w]) << "window " << w;
        for (std::size_t t = 0; t < windows[w].sessions.size(); ++t) {
            bool chosen = w == 0 && t + 1 == windows[0].sessions.size();
            EXPECT_EQ(windows[w].sessions[t].received,
                      chosen ? std::vector{kCommand + "\n"} : std::vector<std::string>{})
                << "window " << w << " tab " << t;
        }
    }
    EXPECT_TRUE(platform.log.lines().empty());
}

// The calls of each path; lines are left long so that each reads as one sequence. The
// stand-in System Events records a keystroke only for the exact script text, and answers
// with an error when the process does not run.
// clang-format off
const std::string kTerminal = "Bridge.terminal com.apple.Terminal; Terminal.isRunning; Terminal.activate; ";
const std::string kTerminalTab = kTerminal + "Terminal.windowAtIndex 0; SystemEvents.keystroke command-t in Terminal; sleep 250000us; ";
const std::string kITerm = "Workspace.runningApplications; Bridge.iTerm net.sourceforge.iTerm; iTerm.activate; ";
const std::string kITerm2 = "Workspace.runningApplications; Bridge.iTerm com.googlecode.iterm2; iTerm2.respondsToTerminals; iTerm2.activate; ";
const std::string kKeystroke = "SystemEvents.keystroke command-t in iTerm; sleep 250000us; ";
// A new terminal with the default session, which then takes the command.
std::string newTerminal(const std::string& app) {
    return app + ".makeTerminal; " + app + ".addObject newTerminal#1 to terminals; " + app + ".launchSession Default Session in newTerminal#1; " +
           app + ".currentSession of newTerminal#1; " + app + ".writeContentsOfFile nil C to currentSession of newTerminal#1";
}
std::string currentTerminal(const std::string& app) {
    return app + ".currentTerminal; " + app + ".currentSession of currentTerminal; " + app + ".writeContentsOfFile nil C to currentSession of currentTerminal";
}
const std::string kNext = "Workspace.runningApplications; Bridge.iTerm com.googlecode.iterm2; iTerm2.respondsToTerminals; "
                          "Bridge.iTerm com.googlecode.iterm2; Workspace.runningApplications; iTerm2.activate; iTerm2.currentWindow; ";
const std::string kNewTab = "iTerm2.get currentWindow; iTerm2.currentWindow; iTerm2.createTabWithDefaultProfile nil in currentWindow; ";
const std::string kNewWindow = "iTerm2.get currentWindow; iTerm2.createWindowWithDefaultProfile nil; ";
const std::string kNewSession = "iTerm2.currentWindow; iTerm2.currentSession of currentWindow; ";
const std::string kWrite = "iTerm2.sessionRespondsToWriteWithNewline currentSession of currentWindow; iTerm2.currentWindow; "
                           "iTerm2.currentSession of currentWindow; iTerm2.writeContentsOfFile nil C ";
const std::string kLine = kWrite + "newline:YES to currentSession of currentWindow";

using enum Opener;
using enum Before;
constexpr auto kNone = Quirk::None;

// Not running: the first window takes the command, whatever is asked, with nothing made and
// no keystroke. Running: a new window, or Command-T and a pause before the front window is
// named; when no tab came of the keystroke, a new window rather than the busy front tab.
// The keystroke of classic iTerm2 goes to process "iTerm", which does not run here.
INSTANTIATE_TEST_SUITE_P(EachPath, Openers, ::testing::Values(
    OpenerCase{"TerminalNotRunningTab", Terminal, NotRunning, false, kNone, kTerminal + "Terminal.windowAtIndex 0; Terminal.doScript C in windows[0]", {1}},
    OpenerCase{"TerminalNotRunningWindow", Terminal, NotRunning, true, kNone, kTerminal + "Terminal.windowAtIndex 0; Terminal.doScript C in windows[0]", {1}},
    OpenerCase{"TerminalRunningWindow", Terminal, Running, true, kNone, kTerminal + "Terminal.doScript C in new window", {1, 1}},
    OpenerCase{"TerminalRunningTab", Terminal, Running, false, kNone, kTerminalTab + "Terminal.doScript C in windows[0]", {2}},
    OpenerCase{"TerminalKeystrokeRefused", Terminal, Running, false, Quirk::KeystrokesRefused, kTerminalTab + "Terminal.doScript C in new window", {1, 1}},
    OpenerCase{"ITermNotRunningTab", ITerm, NotRunning, false, kNone, kITerm + currentTerminal("iTerm"), {1}},
    OpenerCase{"ITermRunningWindow", ITerm, Running, true, kNone, kITerm + "iTerm.terminals; " + newTerminal("iTerm"), {1, 1}},
    OpenerCase{"ITermRunningTab", ITerm, Running, false, kNone, kITerm + "iTerm.terminals; " + kKeystroke + currentTerminal("iTerm"), {2}},
    OpenerCase{"ITermKeystrokeRaises", ITerm, Running, false, Quirk::KeystrokeRaises, kITerm + "iTerm.terminals; " + kKeystroke + newTerminal("iTerm"), {1, 1}},
    OpenerCase{"ITerm2ClassicNotRunningWindow", ITerm2Classic, NotRunning, true, kNone, kITerm2 + currentTerminal("iTerm2"), {1}},
    OpenerCase{"ITerm2ClassicRunningWindow", ITerm2Classic, Running, true, kNone, kITerm2 + "iTerm2.terminals; " + newTerminal("iTerm2"), {1, 1}},
    OpenerCase{"ITerm2ClassicTabWithoutProcessITerm", ITerm2Classic, Running, false, kNone, kITerm2 + "iTerm2.terminals; " + kKeystroke + newTerminal("iTerm2"), {1, 1}},
    OpenerCase{"NextGenerationNotRunningTab", ITerm2NextGeneration, NotRunning, false, kNone, kNext + "iTerm2.currentSession of currentWindow; " + kLine, {1}},
    OpenerCase{"NextGenerationRunningTab", ITerm2NextGeneration, Running, false, kNone, kNext + kNewTab + kNewSession + kLine, {2}},
    OpenerCase{"NextGenerationWithoutWindowsTab", ITerm2NextGeneration, RunningWithoutWindows, false, kNone, kNext + kNewWindow + kNewSession + kLine, {1}},
    OpenerCase{"NextGenerationRunningWindow", ITerm2NextGeneration, Running, true, kNone, kNext + kNewWindow + kNewSession + kLine, {1, 1}},
    OpenerCase{"NextGenerationSessionWithoutNewline", ITerm2NextGeneration, Running, false, Quirk::NoNewlineWrite,
               kNext + kNewTab + kNewSession + kWrite + "to currentSession of currentWindow", {2}}),
    [](const auto& test) { return test.param.name; });
// clang-format on

// With no terminal list there is nothing to add a terminal to; the opener makes one and
// launches the session in it anyway, and never presses keys.
TEST_F(TerminalFixture, ITermWithoutTerminalListMakesATerminalInsteadOfATab) {
    platform.iTerm.setRunning(true);
    platform.iTerm.setGivesNoTerminalList(true);
    terminals.openiTermWithCommand(kCommand, false);
    EXPECT_EQ(platform.calls.matching({"iTerm.m", "iTerm.add", "iTerm.launch", "SystemEvents"}),
              (std::vector<std::string>{"iTerm.makeTerminal",
                                        "iTerm.launchSession Default Session in newTerminal#1"}));
}

}  // namespace
}  // namespace quaymark
