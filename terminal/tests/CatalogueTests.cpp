#include <set>

#include "TerminalFixture.h"

namespace quaymark {
namespace {

struct DetectionCase {
    std::string name;
    std::set<std::string> installedBundles;
    bool xtermFile;
    std::vector<std::string> expected;
};

class Detection : public TerminalFixture, public ::testing::WithParamInterface<DetectionCase> {};

TEST_P(Detection, ListsInstalledTerminalsInDetectionOrder) {
    for (const std::string& bundle : GetParam().installedBundles) {
        platform.workspace.installApplication(bundle, "/Applications/" + bundle + ".app");
    }
    // Even a file that is not executable counts.
    if (GetParam().xtermFile)
        platform.fileManager.addFile("/usr/X11R6/bin/xterm");

    EXPECT_EQ(terminals.installedTerminals(), GetParam().expected);
    for (const std::string& identifier : GetParam().expected) {
        EXPECT_TRUE(terminals.isTerminalInstalled(identifier)) << identifier;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, Detection,
    ::testing::Values(
        DetectionCase{"Nothing", {}, false, {}},
        DetectionCase{"AllFour",
                      {"net.sourceforge.iTerm", "com.googlecode.iterm2", "com.apple.Terminal"},
                      true,
                      {"com.apple.Terminal", "com.googlecode.iterm2", "net.sourceforge.iTerm",
                       "/usr/X11R6/bin/xterm"}},
        DetectionCase{"ITermFamilyOnly",
                      {"net.sourceforge.iTerm", "com.googlecode.iterm2"},
                      false,
                      {"com.googlecode.iterm2", "net.sourceforge.iTerm"}},
        DetectionCase{"XtermOnly", {}, true, {"/usr/X11R6/bin/xterm"}},
        DetectionCase{
            "OtherApplicationsIgnored", {"com.example.Terminal", "com.apple.terminal"}, false, {}}),
    CaseName());

TEST_F(TerminalFixture, InstalledCheckComparesExactlyAndSeesChangesAtOnce) {
    EXPECT_FALSE(terminals.isTerminalInstalled("com.apple.Terminal"));
    platform.workspace.installApplication("com.apple.Terminal", "/Applications/Utilities/T.app");
    platform.workspace.installApplication("com.example.Other", "/Applications/Other.app");

    EXPECT_TRUE(terminals.isTerminalInstalled("com.apple.Terminal"));
    for (const char* other : {"com.apple.terminal", "com.apple.Terminal ", "", "Terminal",
                              "com.example.Other", "/usr/X11R6/bin/xterm"}) {
        EXPECT_FALSE(terminals.isTerminalInstalled(other)) << other;
    }
    platform.workspace.uninstallApplication("com.apple.Terminal");
    EXPECT_FALSE(terminals.isTerminalInstalled("com.apple.Terminal"));
}

TEST_F(TerminalFixture, NamesAndIdentifiersMapBothWaysExactly) {
    const std::vector<std::pair<std::string, std::string>> catalogue{
        {"com.apple.Terminal", "Terminal"},
        {"net.sourceforge.iTerm", "iTerm"},
        {"com.googlecode.iterm2", "iTerm2"},
        {"/usr/X11R6/bin/xterm", "xterm"}};
    for (const auto& [identifier, name] : catalogue) {
        EXPECT_EQ(terminals.nameForTerminal(identifier), name);
        EXPECT_EQ(terminals.identifierForTerminalName(name), identifier);
    }
    for (const char* stranger : {"com.apple.terminal", "iterm2", "Xterm", "", "xterm ",
                                 "com.googlecode.iTerm2", "ITerm"}) {
        EXPECT_EQ(terminals.nameForTerminal(stranger), std::nullopt) << stranger;
        EXPECT_EQ(terminals.identifierForTerminalName(stranger), std::nullopt) << stranger;
    }
}

}  // namespace
}  // namespace quaymark
