#include <functional>

#include "PlatformException.h"
#include "TerminalFixture.h"

namespace quaymark {
namespace {

const std::string kFolder = "/Users/tester/It's here";
const std::string kCommand = "cd /Users/tester/It\\'s\\ here; clear; pwd";

std::vector<std::string> everythingReceived(const std::vector<ScriptedWindow>& windows) {
    std::vector<std::string> received;
    for (const ScriptedWindow& window : windows) {
        for (const ScriptedSession& session : window.sessions) {
            received.insert(received.end(), session.received.begin(), session.received.end());
        }
    }
    return received;
}

class Dispatch : public TerminalFixture {
protected:
    void SetUp() override {
        platform.fileManager.addFolder(kFolder);
        platform.finder.openWindowAtPath(kFolder);
        platform.terminal.setRunning(true);
        platform.terminal.openWindow();
        for (ScriptedITerm* iTerm : {&platform.iTerm, &platform.iTerm2}) {
            iTerm->setRunning(true);
            iTerm->openWindow();
        }
    }
};

TEST(DispatchRouting, EachIdentifierReachesItsOwnTerminalOnly) {
    const std::vector<std::string> identifiers{"com.apple.Terminal", "net.sourceforge.iTerm",
                                               "com.googlecode.iterm2", "/usr/X11R6/bin/xterm"};
    for (std::size_t chosen = 0; chosen < identifiers.size(); ++chosen) {
        TestPlatform fresh;
        fresh.fileManager.addFolder(kFolder);
        fresh.finder.openWindowAtPath(kFolder);
        TerminalIdentifiers core(fresh.platform());
        core.openTerminalWithIdentifier(identifiers[chosen], true);

        std::vector<std::string> expected{kCommand + "\n"};
        auto expectedFor = [&](std::size_t index) {
            return index == chosen ? expected : std::vector<std::string>{};
        };
        SCOPED_TRACE(identifiers[chosen]);
        EXPECT_EQ(everythingReceived(fresh.terminal.windows()), expectedFor(0));
        EXPECT_EQ(everythingReceived(fresh.iTerm.windows()), expectedFor(1));
        EXPECT_EQ(everythingReceived(fresh.iTerm2.windows()), expectedFor(2));
        ASSERT_EQ(fresh.tasks.launches().size(), chosen == 3 ? 1u : 0u);
        // xterm starts in the folder as the file system names it, not in its escaped form.
        if (chosen == 3) {
            EXPECT_EQ(fresh.tasks.launches()[0].currentDirectory, kFolder);
        }
    }
}

TEST_F(Dispatch, UnknownIdentifierStillAsksFinderAndReadsTheTemplateThenStops) {
    platform.calls.clear();
    terminals.openTerminalWithIdentifier("com.apple.terminal", true);
    EXPECT_EQ(platform.calls.entries(),
              (std::vector<std::string>{
                  "Bridge.finder com.apple.Finder", "Finder.frontWindowTargetUrl",
                  "FileManager.resolveAliasFile " + kFolder,
                  "Preferences.copyAppValue com.brindlewood.Quaymark Terminal Command"}));
}

TEST_F(Dispatch, XtermGetsTheFolderTheEnvironmentAndOneWindowPerCall) {
    platform.tasks.setProcessEnvironment({{"HOME", "/Users/tester"}, {"LANG", "de_DE.UTF-8"}});
    terminals.openTerminalWithIdentifier("/usr/X11R6/bin/xterm", true);
    terminals.openTerminalWithIdentifier("/usr/X11R6/bin/xterm", false);
    ASSERT_EQ(platform.tasks.launches().size(), 2u);
    for (const TaskOptions& options : platform.tasks.launches()) {
        EXPECT_EQ(options.launchPath, "/usr/X11R6/bin/xterm");
        EXPECT_TRUE(options.arguments.empty());
        EXPECT_EQ(options.currentDirectory, kFolder);
        EXPECT_EQ(options.environment,
                  (Environment{{"HOME", "/Users/tester"}, {"LANG", "de_DE.UTF-8"}}));
        EXPECT_EQ(options.standardOutput, TaskStream::ToStandardOutput);
        EXPECT_EQ(options.standardError, TaskStream::ToStandardOutput);
    }
}

struct FallbackCase {
    std::string name;
    std::function<void(TestPlatform&)> breakFinder;
};

class DesktopFallback : public TerminalFixture,
                        public ::testing::WithParamInterface<FallbackCase> {};

TEST_P(DesktopFallback, OpensAtTheEscapedDesktop) {
    platform.fileManager.setHomeDirectory("/Users/José Q");
    GetParam().breakFinder(platform);
    terminals.openTerminalWithIdentifier("com.apple.Terminal", false);
    terminals.openTerminalWithIdentifier("/usr/X11R6/bin/xterm", false);

    EXPECT_EQ(everythingReceived(platform.terminal.windows()),
              std::vector<std::string>{"cd /Users/José\\ Q/Desktop; clear; pwd\n"});
    ASSERT_EQ(platform.tasks.launches().size(), 1u);
    EXPECT_EQ(platform.tasks.launches()[0].currentDirectory, "/Users/José Q/Desktop");
    EXPECT_TRUE(platform.log.lines().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Finder, DesktopFallback,
    ::testing::Values(FallbackCase{"NoWindow", [](TestPlatform&) {}},
                      FallbackCase{"MissingTargetUrl",
                                   [](TestPlatform& p) { p.finder.openWindow(std::nullopt); }},
                      FallbackCase{"UnparseableUrl",
                                   [](TestPlatform& p) { p.finder.openWindow("file:///%zz"); }},
                      FallbackCase{"FinderRaises",
                                   [](TestPlatform& p) {
                                       p.finder.openWindowAtPath("/");
                                       p.calls.failOn("Finder.frontWindowTargetUrl",
                                                      InjectedFailure::Platform);
                                   }}),
    CaseName());

TEST_F(Dispatch, FinderFailureThatIsNotThePlatformsPassesThrough) {
    platform.calls.failOn("Finder.frontWindowTargetUrl", InjectedFailure::RuntimeError);
    try {
        terminals.openTerminalWithIdentifier("com.apple.Terminal", true);
        FAIL() << "nothing was raised";
    } catch (const PlatformException&) {
        FAIL() << "the failure was turned into a platform exception";
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(platform.calls.contains("Bridge.terminal com.apple.Terminal"));
}

// Which opener contains which failure: a failure is injected into one call on the new-tab
// path, and the test checks that the call was reached and what came of it.
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

constexpr auto kClassic = ITermVocabulary::Classic;
constexpr auto kNext = ITermVocabulary::NextGeneration;
constexpr auto kPlatform = InjectedFailure::Platform;
constexpr auto kRuntime = InjectedFailure::RuntimeError;
constexpr auto kLogic = InjectedFailure::LogicError;
constexpr auto kContained = Outcome::Contained;
constexpr auto kPasses = Outcome::PassesThrough;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Openers, ExceptionTable, ::testing::Values(
    ExceptionCase{"AppleTerminalPlatform", "com.apple.Terminal", kClassic, "Terminal.doScript", kPlatform, kContained},
    ExceptionCase{"AppleTerminalLogic", "com.apple.Terminal", kClassic, "Terminal.activate", kLogic, kContained},
    ExceptionCase{"AppleTerminalRuntimeFromBridge", "com.apple.Terminal", kClassic, "Bridge.terminal", kRuntime, kContained},
    ExceptionCase{"AppleTerminalKeystrokeLogic", "com.apple.Terminal", kClassic, "SystemEvents.keystroke", kLogic, kContained},
    ExceptionCase{"ITermPlatformSilently", "net.sourceforge.iTerm", kClassic, "iTerm.writeContentsOfFile", kPlatform, kContained},
    ExceptionCase{"ITermRunningTestGuarded", "net.sourceforge.iTerm", kClassic, "Workspace.runningApplications", kPlatform, kContained},
    ExceptionCase{"ITermRuntimePasses", "net.sourceforge.iTerm", kClassic, "iTerm.currentTerminal", kRuntime, kPasses},
    ExceptionCase{"ITermLogicFromBridgePasses", "net.sourceforge.iTerm", kClassic, "Bridge.iTerm", kLogic, kPasses},
    ExceptionCase{"ITerm2ClassicPlatformLogged", "com.googlecode.iterm2", kClassic, "iTerm2.writeContentsOfFile", kPlatform, Outcome::Logged},
    ExceptionCase{"ITerm2ClassicLogicPasses", "com.googlecode.iterm2", kClassic, "iTerm2.terminals", kLogic, kPasses},
    ExceptionCase{"ITerm2RunningTestUnguarded", "com.googlecode.iterm2", kClassic, "Workspace.runningApplications", kPlatform, kPasses},
    ExceptionCase{"ITerm2VocabularyChoiceUnguarded", "com.googlecode.iterm2", kClassic, "iTerm2.respondsToTerminals", kPlatform, kPasses},
    ExceptionCase{"NextGenerationPlatformPasses", "com.googlecode.iterm2", kNext, "iTerm2.createTabWithDefaultProfile", kPlatform, kPasses},
    ExceptionCase{"NextGenerationRuntimePasses", "com.googlecode.iterm2", kNext, "iTerm2.writeContentsOfFile", kRuntime, kPasses},
    ExceptionCase{"XtermPlatformPasses", "/usr/X11R6/bin/xterm", kClassic, "Tasks.launch", kPlatform, kPasses}),
    CaseName());
// clang-format on

}  // namespace
}  // namespace quaymark
