#include <algorithm>

#include "TerminalFixture.h"

namespace quaymark {
namespace {

using namespace terminal_identifier;

TEST(Catalogue, ListsInstalledTerminalsInDetectionOrderComparingIdentifiersExactly) {
    struct Case {
        std::vector<std::string> bundles;
        bool xtermFile;
        std::vector<std::string> installed;
    };
    const Case cases[] = {
        {{}, false, {}},
        {{kITerm, kITerm2, kAppleTerminal}, true, {kAppleTerminal, kITerm2, kITerm, kXterm}},
        {{kITerm, kITerm2}, false, {kITerm2, kITerm}},
        {{}, true, {kXterm}},
        {{"com.example.Terminal", "com.apple.terminal"}, false, {}}};
    for (const Case& c : cases) {
        TestPlatform test;
        for (const std::string& bundle : c.bundles)
            test.workspace.installApplication(bundle, "/Applications/" + bundle + ".app");
        // Even a file that is not executable counts.
        if (c.xtermFile)
            test.fileManager.addFile(kXterm);
        TerminalIdentifiers terminals(test.platform());
        EXPECT_EQ(terminals.installedTerminals(), c.installed);
        for (const char* identifier : {kAppleTerminal, kITerm, kITerm2, kXterm,
                                       "com.apple.terminal", "com.apple.Terminal ", "Terminal"}) {
            bool installed =
                std::find(c.installed.begin(), c.installed.end(), identifier) != c.installed.end();
            EXPECT_EQ(terminals.isTerminalInstalled(identifier), installed) << identifier;
        }
    }
}

TEST_F(TerminalFixture, NamesAndIdentifiersMapBothWaysExactly) {
    for (const auto& [identifier, name] : {std::pair{kAppleTerminal, "Terminal"},
                                           {kITerm, "iTerm"},
                                           {kITerm2, "iTerm2"},
                                           {kXterm, "xterm"}}) {
        EXPECT_EQ(terminals.nameForTerminal(identifier), name);
        EXPECT_EQ(terminals.identifierForTerminalName(name), identifier);
    }
    for (const char* stranger : {"com.apple.terminal", "iterm2", "Xterm", "", "xterm ", "ITerm"}) {
        EXPECT_EQ(terminals.nameForTerminal(stranger), std::nullopt) << stranger;
        EXPECT_EQ(terminals.identifierForTerminalName(stranger), std::nullopt) << stranger;
    }
}

}  // namespace
}  // namespace quaymark
