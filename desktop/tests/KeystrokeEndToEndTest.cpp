// A click in tab mode on a desktop whose System Events refuses keystrokes, as a Mac does
// when the button program lacks the permission: the command must not land in the tab the
// user was typing in.
#include "EndToEndTest.h"
#include "TerminalIdentifiers.h"
#include "scripting/SystemEventsRunner.h"
#include "scripting/TerminalStandIn.h"
#include "scripting/TmuxApplication.h"

namespace quaymark {
namespace {

// Whether the tab's last line is the prompt followed by `line`, not yet sent.
bool endsWithUnsentLine(const TerminalTabState& tab, const std::string& line) {
    std::string_view screen = tab.screen;
    while (screen.ends_with('\n'))
        screen.remove_suffix(1);
    return screen.ends_with("$ " + line);
}

class RefusedKeystrokeTest : public EndToEndTest,
                             public ::testing::WithParamInterface<const char*> {};

TEST_P(RefusedKeystrokeTest, ANewWindowTakesTheCommandAndTheHalfTypedLineStaysAsItWas) {
    const std::string application = GetParam();
    const std::string identifier = *Desktop::bundleIdentifierForApplication(application);
    ASSERT_NO_FATAL_FAILURE(layOut());
    std::string folder = makeFolder("Projects/It's refused");
    ASSERT_TRUE(desktop->openFinderWindow(folder));
    ASSERT_NO_FATAL_FAILURE(startTerminal(application));
    // Text typed into this tab would complete the line and run it.
    const std::string halfTyped = "echo half-typed";
    TmuxApplication terminal(application, tmuxSocketPath(desktop->systemRoot(), identifier));
    terminal.type(*terminal.frontWindow(), halfTyped, LineEnd::None);
    ASSERT_TRUE(testing::waitUntil([&] {
        std::vector<TerminalWindowState> windows = windowsOf(identifier);
        return !windows.empty() && endsWithUnsentLine(windows[0].tabs[0], halfTyped);
    })) << describe(identifier);
    ASSERT_TRUE(SystemEventsRunner::setRefusesKeystrokes(desktop->systemRoot(), true));
    ASSERT_NO_FATAL_FAILURE(chooseTerminal(identifier, false));

    ASSERT_TRUE(click());

    ASSERT_TRUE(waitUntilShellIsIn(identifier, 0, folder));
    ASSERT_EQ(tabCounts(identifier), (std::vector<std::size_t>{1, 1})) << describe(identifier);
    const TerminalTabState before = windowsOf(identifier)[1].tabs[0];
    EXPECT_TRUE(before.shellDirectory == home() && endsWithUnsentLine(before, halfTyped) &&
                before.screen.find(folder) == std::string::npos)
        << describe(identifier);
}

INSTANTIATE_TEST_SUITE_P(ClassicVocabulary, RefusedKeystrokeTest,
                         ::testing::Values("Terminal", "iTerm"),
                         [](const auto& test) { return std::string(test.param); });

}  // namespace
}  // namespace quaymark
