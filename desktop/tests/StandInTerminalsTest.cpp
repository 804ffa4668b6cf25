// The stand-in terminals driven through their scripting targets and System Events, each
// test on its own desktop (system root, home, tmux sockets) with real tmux servers and shells.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <sstream>
#include <thread>

#include "FinderWindows.h"
#include "HostTestSupport.h"
#include "HostWorkspace.h"
#include "PlatformException.h"
#include "PlistCodec.h"
#include "StandInBundles.h"
#include "SystemEventsRunner.h"
#include "TmuxInspection.h"
#include "TmuxScripting.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr const char* kTerminal = "com.apple.Terminal";
constexpr const char* kITerm = "net.sourceforge.iTerm";
constexpr const char* kITerm2 = "com.googlecode.iterm2";

std::string keystrokeScript(const std::string& process) {
    return "tell application \"System Events\" to tell process \"" + process +
           "\" to keystroke \"t\" using command down";
}

// A command whose output line, "mark:<name>", appears nowhere in the command itself.
std::string markCommand(const std::string& name) {
    return "printf 'mark:%s\\n' " + name;
}
std::string markLine(const std::string& name) {
    return "mark:" + name;
}

bool showsLine(const TerminalTabState& tab, const std::string& line) {
    std::istringstream lines(tab.screen);
    std::string each;
    while (std::getline(lines, each)) {
        if (each == line)
            return true;
    }
    return false;
}

// A word sh reads back as exactly `text`.
std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

bool zshInstalled() {
    return access("/usr/bin/zsh", X_OK) == 0 || access("/bin/zsh", X_OK) == 0;
}

class StandInTerminalsTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = directory.path() / "root";
        home = directory.path() / "home";
        fs::create_directories(root / "Applications");
        fs::create_directories(home);
        workspace.emplace(SystemRoot(root.string()), home.string());
        TmuxDesktop desktop{SystemRoot(root.string()), home.string(), *workspace};
        bridge.emplace(desktop, [this](const std::string&) -> std::unique_ptr<FinderScripting> {
            return std::make_unique<FinderStandInScripting>(
                *workspace, FinderWindowsFile::pathForHome(home.string()));
        });
        systemEvents.emplace(SystemRoot(root.string()), *workspace);
    }

    // Ends, by pid, every application this test started on its desktop.
    void TearDown() override {
        for (const RunningApplication& application : workspace->runningApplications()) {
            if (application.pid == getpid())
                continue;
            endProcess(application.pid, milliseconds(3000));
        }
    }

    void install(TerminalKind kind, const std::string& version, const std::string& shell = "bash") {
        ASSERT_EQ(layOutTerminalStandIn(SystemRoot(root.string()), kind, version, shell,
                                        QUAYMARK_STANDIN_PROGRAM),
                  std::nullopt);
    }

    std::vector<TerminalWindowState> windowsOf(const std::string& bundleIdentifier) {
        auto windows = inspectTerminal(SystemRoot(root.string()), bundleIdentifier);
        return windows ? *windows : std::vector<TerminalWindowState>{};
    }

    // Waits until tab `tab` of window `window` (0 is the front) shows `line`.
    bool waitForLine(const std::string& bundleIdentifier, std::size_t window, std::size_t tab,
                     const std::string& line) {
        return testing::waitUntil([&] {
            auto windows = windowsOf(bundleIdentifier);
            return window < windows.size() && tab < windows[window].tabs.size() &&
                   showsLine(windows[window].tabs[tab], line);
        });
    }

    // The window and tab counts, front window first: {1, 2} is a front window with one tab
    // and a back window with two.
    std::vector<std::size_t> tabCounts(const std::string& bundleIdentifier) {
        std::vector<std::size_t> counts;
        for (const auto& window : windowsOf(bundleIdentifier))
            counts.push_back(window.tabs.size());
        return counts;
    }

    std::optional<int> pidOf(const std::string& bundleIdentifier) {
        auto running = workspace->runningApplicationsWithBundleIdentifier(bundleIdentifier);
        if (running.empty())
            return std::nullopt;
        return running.front().pid;
    }

    testing::TemporaryDirectory directory;
    fs::path root, home;
    std::optional<HostWorkspace> workspace;
    std::optional<TmuxScriptingBridge> bridge;
    std::optional<SystemEventsRunner> systemEvents;
};

// ---- Starting each terminal ----

struct StandInCase {
    const char* name;
    TerminalKind kind;
    const char* version;
    const char* processName;
    TerminalVocabulary vocabulary;
};

void PrintTo(const StandInCase& standIn, std::ostream* out) {
    *out << standIn.name;
}

const StandInCase kStandIns[] = {
    {"Terminal", TerminalKind::AppleTerminal, "2.8", "Terminal", TerminalVocabulary::AppleTerminal},
    {"iTerm", TerminalKind::ITerm, "0.10", "iTerm", TerminalVocabulary::ITermClassic},
    {"iTerm2Classic", TerminalKind::ITerm2, "2.9.1", "iTerm", TerminalVocabulary::ITermClassic},
    {"iTerm2NextGeneration", TerminalKind::ITerm2, "3.4.0", "iTerm2",
     TerminalVocabulary::ITermNextGeneration},
};

class EachStandInTest : public StandInTerminalsTest,
                        public ::testing::WithParamInterface<StandInCase> {
protected:
    void activate() {
        std::string identifier = bundleIdentifierFor(GetParam().kind);
        if (GetParam().kind == TerminalKind::AppleTerminal) {
            bridge->terminal(identifier)->activate();
        } else {
            bridge->iTerm(identifier)->activate();
        }
    }
};

TEST_P(EachStandInTest, StartingItOpensOneWindowWithOneTabWhoseShellIsInHome) {
    install(GetParam().kind, GetParam().version);
    std::string identifier = bundleIdentifierFor(GetParam().kind);
    ASSERT_FALSE(pidOf(identifier));
    EXPECT_FALSE(inspectTerminal(SystemRoot(root.string()), identifier));

    activate();

    auto running = workspace->runningApplicationsWithBundleIdentifier(identifier);
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0].processName, GetParam().processName);
    EXPECT_EQ(workspace->registry().frontmost(), running[0].pid);
    EXPECT_EQ(tabCounts(identifier), (std::vector<std::size_t>{1}));
    EXPECT_TRUE(testing::waitUntil([&] {
        auto windows = windowsOf(identifier);
        return windows.size() == 1 && windows[0].tabs[0].shellDirectory == home.string();
    }));
    struct stat socketFolder {};
    ASSERT_EQ(stat((root / "private/var/run/quaymark/tmux").c_str(), &socketFolder), 0);
    EXPECT_EQ(socketFolder.st_mode & 0777, 0700u);

    // Activating it again while it runs opens nothing and starts nothing.
    activate();
    EXPECT_EQ(tabCounts(identifier), (std::vector<std::size_t>{1}));
    EXPECT_EQ(pidOf(identifier), running[0].pid);
}

TEST_P(EachStandInTest, EndingTheRegisteredPidEndsTheApplication) {
    install(GetParam().kind, GetParam().version);
    std::string identifier = bundleIdentifierFor(GetParam().kind);
    activate();
    std::optional<int> pid = pidOf(identifier);
    ASSERT_TRUE(pid);

    ASSERT_EQ(kill(*pid, SIGTERM), 0);

    EXPECT_TRUE(testing::waitUntil([&] { return !pidOf(identifier); }));
    EXPECT_FALSE(inspectTerminal(SystemRoot(root.string()), identifier));
    // Started again over the socket the ended server left behind, it opens one window.
    activate();
    EXPECT_NE(pidOf(identifier), pid);
    EXPECT_EQ(tabCounts(identifier), (std::vector<std::size_t>{1}));
}

INSTANTIATE_TEST_SUITE_P(StandIns, EachStandInTest, ::testing::ValuesIn(kStandIns),
                         [](const auto& test) { return std::string(test.param.name); });

// ---- Laying out bundles ----

TEST_F(StandInTerminalsTest, BundlesCarryTheirIdentityAndLaunchServicesFindThem) {
    const std::string shell = zshInstalled() ? "zsh" : "bash";
    for (const StandInCase& standIn : kStandIns) {
        SCOPED_TRACE(standIn.name);
        install(standIn.kind, standIn.version, shell);
        std::string identifier = bundleIdentifierFor(standIn.kind);
        EXPECT_EQ(workspace->absolutePathForAppBundleWithIdentifier(identifier),
                  terminalStandInPath(standIn.kind));
        fs::path bundle = root.string() + terminalStandInPath(standIn.kind);
        auto info = readPlistFile((bundle / "Contents/Info.plist").string());
        ASSERT_TRUE(info);
        const PlistDictionary& dictionary = *info->value.asDictionary();
        EXPECT_EQ(*dictionary.find("CFBundleIdentifier"), PlistValue(identifier));
        EXPECT_EQ(*dictionary.find("CFBundleExecutable"), PlistValue(standIn.processName));
        EXPECT_EQ(*dictionary.find("CFBundleShortVersionString"), PlistValue(standIn.version));
        EXPECT_EQ(*dictionary.find(kStandInRoleKey), PlistValue(standInRole(standIn.kind)));
        EXPECT_EQ(access((bundle / "Contents/MacOS" / standIn.processName).c_str(), X_OK), 0);
        std::optional<TerminalStandIn> read = readTerminalStandIn(bundle.string());
        ASSERT_TRUE(read);
        EXPECT_EQ(read->vocabulary(), standIn.vocabulary);
        std::string configuration = testing::readFile(bundle / "Contents/Resources/tmux.conf");
        EXPECT_NE(configuration.find(shell == "zsh" ? "zsh -f\"" : "bash --noprofile --norc\""),
                  std::string::npos)
            << configuration;
    }
}

TEST_F(StandInTerminalsTest, ITerm2VersionChoosesVocabularyByItsMajorNumber) {
    const std::pair<const char*, TerminalVocabulary> cases[] = {
        {"0.9", TerminalVocabulary::ITermClassic},
        {"2.9.20160206", TerminalVocabulary::ITermClassic},
        {"3.0", TerminalVocabulary::ITermNextGeneration},
        {"10.1", TerminalVocabulary::ITermNextGeneration},  // a number, not text, is compared
        {"", TerminalVocabulary::ITermNextGeneration},
    };
    for (const auto& [version, vocabulary] : cases) {
        SCOPED_TRACE(version);
        EXPECT_EQ(vocabularyFor(TerminalKind::ITerm2, version), vocabulary);
        EXPECT_EQ(processNameFor(TerminalKind::ITerm2, version),
                  vocabulary == TerminalVocabulary::ITermClassic ? "iTerm" : "iTerm2");
    }
}

TEST_F(StandInTerminalsTest, LayingOutRefusesAMissingShellAndADesktopWithoutSystemRoot) {
    EXPECT_TRUE(layOutTerminalStandIn(SystemRoot(root.string()), TerminalKind::AppleTerminal, "2.8",
                                      "no-such-shell", QUAYMARK_STANDIN_PROGRAM));
    EXPECT_TRUE(layOutTerminalStandIn(SystemRoot(""), TerminalKind::AppleTerminal, "2.8", "bash",
                                      QUAYMARK_STANDIN_PROGRAM));
    EXPECT_FALSE(fs::exists(root / "Applications/Utilities/Terminal.app/Contents/Info.plist"));
}

// ---- Terminal ----

TEST_F(StandInTerminalsTest, TerminalDoScriptWithoutWindowOpensANewFrontWindow) {
    install(TerminalKind::AppleTerminal, "2.8");
    auto terminal = bridge->terminal(kTerminal);
    terminal->activate();

    terminal->doScript(markCommand("new-window"), std::nullopt);

    ASSERT_TRUE(waitForLine(kTerminal, 0, 0, markLine("new-window")));
    EXPECT_EQ(tabCounts(kTerminal), (std::vector<std::size_t>{1, 1}));
    EXPECT_FALSE(showsLine(windowsOf(kTerminal)[1].tabs[0], markLine("new-window")));
    // windows[1] is now the window Terminal opened when it started.
    terminal->doScript(markCommand("back"), terminal->windowAtIndex(1));
    ASSERT_TRUE(waitForLine(kTerminal, 1, 0, markLine("back")));
    EXPECT_FALSE(showsLine(windowsOf(kTerminal)[0].tabs[0], markLine("back")));
}

TEST_F(StandInTerminalsTest, WindowReferenceTakenBeforeKeystrokeReachesTheNewTabOfTheFrontWindow) {
    install(TerminalKind::AppleTerminal, "2.8");
    auto terminal = bridge->terminal(kTerminal);
    terminal->activate();
    ObjectSpecifier first = terminal->windowAtIndex(0);
    // Another window comes to the front after the reference was taken.
    terminal->doScript(markCommand("second-window"), std::nullopt);
    ASSERT_TRUE(waitForLine(kTerminal, 0, 0, markLine("second-window")));

    EXPECT_EQ(systemEvents->executeScript(keystrokeScript("Terminal")), std::nullopt);
    terminal->doScript(markCommand("in-new-tab"), first);

    ASSERT_TRUE(waitForLine(kTerminal, 0, 1, markLine("in-new-tab")));
    auto windows = windowsOf(kTerminal);
    EXPECT_EQ(tabCounts(kTerminal), (std::vector<std::size_t>{2, 1}));
    EXPECT_EQ(windows[0].selectedTab, 1u);
    EXPECT_FALSE(showsLine(windows[0].tabs[0], markLine("in-new-tab")));
    EXPECT_FALSE(showsLine(windows[1].tabs[0], markLine("in-new-tab")));
}

TEST_F(StandInTerminalsTest, ALineLongerThanOneTmuxMessageOpensItsWindowAndArrivesWhole) {
    install(TerminalKind::AppleTerminal, "2.8");
    auto terminal = bridge->terminal(kTerminal);
    terminal->activate();
    std::string word;
    while (word.size() < 2 * TmuxApplication::kMaximumTypedBytes)
        word += "long中";

    terminal->doScript(
        "printf '%s' " + word + " > \"$HOME/long.tmp\" && mv \"$HOME/long.tmp\" \"$HOME/long.txt\"",
        std::nullopt);

    ASSERT_TRUE(testing::waitUntil([&] { return fs::exists(home / "long.txt"); }));
    EXPECT_EQ(testing::readFile(home / "long.txt"), word);
    EXPECT_EQ(tabCounts(kTerminal), (std::vector<std::size_t>{1, 1}));
}

TEST_F(StandInTerminalsTest, TerminalCommandsFailWithAReasonWhenNothingAnswersOrNothingIsNamed) {
    install(TerminalKind::AppleTerminal, "2.8");
    auto terminal = bridge->terminal(kTerminal);
    EXPECT_FALSE(terminal->isRunning());
    try {
        terminal->doScript("true", std::nullopt);
        ADD_FAILURE() << "doScript succeeded with Terminal not running";
    } catch (const PlatformException& exception) {
        EXPECT_NE(exception.reason().find("not running"), std::string::npos) << exception.reason();
    }
    EXPECT_FALSE(terminal->isRunning());

    terminal->activate();
    EXPECT_TRUE(terminal->isRunning());
    for (const ObjectSpecifier& reference :
         {terminal->windowAtIndex(1), ObjectSpecifier({"tabs[0]"}),
          terminal->windowAtIndex(0).child("selectedTab")}) {
        SCOPED_TRACE(reference.description());
        try {
            terminal->doScript("true", reference);
            ADD_FAILURE() << "doScript reached " << reference.description();
        } catch (const PlatformException& exception) {
            EXPECT_NE(exception.reason().find("Can't get " + reference.description()),
                      std::string::npos)
                << exception.reason();
        }
    }
    EXPECT_EQ(tabCounts(kTerminal), (std::vector<std::size_t>{1}));
}

// ---- iTerm classic vocabulary (iTerm, and iTerm2 before 3) ----

class ClassicITermTest : public StandInTerminalsTest,
                         public ::testing::WithParamInterface<StandInCase> {
protected:
    void SetUp() override {
        StandInTerminalsTest::SetUp();
        install(GetParam().kind, GetParam().version);
        identifier = bundleIdentifierFor(GetParam().kind);
        iTerm = bridge->iTerm(identifier);
    }

    std::string identifier;
    std::unique_ptr<ITermScripting> iTerm;
};

TEST_P(ClassicITermTest, NewTerminalWithDefaultSessionReceivesTheLine) {
    EXPECT_TRUE(iTerm->respondsToTerminals());
    iTerm->activate();
    std::optional<ObjectSpecifier> terminals = iTerm->terminals();
    ASSERT_TRUE(terminals);
    ObjectSpecifier made = iTerm->makeTerminal();
    iTerm->addObject(*terminals, made);
    iTerm->launchSession(made, "Default Session");

    iTerm->writeContentsOfFile(iTerm->currentSession(made), std::nullopt, markCommand("made"));

    ASSERT_TRUE(waitForLine(identifier, 0, 0, markLine("made")));
    EXPECT_EQ(tabCounts(identifier), (std::vector<std::size_t>{1, 1}));
    // Launching again in the same terminal opens a second session there, now its current.
    iTerm->launchSession(made, "Default Session");
    iTerm->writeContentsOfFile(iTerm->currentSession(made), std::nullopt, markCommand("again"));
    ASSERT_TRUE(waitForLine(identifier, 0, 1, markLine("again")));
    EXPECT_EQ(tabCounts(identifier), (std::vector<std::size_t>{2, 1}));
}

TEST_P(ClassicITermTest, CurrentTerminalAfterKeystrokeWritesIntoTheNewTab) {
    iTerm->activate();
    EXPECT_EQ(systemEvents->executeScript(keystrokeScript(GetParam().processName)), std::nullopt);

    iTerm->writeContentsOfFile(iTerm->currentSession(iTerm->currentTerminal()), std::nullopt,
                               markCommand("current"));

    ASSERT_TRUE(waitForLine(identifier, 0, 1, markLine("current")));
    EXPECT_EQ(tabCounts(identifier), (std::vector<std::size_t>{2}));
    EXPECT_EQ(windowsOf(identifier)[0].selectedTab, 1u);
    EXPECT_FALSE(showsLine(windowsOf(identifier)[0].tabs[0], markLine("current")));
}

TEST_P(ClassicITermTest, ClassicCommandsRefuseWhatTheApplicationCannotDo) {
    EXPECT_FALSE(
        iTerm->sessionRespondsToWriteWithNewline(iTerm->currentSession(iTerm->currentTerminal())));
    EXPECT_THROW(iTerm->currentWindow(), PlatformException);
    iTerm->activate();
    ObjectSpecifier made = iTerm->makeTerminal();
    // Not yet part of the application, then without a session.
    EXPECT_THROW(iTerm->launchSession(made, "Default Session"), PlatformException);
    iTerm->addObject(*iTerm->terminals(), made);
    EXPECT_THROW(iTerm->addObject(*iTerm->terminals(), made), PlatformException);
    EXPECT_THROW(iTerm->writeContentsOfFile(iTerm->currentSession(made), std::nullopt, "true"),
                 PlatformException);
    EXPECT_THROW(iTerm->launchSession(made, "Another Profile"), PlatformException);
    EXPECT_THROW(iTerm->writeContentsOfFile(iTerm->currentSession(iTerm->currentTerminal()),
                                            std::string("/etc/hostname"), "true"),
                 PlatformException);
    EXPECT_EQ(tabCounts(identifier), (std::vector<std::size_t>{1, 1}));
}

INSTANTIATE_TEST_SUITE_P(Classic, ClassicITermTest, ::testing::Values(kStandIns[1], kStandIns[2]),
                         [](const auto& test) { return std::string(test.param.name); });

// ---- iTerm2 next-generation vocabulary ----

class NextGenerationITerm2Test : public StandInTerminalsTest {
protected:
    void SetUp() override {
        StandInTerminalsTest::SetUp();
        install(TerminalKind::ITerm2, "3.4.0");
        iTerm2 = bridge->iTerm(kITerm2);
    }

    ObjectSpecifier currentSession() { return iTerm2->currentSession(iTerm2->currentWindow()); }

    std::unique_ptr<ITermScripting> iTerm2;
};

TEST_F(NextGenerationITerm2Test, RunningWithoutWindowItHasNoCurrentWindowUntilOneIsCreated) {
    EXPECT_FALSE(iTerm2->respondsToTerminals());
    EXPECT_THROW(iTerm2->terminals(), PlatformException);
    iTerm2->activate();
    iTerm2->writeContentsOfFile(currentSession(), std::nullopt, "exit", true);
    ASSERT_TRUE(testing::waitUntil([&] { return windowsOf(kITerm2).empty(); }));
    EXPECT_TRUE(pidOf(kITerm2));

    EXPECT_FALSE(iTerm2->get(iTerm2->currentWindow()));
    EXPECT_THROW(iTerm2->createTabWithDefaultProfile(iTerm2->currentWindow(), std::nullopt),
                 PlatformException);
    iTerm2->createWindowWithDefaultProfile(std::nullopt);
    EXPECT_TRUE(iTerm2->get(iTerm2->currentWindow()));
    iTerm2->createTabWithDefaultProfile(iTerm2->currentWindow(), std::nullopt);

    EXPECT_TRUE(iTerm2->sessionRespondsToWriteWithNewline(currentSession()));
    iTerm2->writeContentsOfFile(currentSession(), std::nullopt, markCommand("tab"), true);
    ASSERT_TRUE(waitForLine(kITerm2, 0, 1, markLine("tab")));
    EXPECT_EQ(tabCounts(kITerm2), (std::vector<std::size_t>{2}));
    EXPECT_EQ(windowsOf(kITerm2)[0].selectedTab, 1u);
}

TEST_F(NextGenerationITerm2Test, CreatedWindowComesToTheFrontAndCommandsTypedThereRun) {
    iTerm2->activate();
    iTerm2->createWindowWithDefaultProfile(std::nullopt);
    iTerm2->writeContentsOfFile(currentSession(), std::nullopt, markCommand("front"), true);
    ASSERT_TRUE(waitForLine(kITerm2, 0, 0, markLine("front")));
    EXPECT_EQ(tabCounts(kITerm2), (std::vector<std::size_t>{1, 1}));
    EXPECT_FALSE(showsLine(windowsOf(kITerm2)[1].tabs[0], markLine("front")));
}

TEST_F(NextGenerationITerm2Test, WithoutNewlineTheTextWaitsOnThePromptLine) {
    iTerm2->activate();
    // Text typed before the shell shows its prompt is echoed twice, once by the terminal and
    // once by the line editor; the prompt line is looked at only once the shell reads.
    ASSERT_TRUE(waitForLine(kITerm2, 0, 0, "$"));
    iTerm2->writeContentsOfFile(currentSession(), std::nullopt, markCommand("later"), false);
    ASSERT_TRUE(waitForLine(kITerm2, 0, 0, "$ " + markCommand("later")));
    // Give a shell that wrongly got a line end the time to run it.
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_FALSE(showsLine(windowsOf(kITerm2)[0].tabs[0], markLine("later")));

    iTerm2->writeContentsOfFile(currentSession(), std::nullopt, "", true);
    EXPECT_TRUE(waitForLine(kITerm2, 0, 0, markLine("later")));
}

// ---- What the shells receive, in bash and zsh ----

class ShellTest : public StandInTerminalsTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        StandInTerminalsTest::SetUp();
        if (std::string(GetParam()) == "zsh" && !zshInstalled())
            GTEST_SKIP() << "zsh is not installed";
        install(TerminalKind::ITerm2, "3.4.0", GetParam());
        iTerm2 = bridge->iTerm(kITerm2);
        iTerm2->activate();
    }

    void write(const std::string& text, bool newline = true) {
        iTerm2->writeContentsOfFile(iTerm2->currentSession(iTerm2->currentWindow()), std::nullopt,
                                    text, newline);
    }

    std::unique_ptr<ITermScripting> iTerm2;
};

TEST_P(ShellTest, TypedTextArrivesLiterally) {
    std::string longText;
    for (int i = 0; longText.size() < 3 * TmuxApplication::kMaximumTypedBytes; ++i) {
        longText += "é中" + std::to_string(i) + ";";
    }
    const std::vector<std::string> texts = {
        "$(touch injected) `touch injected` $HOME ~",
        "Enter",
        "C-c",
        "-l -- Escape",
        "ends with a semicolon;",
        "ends with an escaped one\\;",
        ";",
        "'single' \"double\" \\backslash",
        "#{session_id} %% {end}",
        "tab\there 中文 😀",
        longText,
    };
    // Each line the shell reads goes, unchanged, into its own file. -icanon lifts the tty's
    // 4096-byte line limit.
    write(
        "stty -icanon; printf 'rea%s\\n' dy; n=0; while IFS= read -r typed; do n=$((n+1)); "
        "printf '%s' \"$typed\" > \"$HOME/typed.tmp\" && mv \"$HOME/typed.tmp\" "
        "\"$HOME/typed-$n.txt\"; done");
    ASSERT_TRUE(waitForLine(kITerm2, 0, 0, "ready"));

    for (const std::string& text : texts)
        write(text);

    for (std::size_t i = 0; i < texts.size(); ++i) {
        fs::path typed = home / ("typed-" + std::to_string(i + 1) + ".txt");
        ASSERT_TRUE(testing::waitUntil([&] { return fs::exists(typed); })) << texts[i];
        EXPECT_EQ(testing::readFile(typed), texts[i]);
    }
    EXPECT_FALSE(fs::exists(home / "injected"));
}

TEST_P(ShellTest, ScreenShowsWherePwdFindsTheShellAfterCd) {
    fs::path folder = home / "a folder with 'quotes' \"both\" $(x) 中文";
    fs::create_directories(folder);

    write("cd " + shellQuoted(folder.string()) + " && pwd");

    EXPECT_TRUE(waitForLine(kITerm2, 0, 0, folder.string()));
    EXPECT_EQ(windowsOf(kITerm2)[0].tabs[0].shellDirectory, folder.string());
}

INSTANTIATE_TEST_SUITE_P(Shells, ShellTest, ::testing::Values("bash", "zsh"));

// ---- System Events ----

TEST_F(StandInTerminalsTest, SystemEventsRefusesOtherScriptsAndProcessesThatAreNoRunningTerminal) {
    install(TerminalKind::AppleTerminal, "2.8");
    install(TerminalKind::ITerm, "0.10");
    bridge->terminal(kTerminal)->activate();
    // A running application that is no terminal.
    ASSERT_TRUE(workspace->registry().add({getpid(), "com.example.other", "Other"}));

    const std::string refused[] = {
        "",
        "tell application \"System Events\" to tell process \"Terminal\" to keystroke \"n\" using "
        "command down",
        "tell application \"Finder\" to tell process \"Terminal\" to keystroke \"t\" using command "
        "down",
        keystrokeScript("Terminal") + "\n",
        keystrokeScript("Ter\"minal"),
        keystrokeScript(""),
        keystrokeScript("terminal"),  // process names are compared exactly
        keystrokeScript("iTerm"),     // installed, not running
        keystrokeScript("Nobody"),
        keystrokeScript("Other"),
    };
    for (const std::string& script : refused) {
        SCOPED_TRACE(script);
        std::optional<std::string> failure = systemEvents->executeScript(script);
        ASSERT_TRUE(failure);
        EXPECT_FALSE(failure->empty());
    }
    EXPECT_EQ(tabCounts(kTerminal), (std::vector<std::size_t>{1}));

    EXPECT_EQ(systemEvents->executeScript(keystrokeScript("Terminal")), std::nullopt);
    EXPECT_EQ(tabCounts(kTerminal), (std::vector<std::size_t>{2}));
}

TEST_F(StandInTerminalsTest, SystemEventsOpensAWindowInATerminalThatHasNone) {
    install(TerminalKind::ITerm2, "3.4.0");
    auto iTerm2 = bridge->iTerm(kITerm2);
    iTerm2->activate();
    iTerm2->writeContentsOfFile(iTerm2->currentSession(iTerm2->currentWindow()), std::nullopt,
                                "exit", true);
    ASSERT_TRUE(testing::waitUntil([&] { return windowsOf(kITerm2).empty(); }));

    EXPECT_EQ(systemEvents->executeScript(keystrokeScript("iTerm2")), std::nullopt);

    EXPECT_EQ(tabCounts(kITerm2), (std::vector<std::size_t>{1}));
}

// ---- Typing in parts ----

TEST(SplitForTypingTest, PartsStayWithinTheLimitAndNeverCutACharacter) {
    std::seed_seq seed{20240611};
    std::mt19937 random(seed);
    const std::string pieces[] = {"a", "é", "中", "😀", ";", "\\"};
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        std::size_t length = random() % 60;
        for (std::size_t i = 0; i < length; ++i)
            text += pieces[random() % std::size(pieces)];
        std::size_t limit = 4 + random() % 12;
        std::vector<std::string> parts = splitForTyping(text, limit);
        std::string joined;
        for (const std::string& part : parts) {
            EXPECT_LE(part.size(), limit) << "round " << round;
            if (!part.empty()) {
                EXPECT_NE(static_cast<unsigned char>(part[0]) & 0xC0, 0x80) << "round " << round;
            }
            joined += part;
        }
        ASSERT_EQ(joined, text) << "round " << round;
    }
}

}  // namespace
}  // namespace quaymark
