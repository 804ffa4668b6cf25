// A click in tab mode on a desktop whose System Events refuses keystrokes, as a Mac does
// when the button program lacks the permission: the command must not land in the tab the
// user was typing in.
#include "EndToEndTest.h"
#include "SystemEventsRunner.h"
#include "TerminalIdentifiers.h"
#include "TerminalStandIn.h"
#include "TmuxApplication.h"

namespace quaymark {
namespace {

// Whether the tab's last line is the prompt followed by `line`, not yet sent.
bool endsWithUnsentLine(const TerminalTabState& tab, const std::string& line) {
    std::string_view screen = tab.screen;
    while (screen.ends_with('\n'))
        screen.remove_suffix(1);
    return screen.ends_with("$ " + line);
}

struct RefusedCase {
    const char* application;  // as Desktop::startApplication names it
    const char* identifier;
};

class RefusedKeystrokeTest : public EndToEndTest,
                             public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedKeystrokeTest, ANewWindowTakesTheCommandAndTheHalfTypedLineStaysAsItWas) {
    const RefusedCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(layOut());
    std::string folder = makeFolder("Projects/It's refused");
    ASSERT_TRUE(desktop->openFinderWindow(folder));
    ASSERT_NO_FATAL_FAILURE(startTerminal(c.application));
    // A line the user has begun and not yet sent: text typed into this tab would complete
    // it and run it.
    const std::string halfTyped = "echo half-typed";
    TmuxApplication terminal(c.application, tmuxSocketPath(desktop->systemRoot(), c.identifier));
    terminal.type(*terminal.frontWindow(), halfTyped, LineEnd::None);
    ASSERT_TRUE(testing::waitUntil([&] {
        std::vector<TerminalWindowState> windows = windowsOf(c.identifier);
        return !windows.empty() && endsWithUnsentLine(windows[0].tabs[0], halfTyped);
    })) << describe(c.identifier);
    ASSERT_TRUE(SystemEventsRunner::setRefusesKeystrokes(desktop->systemRoot(), true));
    ASSERT_NO_FATAL_FAILURE(chooseTerminal(c.identifier, false));

    ASSERT_TRUE(click());

    ASSERT_TRUE(waitUntilShellIsIn(c.identifier, 0, folder));
    EXPECT_EQ(tabCounts(c.identifier), (std::vector<std::size_t>{1, 1})) << describe(c.identifier);
    std::vector<TerminalWindowState> windows = windowsOf(c.identifier);
    ASSERT_EQ(windows.size(), 2u);
    const TerminalTabState& before = windows[1].tabs[0];
    EXPECT_EQ(before.shellDirectory, home()) << describe(c.identifier);
    EXPECT_TRUE(endsWithUnsentLine(before, halfTyped)) << describe(c.identifier);
    EXPECT_EQ(before.screen.find(folder), std::string::npos) << describe(c.identifier);
}

INSTANTIATE_TEST_SUITE_P(ClassicVocabulary, RefusedKeystrokeTest,
                         ::testing::Values(RefusedCase{"Terminal",
                                                       terminal_identifier::kAppleTerminal},
                                           RefusedCase{"iTerm", terminal_identifier::kITerm}),
                         [](const ::testing::TestParamInfo<RefusedCase>& test) {
                             return std::string(test.param.application);
                         });

}  // namespace
}  // namespace quaymark
