// Install, uninstall and the Finder restart over the test doubles: what is stored, in what
// order things happen, how long the wait lasts, and what happens when preferences fail.
#include "InstallerFixture.h"

namespace quaymark {
namespace {

const PreferencesFailure kUnreadable{"/u/com.apple.finder.plist", "not a property list"};

// Nothing stored, or no dictionary, loads as the default configuration of the system, with
// the button before its last two items; uninstall then leaves the default stored.
TEST_F(InstallerTest, WithNothingStoredInstallEditsTheDefaultConfiguration) {
    for (const auto& [version, defaults, position, garbage] :
         {std::tuple{"10.13.6", kNineDefaults, 7, false},
          {"10.14.6", kTenDefaults, 8, true},
          {"11.2.3", kNineDefaults, 7, false}}) {
        test.preferences.setAppValue(kConfigurationKey,
                                     garbage ? std::optional(PlistValue("garbage")) : std::nullopt,
                                     kFinderDomain);
        setSystemVersion(version);
        PlistDictionary configuration{{kDefaultItemIdentifiers, PlistValue::stringArray(defaults)},
                                      {kItemIdentifiers, PlistValue::stringArray(defaults)},
                                      {kDisplayMode, PlistValue::integer(2)}};
        EXPECT_EQ(controller.createToolbarConfigurationBrowserDictionary(), configuration);

        controller.installHelper();

        std::vector<std::string> expected = defaults;
        expected.insert(expected.begin() + position, kLocationItemIdentifier);
        PlistDictionary installed = configuration;
        installed.set(kItemIdentifiers, PlistValue::stringArray(expected));
        installed.set(kItemPlists, PlistDictionary{{std::to_string(position), buttonItem()}});
        EXPECT_EQ(stored(), installed) << version;
        controller.uninstallHelper();
        configuration.set(kItemPlists, PlistDictionary());
        EXPECT_EQ(stored(), configuration) << version;
    }
}

TEST_F(InstallerTest, InstallThenUninstallGivesBackTheStoredConfiguration) {
    PlistValue finderItem = itemPointingAt("file:///Users/me/Projects/");
    PlistDictionary withPlists{{"TB Display Mode", PlistValue::integer(1)},
                               {kItemIdentifiers, numberedIdentifiers(10, {2, 9})},
                               {kItemPlists, PlistDictionary{{"2", finderItem},
                                                             {"9", finderItem},
                                                             {"07", finderItem},
                                                             {"abc", PlistValue("not an item")},
                                                             {"12", finderItem}}}};
    // Without an identifier list the button joins a copy of the stored default layout.
    PlistDictionary withoutIdentifiers{
        {kDefaultItemIdentifiers, PlistValue::stringArray({"a", "b", "c"})},
        {kItemPlists, PlistDictionary{{"5", finderItem}}}};

    // Lists shorter than two take the button at the front; with a button there already, one
    // uninstall takes one of the two.
    for (const PlistDictionary& before :
         {withPlists, withoutIdentifiers, configurationWith(numberedIdentifiers(0), {}),
          configurationWith(numberedIdentifiers(1), {}),
          configurationWith(numberedIdentifiers(3, {1}), {{"1", buttonItem()}})}) {
        store(before);
        controller.installHelper();
        EXPECT_TRUE(controller.isQuaymarkInstalled());
        controller.uninstallHelper();

        PlistDictionary expected = before;
        if (!expected.contains(kItemPlists))
            expected.set(kItemPlists, PlistDictionary());
        if (!expected.contains(kItemIdentifiers))
            expected.set(kItemIdentifiers, *before.find(kDefaultItemIdentifiers));
        EXPECT_EQ(stored(), expected);
    }
}

// A button under a key that names no position, or whose position holds another identifier
// (the list was edited without the entries), goes alone: no other identifier or entry moves.
TEST_F(InstallerTest, AButtonWithoutItsOwnIdentifierGoesAlone) {
    for (const char* key : {"abc", "07", "-1", "10", "+2", " 2", "", "3", "0"}) {
        PlistArray identifiers = numberedIdentifiers(10, {2});
        identifiers[3] = PlistValue("com.apple.finder.SRCH");
        PlistDictionary plists{{"2", itemPointingAt("file:///two/")},
                               {"9", itemPointingAt("file:///nine/")}};
        PlistDictionary before = configurationWith(identifiers, plists);
        plists.set(key, buttonItem());
        store(configurationWith(identifiers, plists));

        EXPECT_EQ(controller.uninstallHelper().buttonEntries, 1) << key;
        EXPECT_EQ(stored(), before) << '"' << key << '"';
    }
}

TEST_F(InstallerTest, TheConfigurationIsSavedBeforeFinderIsEnded) {
    finderRunsAfterSlice(1);

    controller.installHelper();

    EXPECT_EQ(test.calls.matching({"Workspace.setIcon", "Preferences.set", "Preferences.appSync",
                                   "Tasks.", "Workspace.launch", "RunLoop.", "Workspace.running",
                                   "Workspace.activate"}),
              (std::vector<std::string>{
                  "Workspace.setIconForFile " + kHelperPath,
                  "Preferences.setAppValue com.apple.finder NSToolbar Configuration Browser",
                  "Preferences.appSynchronize com.apple.finder", "Tasks.launch /usr/bin/killall",
                  "Workspace.launchApplication /Applications/Finder.app", "RunLoop.runFor 1000ms",
                  "Workspace.runningApplications", "Workspace.activate com.apple.finder"}));
}

// Neither a failed killall nor a refused launch request cuts the wait short; a Finder that
// never comes back is given up after thirty slices.
TEST_F(InstallerTest, TheRestartWaitsInOneSecondSlicesUntilFinderRuns) {
    test.calls.failOn("Tasks.launch", InjectedFailure::Platform);
    test.workspace.setLaunchesFail(true);
    for (std::size_t slice : {1u, 3u, 30u, 31u}) {
        test.workspace.removeRunningApplication(4242);
        finderRunsAfterSlice(slice);
        std::size_t slicesBefore = test.runLoop.slices().size();
        double before = test.clock.now().sinceReferenceDate;
        std::size_t activations = test.workspace.activations().size();

        EXPECT_EQ(controller.relaunchFinder(),
                  slice > 30 ? FinderRestart::DidNotComeBack : FinderRestart::Activated);

        std::size_t slices = std::min<std::size_t>(slice, 30);
        EXPECT_EQ(test.runLoop.slices().size() - slicesBefore, slices);
        EXPECT_DOUBLE_EQ(test.clock.now().sinceReferenceDate - before, static_cast<double>(slices));
        EXPECT_EQ(test.workspace.activations().size() - activations, slice > 30 ? 0u : 1u);
    }
}

// Finder's windows are closed by a restart, for nothing when the configuration is not saved;
// and one that could not be read is never replaced by a default, nor is the icon touched.
TEST_F(InstallerTest, FinderIsRestartedOnlyAfterASave) {
    store(configurationWith(numberedIdentifiers(3, {1}), {{"1", buttonItem()}}));
    PlistDictionary before = stored();
    const PreferencesFailure writeFailed{"memory:com.apple.finder", "the write failed"};
    for (bool readable : {true, false}) {
        test.preferences.setSynchronizeFails(readable);
        test.preferences.setUnreadable(kFinderDomain,
                                       readable ? std::nullopt : std::optional(kUnreadable));
        test.calls.clear();
        for (ToolbarChange change : {controller.installHelper(), controller.uninstallHelper(),
                                     controller.uninstallAllHelpers()}) {
            EXPECT_EQ(readable ? change.saveFailure : change.readFailure,
                      readable ? writeFailed : kUnreadable);
            EXPECT_EQ(change.finder, FinderRestart::NotNeeded);
        }
        EXPECT_EQ(test.calls.matching({"Tasks.", "Workspace.launch", "RunLoop."}),
                  std::vector<std::string>{});
        if (!readable) {
            EXPECT_EQ(test.calls.matching({"Workspace.setIcon", "Preferences.set"}),
                      std::vector<std::string>{});
        }
        EXPECT_EQ(stored(), before);
    }
}

}  // namespace
}  // namespace quaymark
