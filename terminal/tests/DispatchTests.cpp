#include "PlatformException.h"
#include "TerminalFixture.h"

namespace quaymark {
namespace {

using namespace terminal_identifier;

const std::string kFolder = "/Users/tester/It's here";
const std::string kCommand = "cd /Users/tester/It\\'s\\ here; clear; pwd";

class Dispatch : public TerminalFixture {
protected:
    void SetUp() override {
        platform.fileManager.addFolder(kFolder);
        platform.finder.openWindowAtPath(kFolder);
    }
};

TEST_F(Dispatch, AsksFinderAndTheTemplateThenHandsTheEscapedCommandToTheChosenOpenerOnly) {
    terminals.openTerminalWithIdentifier("com.apple.terminal", true);  // no such terminal
    EXPECT_EQ(platform.calls.entries(),
              (std::vector<std::string>{
                  "Bridge.finder com.apple.Finder", "Finder.frontWindowTargetUrl",
                  "FileManager.resolveAliasFile " + kFolder,
                  "Preferences.copyAppValue com.brindlewood.Quaymark Terminal Command"}));
    terminals.openTerminalWithIdentifier(kAppleTerminal, true);
    EXPECT_EQ(platform.terminal.windows().at(0).sessions.at(0).received,
              std::vector{kCommand + "\n"});
}

// xterm starts in the folder as the file system names it, never in its escaped form.
TEST_F(Dispatch, XtermGetsTheFolderTheEnvironmentAndOneWindowPerCall) {
    platform.tasks.setProcessEnvironment({{"HOME", "/Users/tester"}, {"LANG", "de_DE.UTF-8"}});
    terminals.openTerminalWithIdentifier(kXterm, true);
    terminals.openTerminalWithIdentifier(kXterm, false);
    ASSERT_EQ(platform.tasks.launches().size(), 2u);
    for (const TaskOptions& options : platform.tasks.launches()) {
        EXPECT_EQ(options.launchPath, kXterm);
        EXPECT_TRUE(options.arguments.empty());
        EXPECT_EQ(options.currentDirectory, kFolder);
        EXPECT_EQ(options.environment,
                  (Environment{{"HOME", "/Users/tester"}, {"LANG", "de_DE.UTF-8"}}));
        EXPECT_EQ(options.standardOutput, TaskStream::ToStandardOutput);
        EXPECT_EQ(options.standardError, TaskStream::ToStandardOutput);
    }
}

// Which opener contains which failure: a failure is injected into one call on the new-tab
// path of running terminals, and the test checks that the call was reached and what came
// of it.
enum class Outcome { Contained, Logged, PassesThrough };

struct ExceptionCase {
    std::string name;
    std::string identifier;
    ITermVocabulary iTerm2Vocabulary;
    std::string failingCall;
    InjectedFailure failure;
    Outcome outcome;
};

class ExceptionTable : public Dispatch, public ::testing::WithParamInterface<ExceptionCase> {};

TEST_P(ExceptionTable, ContainsOrLetsThroughAsTheOpenerShould) {
    const ExceptionCase& row = GetParam();
    for (ScriptedApplication* application : std::initializer_list<ScriptedApplication*>{
             &platform.terminal, &platform.iTerm, &platform.iTerm2}) {
        application->setRunning(true);
        application->openWindow();
    }
    platform.iTerm2.setVocabulary(row.iTerm2Vocabulary);
    platform.calls.failOn(row.failingCall, row.failure);

    std::optional<InjectedFailure> raised;
    try {
        terminals.openTerminalWithIdentifier(row.identifier, false);
    } catch (const PlatformException&) {
        raised = InjectedFailure::Platform;
    } catch (const std::runtime_error&) {
        raised = InjectedFailure::RuntimeError;
    } catch (const std::logic_error&) {
        raised = InjectedFailure::LogicError;
    }
    EXPECT_FALSE(platform.calls.matching({row.failingCall}).empty()) << "never reached";
    bool passes = row.outcome == Outcome::PassesThrough;
    EXPECT_EQ(raised, passes ? std::optional(row.failure) : std::nullopt);
    std::vector<std::string> logged;
    if (row.outcome == Outcome::Logged)
        logged.push_back("InjectedFailure: " + row.failingCall + " failed");
    EXPECT_EQ(platform.log.lines(), logged);
}

using enum ITermVocabulary;
using enum InjectedFailure;
using enum Outcome;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Openers, ExceptionTable, ::testing::Values(
    ExceptionCase{"FinderRuntimePasses", kAppleTerminal, Classic, "Finder.frontWindowTargetUrl", RuntimeError, PassesThrough},
    ExceptionCase{"AppleTerminalPlatform", kAppleTerminal, Classic, "Terminal.doScript", Platform, Contained},
    ExceptionCase{"AppleTerminalRuntimeFromBridge", kAppleTerminal, Classic, "Bridge.terminal", RuntimeError, Contained},
    ExceptionCase{"AppleTerminalKeystrokeLogic", kAppleTerminal, Classic, "SystemEvents.keystroke", LogicError, Contained},
    ExceptionCase{"ITermPlatformSilently", kITerm, Classic, "iTerm.writeContentsOfFile", Platform, Contained},
    ExceptionCase{"ITermRunningTestGuarded", kITerm, Classic, "Workspace.runningApplications", Platform, Contained},
    ExceptionCase{"ITermRuntimePasses", kITerm, Classic, "iTerm.currentTerminal", RuntimeError, PassesThrough},
    ExceptionCase{"ITermLogicFromBridgePasses", kITerm, Classic, "Bridge.iTerm", LogicError, PassesThrough},
    ExceptionCase{"ITerm2ClassicPlatformLogged", kITerm2, Classic, "iTerm2.writeContentsOfFile", Platform, Logged},
    ExceptionCase{"ITerm2ClassicLogicPasses", kITerm2, Classic, "iTerm2.terminals", LogicError, PassesThrough},
    ExceptionCase{"ITerm2RunningTestUnguarded", kITerm2, Classic, "Workspace.runningApplications", Platform, PassesThrough},
    ExceptionCase{"ITerm2VocabularyChoiceUnguarded", kITerm2, Classic, "iTerm2.respondsToTerminals", Platform, PassesThrough},
    ExceptionCase{"NextGenerationPlatformPasses", kITerm2, NextGeneration, "iTerm2.createTabWithDefaultProfile", Platform, PassesThrough},
    ExceptionCase{"NextGenerationRuntimePasses", kITerm2, NextGeneration, "iTerm2.writeContentsOfFile", RuntimeError, PassesThrough},
    ExceptionCase{"XtermPlatformPasses", kXterm, Classic, "Tasks.launch", Platform, PassesThrough}),
    [](const auto& test) { return test.param.name; });
// clang-format on

}  // namespace
}  // namespace quaymark
