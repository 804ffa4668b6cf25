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

TEST_F(InstallerCommandTest, InstallAddsTheButtonOnceAndSaysWhereItPoints) {
    finderRunsAfterSlice(1);
    EXPECT_EQ(run({"install"}), kCommandSucceeded) << err.str();
    EXPECT_EQ(out.str(), "Added the Quaymark button to Finder's toolbar, pointing at " +
                             kHelperUrl + "\nFinder was restarted and runs again.\n");
    test.calls.clear();

    EXPECT_EQ(run({"install"}), kCommandSucceeded);

    EXPECT_EQ(out.str(),
              "The Quaymark button is already in Finder's toolbar; nothing was changed.\n");
    EXPECT_EQ(test.calls.matching({"Preferences.set", "Tasks.", "Workspace.setIcon"}),
              std::vector<std::string>{});
}

TEST_F(InstallerCommandTest, FailuresAreOneLineAndStatusOne) {
    const PreferencesFailure unreadable{"/u/Preferences/com.apple.finder.plist",
                                        "not a regular file"};
    struct Case {
        const char* command;
        bool synchronizeFails;
        std::optional<PreferencesFailure> finder;
        std::optional<PreferencesFailure> quaymark;
        std::string err;
    };
    const Case cases[] = {
        {"install",
         false,
         {},
         {},
         "Finder did not come back within 30 seconds of its restart; it "
         "reads the new toolbar when it next starts.\n"},
        {"install",
         true,
         {},
         {},
         "Finder's toolbar could not be saved, so Finder was not "
         "restarted: memory:com.apple.finder: the write failed\n"},
        {"install",
         false,
         unreadable,
         {},
         "Finder's preferences could not be read, so nothing "
         "was changed: " +
             unreadable.message() + "\n"},
        {"uninstall",
         false,
         unreadable,
         {},
         "Finder's preferences could not be read, so nothing "
         "was changed: " +
             unreadable.message() + "\n"},
        {"status",
         false,
         unreadable,
         {},
         "Finder's preferences could not be read: " + unreadable.message() + "\n"},
        {"status",
         false,
         {},
         unreadable,
         "Quaymark's preferences could not be read: " + unreadable.message() + "\n"}};
    for (const Case& each : cases) {
        test.preferences.setSynchronizeFails(each.synchronizeFails);
        test.preferences.setUnreadable(kFinderDomain, each.finder);
        test.preferences.setUnreadable(kPreferencesDomain, each.quaymark);
        test.calls.clear();

        EXPECT_EQ(run({each.command}), kCommandFailed) << each.err;

        EXPECT_EQ(err.str(), each.err);
        if (each.finder || each.synchronizeFails) {
            EXPECT_EQ(count("Tasks.launch /usr/bin/killall"), 0) << each.err;
        }
        test.preferences.setSynchronizeFails(false);
        test.preferences.setUnreadable(kFinderDomain, std::nullopt);
        test.preferences.setAppValue(kConfigurationKey, std::nullopt, kFinderDomain);
        test.preferences.appSynchronize(kFinderDomain);
    }
    EXPECT_EQ(out.str().find("Toolbar button: not installed\n"), 0u) << out.str();
    EXPECT_NE(out.str().find("Preferences of com.brindlewood.Quaymark: unknown\n"),
              std::string::npos);
}

TEST_F(InstallerCommandTest, UninstallRemovesEveryButtonWithOneRestart) {
    store(configurationWith(
        numberedIdentifiers(4, {1, 3}),
        PlistDictionary{{"1", buttonItem()}, {"3", buttonItem()}, {"07", buttonItem()}}));
    finderRunsAfterSlice(1);

    EXPECT_EQ(run({"uninstall"}), kCommandSucceeded) << err.str();

    EXPECT_EQ(out.str(),
              "Removed 3 Quaymark buttons from Finder's toolbar.\n"
              "Finder was restarted and runs again.\n");
    EXPECT_EQ(stored(), configurationWith(*PlistValue::stringArray({"id0", "id2"}).asArray(), {}));
    EXPECT_EQ(count("Tasks.launch /usr/bin/killall"), 1);

    EXPECT_EQ(run({"uninstall"}), kCommandSucceeded);
    EXPECT_EQ(out.str(), "The Quaymark button is not in Finder's toolbar; nothing was changed.\n");
    EXPECT_EQ(count("Tasks.launch /usr/bin/killall"), 1);
}

TEST_F(InstallerCommandTest, StatusShowsButtonSystemIconFinderAndPreferences) {
    store(PlistDictionary{{kItemPlists, PlistDictionary{{"7", buttonItem()}}}});
    test.preferences.store(preference_key::kTerminalIdentifier, "com.googlecode.iterm2",
                           kPreferencesDomain);
    test.preferences.store(preference_key::kUseWindow, PlistValue::boolean(false),
                           kPreferencesDomain);
    test.mainBundle.addResource("defaults", "plist");
    test.fileManager.addFile(
        "/Applications/Quaymark.app/Contents/Resources/defaults.plist",
        PlistValue(PlistDictionary{{preference_key::kTerminalCommand, "cd %PATH%; pwd"}}));
    test.workspace.addRunningApplication({321, kFinderDomain, "Finder"});

    EXPECT_EQ(run({"status"}), kCommandSucceeded);

    EXPECT_EQ(out.str(),
              "Toolbar button: installed (1 entry)\n"
              "System version: 10.9.5 (version 9)\n"
              "Button icon: mav\n"
              "Helper bundle: " +
                  kHelperUrl +
                  "\n"
                  "Finder: running (pid 321)\n"
                  "Preferences of com.brindlewood.Quaymark:\n"
                  "  Terminal Identifier: com.googlecode.iterm2\n"
                  "  Use Window: NO\n"
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
        EXPECT_EQ(out.str(), "");
    }
    EXPECT_FALSE(hasStored());
}

}  // namespace
}  // namespace quaymark
