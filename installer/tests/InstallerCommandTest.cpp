// The installer's command line over the test doubles: what each command says, changes and
// answers with.
#include <sstream>

#include "InstallerCommand.h"
#include "InstallerFixture.h"
#include "QuaymarkPreferences.h"

namespace quaymark {
namespace {

class InstallerCommandTest : public InstallerTest {
protected:
    int run(const std::vector<std::string>& arguments) {
        out.str("");
        err.str("");
        return runInstallerCommand(arguments, controller, platform, out, err);
    }

    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(InstallerCommandTest, FailuresAreOneLineAndStatusOne) {
    const PreferencesFailure unreadable{"/u/com.apple.finder.plist", "not a regular file"};
    const std::string refused = "Finder's preferences could not be read, so nothing was changed: ";
    // What fails: nothing (Finder does not come back), "save", or the domain that is unreadable,
    // whose failure then ends the line.
    const std::tuple<const char*, std::string, std::string> cases[] = {
        {"install", "",
         "Finder did not come back within 30 seconds of its restart; it reads the "
         "new toolbar when it next starts.\n"},
        {"install", "save",
         "Finder's toolbar could not be saved, so Finder was not restarted: "
         "memory:com.apple.finder: the write failed\n"},
        {"install", kFinderDomain, refused},
        {"uninstall", kFinderDomain, refused},
        {"status", kFinderDomain, "Finder's preferences could not be read: "},
        {"status", kPreferencesDomain, "Quaymark's preferences could not be read: "}};
    for (const auto& [command, fault, message] : cases) {
        bool domain = fault.find('.') != std::string::npos;
        test.preferences.setSynchronizeFails(fault == "save");
        if (domain)
            test.preferences.setUnreadable(fault, unreadable);
        std::size_t launches = test.tasks.launches().size();

        EXPECT_EQ(run({command}), kCommandFailed) << message;

        EXPECT_EQ(err.str(), domain ? message + unreadable.message() + "\n" : message);
        EXPECT_EQ(test.tasks.launches().size() - launches, fault.empty() ? 1u : 0u) << message;
        test.preferences.setSynchronizeFails(false);
        if (domain)
            test.preferences.setUnreadable(fault, std::nullopt);
        test.preferences.setAppValue(kConfigurationKey, std::nullopt, kFinderDomain);
        test.preferences.appSynchronize(kFinderDomain);
    }
    EXPECT_NE(out.str().find("Preferences of com.brindlewood.Quaymark: unknown\n"),
              std::string::npos);
}

TEST_F(InstallerCommandTest, InstallAddsOneButtonAndUninstallRemovesEveryOne) {
    finderRunsAfterSlice(1);
    EXPECT_EQ(run({"install"}), kCommandSucceeded) << err.str();
    EXPECT_EQ(out.str(), "Added the Quaymark button to Finder's toolbar, pointing at " +
                             kHelperUrl + "\nFinder was restarted and runs again.\n");
    EXPECT_EQ(run({"install"}), kCommandSucceeded);
    EXPECT_EQ(out.str(),
              "The Quaymark button is already in Finder's toolbar; nothing was changed.\n");
    // More buttons, as older installs or copies of the program may have left them.
    store(configurationWith(
        numberedIdentifiers(4, {1, 3}),
        PlistDictionary{{"1", buttonItem()}, {"3", buttonItem()}, {"07", buttonItem()}}));

    EXPECT_EQ(run({"uninstall"}), kCommandSucceeded) << err.str();
    EXPECT_EQ(out.str(),
              "Removed 3 Quaymark buttons from Finder's toolbar.\n"
              "Finder was restarted and runs again.\n");
    EXPECT_EQ(stored(), configurationWith(*PlistValue::stringArray({"id0", "id2"}).asArray(), {}));
    EXPECT_EQ(run({"uninstall"}), kCommandSucceeded);
    EXPECT_EQ(out.str(), "The Quaymark button is not in Finder's toolbar; nothing was changed.\n");
    // One restart for the first install and one for the uninstall, none for the others.
    EXPECT_EQ(test.tasks.launches().size(), 2u);
}

TEST_F(InstallerCommandTest, StatusShowsButtonSystemIconFinderAndPreferences) {
    store(PlistDictionary{{kItemPlists, PlistDictionary{{"7", buttonItem()}}}});
    test.preferences.store(preference_key::kTerminalIdentifier, "com.googlecode.iterm2",
                           kPreferencesDomain);
    test.mainBundle.addResource("defaults", "plist");
    test.fileManager.addFile(
        "/Applications/Quaymark.app/Contents/Resources/defaults.plist",
        PlistValue(PlistDictionary{{preference_key::kTerminalCommand, "cd %PATH%; pwd"}}));
    test.workspace.addRunningApplication({321, kFinderDomain, "Finder"});

    EXPECT_EQ(run({"status"}), kCommandSucceeded);

    EXPECT_EQ(
        out.str(),
        "Toolbar button: installed (1 entry)\n"
        "System version: 10.9.5 (version 9)\n"
        "Button icon: mav\n"
        "Helper bundle: file:///Applications/Quaymark.app/Contents/MacOS/QuaymarkHelper.app/\n"
        "Finder: running (pid 321)\n"
        "Preferences of com.brindlewood.Quaymark:\n"
        "  Terminal Identifier: com.googlecode.iterm2\n"
        "  Use Window: not set\n"
        "  Terminal Command: not set (default \"cd %PATH%; pwd\")\n"
        "  Last Launch Date: not set\n");
    EXPECT_EQ(err.str(), "");
}

TEST_F(InstallerCommandTest, HelpGoesToStandardOutputAndMistakesAreUsageErrors) {
    EXPECT_EQ(run({"--help"}), kCommandSucceeded);
    std::string usage = out.str();
    EXPECT_TRUE(usage.starts_with("usage: Quaymark [install | uninstall | status | --help]\n"));
    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{"instal"}, {"install", "now"}, {"Install"}, {}}) {
        EXPECT_EQ(run(wrong), kCommandUsageError);
        EXPECT_EQ(err.str(), usage);
    }
    EXPECT_EQ(test.preferences.values(kFinderDomain).size(), 0u);
}

}  // namespace
}  // namespace quaymark
