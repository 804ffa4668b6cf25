// Install, uninstall and the Finder restart over the test doubles: what is stored, in what
// order things happen, how long the wait lasts, and the faults mended in the edge cases.
#include "InstallerFixture.h"
#include "PlatformException.h"

namespace quaymark {
namespace {

// Tasks that note when they are waited for, so a test sees killall's wait in the call order.
class WaitRecordingTasks : public TaskLauncher {
public:
    explicit WaitRecordingTasks(CallLog& calls) : _calls(calls) {}

    std::unique_ptr<Task> launch(const TaskOptions& options) override {
        _calls.record("Tasks.launch", options.launchPath);
        launches.push_back(options);
        return std::make_unique<WaitedTask>(_calls);
    }
    Environment processEnvironment() override { return {}; }

    std::vector<TaskOptions> launches;

private:
    class WaitedTask : public Task {
    public:
        explicit WaitedTask(CallLog& calls) : _calls(calls) {}
        int processIdentifier() const override { return 77; }
        int waitUntilExit() override {
            _calls.record("Task.waitUntilExit");
            return 1;
        }

    private:
        CallLog& _calls;
    };
    CallLog& _calls;
};

PlistDictionary configurationWith(PlistArray identifiers, PlistDictionary plists) {
    return PlistDictionary{{kItemIdentifiers, std::move(identifiers)},
                           {kItemPlists, std::move(plists)}};
}

TEST_F(InstallerTest, InstallWithNothingStoredPutsTheButtonBeforeTheLastTwoItems) {
    struct Case {
        const char* version;
        const std::vector<std::string>& defaults;
        int position;
    };
    for (const Case& each : {Case{"10.9.5", kNineDefaults, 7}, Case{"10.14.6", kTenDefaults, 8}}) {
        test.preferences.setAppValue(kConfigurationKey, std::nullopt, kFinderDomain);
        setSystemVersion(each.version);
        finderRunsAfterSlice(1);

        EXPECT_EQ(controller.installHelper().finder, FinderRestart::Activated);

        std::vector<std::string> expected = each.defaults;
        expected.insert(expected.begin() + each.position, kLocationItemIdentifier);
        EXPECT_EQ(
            stored(),
            (PlistDictionary{
                {kDefaultItemIdentifiers, PlistValue::stringArray(each.defaults)},
                {kItemIdentifiers, PlistValue::stringArray(expected)},
                {kDisplayMode, PlistValue::integer(2)},
                {kItemPlists, PlistDictionary{{std::to_string(each.position), buttonItem()}}}}))
            << each.version;
        EXPECT_TRUE(controller.isQuaymarkInstalled());
        test.workspace.removeRunningApplication(4242);
    }
}

TEST_F(InstallerTest, ShortListsTakeTheButtonAtTheFront) {
    struct Case {
        int count;
        std::vector<std::string> keys;
        int position;
        std::vector<std::string> keysAfter;
    };
    for (const Case& each :
         {Case{0, {}, 0, {"0"}}, Case{1, {"0"}, 0, {"0", "1"}}, Case{2, {"1"}, 0, {"0", "2"}},
          Case{3, {}, 1, {"1"}}, Case{5, {"3", "4"}, 3, {"3", "4", "5"}}}) {
        PlistDictionary plists;
        for (const std::string& key : each.keys)
            plists.set(key, itemPointingAt("file:///Volumes/" + key + "/"));
        store(configurationWith(numberedIdentifiers(each.count), plists));

        controller.installHelper();

        PlistDictionary configuration = stored();
        const PlistArray& identifiers = *configuration.find(kItemIdentifiers)->asArray();
        ASSERT_EQ(identifiers.size(), static_cast<std::size_t>(each.count + 1));
        EXPECT_EQ(identifiers[static_cast<std::size_t>(each.position)],
                  PlistValue(kLocationItemIdentifier))
            << each.count;
        const PlistDictionary& after = *configuration.find(kItemPlists)->asDictionary();
        EXPECT_EQ(*after.find(std::to_string(each.position)), buttonItem()) << each.count;
        EXPECT_EQ(after.size(), each.keysAfter.size()) << each.count;
        for (const std::string& key : each.keysAfter)
            EXPECT_TRUE(after.contains(key)) << each.count << " " << key;
    }
}

TEST_F(InstallerTest, InstallThenUninstallGivesBackTheStoredConfiguration) {
    PlistDictionary finderItem{{kUrlString, "file:///Users/me/Projects/"},
                               {kUrlStringType, PlistValue::integer(15)},
                               {"_CFURLAliasData", PlistValue::data({0, 1, 2, 0xff})}};
    PlistDictionary others{
        {"TB Display Mode", PlistValue::integer(1)},
        {"TB Icon Size Mode", PlistValue::integer(1)},
        {"TB Is Shown", PlistValue::boolean(true)},
        {"TB Size Mode", PlistValue::real(1.5)},
        {"Stamp", PlistValue(PlistDate{600000000.25})},
        {"Nested", PlistDictionary{{"Deep", PlistValue::stringArray({"x", "y"})}}}};
    PlistDictionary withPlists = others;
    withPlists.set(kItemIdentifiers, numberedIdentifiers(10));
    withPlists.set(kItemPlists, PlistDictionary{{"2", finderItem},
                                                {"9", finderItem},
                                                {"07", finderItem},
                                                {"abc", PlistValue("not an item")},
                                                {"12", finderItem}});
    PlistDictionary withoutPlists = others;
    withoutPlists.set(kItemIdentifiers, numberedIdentifiers(4));

    for (const PlistDictionary& before : {withPlists, withoutPlists}) {
        store(before);
        controller.installHelper();
        EXPECT_TRUE(controller.isQuaymarkInstalled());
        controller.uninstallHelper();

        PlistDictionary expected = before;
        if (!expected.contains(kItemPlists))
            expected.set(kItemPlists, PlistDictionary());
        EXPECT_EQ(stored(), expected);
        EXPECT_FALSE(controller.isQuaymarkInstalled());
    }
}

TEST_F(InstallerTest, WithNothingStoredUninstallLeavesTheDefaultConfigurationStored) {
    controller.installHelper();
    controller.uninstallHelper();
    PlistValue defaults = PlistValue::stringArray(kNineDefaults);
    EXPECT_EQ(stored(), (PlistDictionary{{kDefaultItemIdentifiers, defaults},
                                         {kItemIdentifiers, defaults},
                                         {kDisplayMode, PlistValue::integer(2)},
                                         {kItemPlists, PlistDictionary()}}));
}

TEST_F(InstallerTest, UninstallAtSevenOfTenMovesTheLaterEntriesDown) {
    store(configurationWith(numberedIdentifiers(10),
                            PlistDictionary{{"3", itemPointingAt("file:///three/")},
                                            {"7", buttonItem()},
                                            {"9", itemPointingAt("file:///nine/")}}));

    ToolbarChange change = controller.uninstallHelper();

    EXPECT_EQ(change.buttonEntries, 1);
    PlistArray identifiers = numberedIdentifiers(10);
    identifiers.erase(identifiers.begin() + 7);
    EXPECT_EQ(stored(), configurationWith(identifiers,
                                          PlistDictionary{{"3", itemPointingAt("file:///three/")},
                                                          {"8", itemPointingAt("file:///nine/")}}));
}

TEST_F(InstallerTest, OneUninstallTakesOneOfTwoButtons) {
    store(configurationWith(numberedIdentifiers(6),
                            PlistDictionary{{"1", buttonItem()}, {"4", buttonItem()}}));

    controller.uninstallHelper();
    EXPECT_EQ(stored().find(kItemIdentifiers)->asArray()->size(), 5u);
    EXPECT_EQ(controller.buttonEntryCount(), 1);
    EXPECT_TRUE(controller.isQuaymarkInstalled());

    controller.uninstallHelper();
    EXPECT_EQ(stored().find(kItemIdentifiers)->asArray()->size(), 4u);
    EXPECT_FALSE(controller.isQuaymarkInstalled());
}

TEST_F(InstallerTest, UninstallWithoutAButtonChangesNothingAndLeavesFinderAlone) {
    store(
        configurationWith(numberedIdentifiers(3), PlistDictionary{{"1", PlistValue(kHelperUrl)}}));
    test.calls.clear();

    ToolbarChange change = controller.uninstallHelper();

    EXPECT_EQ(change.buttonEntries, 0);
    EXPECT_EQ(change.finder, FinderRestart::NotNeeded);
    EXPECT_EQ(test.calls.matching({"Preferences.set", "Preferences.appSync", "Tasks.", "RunLoop."}),
              std::vector<std::string>{});
}

TEST_F(InstallerTest, AButtonUnderAKeyThatIsNoPositionGoesAlone) {
    for (const char* key : {"abc", "07", "-3", "-1", "10", "12", "+2", " 2", ""}) {
        PlistDictionary plists{{"2", itemPointingAt("file:///two/")},
                               {"9", itemPointingAt("file:///nine/")}};
        PlistDictionary before = configurationWith(numberedIdentifiers(10), plists);
        plists.set(key, buttonItem());
        store(configurationWith(numberedIdentifiers(10), plists));

        ToolbarChange change = controller.uninstallHelper();

        EXPECT_EQ(change.buttonEntries, 1) << key;
        EXPECT_EQ(stored(), before) << '"' << key << '"';
    }
}

TEST_F(InstallerTest, WithoutAnIdentifierListInstallEditsACopyOfTheDefaultLayout) {
    PlistValue storedDefaults = PlistValue::stringArray({"a", "b", "c", "d"});
    struct Case {
        PlistDictionary before;
        std::vector<std::string> identifiers;
    };
    for (const Case& each :
         {Case{PlistDictionary{{kDefaultItemIdentifiers, storedDefaults}, {"Other", "kept"}},
               {"a", "b", kLocationItemIdentifier, "c", "d"}},
          Case{PlistDictionary{{"Other", "kept"}}, [] {
                   std::vector<std::string> list = kNineDefaults;
                   list.insert(list.begin() + 7, kLocationItemIdentifier);
                   return list;
               }()}}) {
        store(each.before);
        controller.installHelper();

        PlistDictionary expected = each.before;
        expected.set(kItemIdentifiers, PlistValue::stringArray(each.identifiers));
        expected.set(kItemPlists,
                     PlistDictionary{{std::to_string(each.identifiers.size() - 3), buttonItem()}});
        EXPECT_EQ(stored(), expected);

        // Uninstall then takes the button out of that list again, and adds no other key.
        controller.uninstallHelper();
        expected.set(kItemIdentifiers, each.before.contains(kDefaultItemIdentifiers)
                                           ? storedDefaults
                                           : PlistValue::stringArray(kNineDefaults));
        expected.set(kItemPlists, PlistDictionary());
        EXPECT_EQ(stored(), expected);
    }
}

TEST_F(InstallerTest, WithoutAnIdentifierListUninstallRemovesTheEntryAlone) {
    PlistDictionary before{{kDefaultItemIdentifiers, PlistValue::stringArray({"a", "b"})},
                           {kItemPlists, PlistDictionary{{"5", itemPointingAt("file:///x/")}}}};
    PlistDictionary withButton = before;
    withButton.find(kItemPlists)->asDictionary()->set("0", buttonItem());
    store(withButton);

    controller.uninstallHelper();

    EXPECT_EQ(stored(), before);
}

TEST_F(InstallerTest, EntriesThatAreNoDictionaryAreNeverButtonsAndAreKept) {
    PlistDictionary before = configurationWith(
        numberedIdentifiers(3),
        PlistDictionary{{"0", PlistValue(kHelperUrl)}, {"x", PlistValue::integer(3)}});
    store(before);

    EXPECT_FALSE(controller.isQuaymarkInstalled());
    EXPECT_EQ(controller.uninstallHelper().buttonEntries, 0);
    EXPECT_EQ(stored(), before);
    controller.installHelper();
    EXPECT_EQ(*stored().find(kItemPlists), PlistValue(PlistDictionary{{"0", PlistValue(kHelperUrl)},
                                                                      {"x", PlistValue::integer(3)},
                                                                      {"1", buttonItem()}}));
}

TEST_F(InstallerTest, UninstallingEveryButtonSavesAndRestartsOnce) {
    PlistDictionary plists{{"1", buttonItem()},
                           {"2", itemPointingAt("file:///two/")},
                           {"07", buttonItem()},
                           {"4", buttonItem()},
                           {"20", buttonItem()}};
    store(configurationWith(numberedIdentifiers(6), plists));
    test.calls.clear();

    ToolbarChange change = controller.uninstallAllHelpers();

    EXPECT_EQ(change.buttonEntries, 4);
    EXPECT_EQ(stored(),
              configurationWith(*PlistValue::stringArray({"id0", "id2", "id3", "id5"}).asArray(),
                                PlistDictionary{{"1", itemPointingAt("file:///two/")}}));
    EXPECT_EQ(count("Preferences.appSynchronize com.apple.finder"), 1);
    EXPECT_EQ(count("Tasks.launch /usr/bin/killall"), 1);
    EXPECT_EQ(controller.uninstallAllHelpers().buttonEntries, 0);
}

TEST_F(InstallerTest, TheConfigurationIsSavedBeforeFinderIsEnded) {
    WaitRecordingTasks tasks(test.calls);
    Platform withTasks{test.preferences, test.workspace, test.fileManager,
                       test.mainBundle,  tasks,          test.scripting,
                       test.appleScript, test.clock,     test.runLoop,
                       test.application, test.log};
    FinderToolBarController recording(withTasks);
    finderRunsAfterSlice(1);
    test.workspace.addRunningApplication({17, "com.apple.Terminal", "Terminal"});
    test.calls.clear();

    recording.installHelper();

    EXPECT_EQ(test.calls.matching({"Preferences.set", "Preferences.appSync", "Tasks.", "Task.",
                                   "Workspace.launch", "RunLoop.", "Workspace.running",
                                   "Workspace.activate"}),
              (std::vector<std::string>{
                  "Preferences.setAppValue com.apple.finder NSToolbar Configuration Browser",
                  "Preferences.appSynchronize com.apple.finder", "Tasks.launch /usr/bin/killall",
                  "Task.waitUntilExit", "Workspace.launchApplication /Applications/Finder.app",
                  "RunLoop.runFor 1000ms", "Workspace.runningApplications",
                  "Workspace.activate com.apple.finder"}));
    ASSERT_EQ(tasks.launches.size(), 1u);
    EXPECT_EQ(tasks.launches[0].arguments, std::vector<std::string>{"Finder"});
}

TEST_F(InstallerTest, TheRestartWaitsInOneSecondSlicesUntilFinderRuns) {
    for (std::size_t slice : {1u, 3u, 30u}) {
        test.workspace.removeRunningApplication(4242);
        finderRunsAfterSlice(slice);
        std::size_t slicesBefore = test.runLoop.slices().size();
        double before = test.clock.now().sinceReferenceDate;

        EXPECT_EQ(controller.relaunchFinder(), FinderRestart::Activated);

        EXPECT_EQ(test.runLoop.slices().size() - slicesBefore, slice);
        EXPECT_DOUBLE_EQ(test.clock.now().sinceReferenceDate - before, static_cast<double>(slice));
        ASSERT_FALSE(test.workspace.activations().empty());
        EXPECT_EQ(test.workspace.activations().back().pid, 4242);
    }
}

TEST_F(InstallerTest, FinderAlreadyRunningIsLookedForOnlyAfterTheFirstSlice) {
    test.workspace.addRunningApplication({5, kFinderDomain, "Finder"});
    test.calls.clear();
    EXPECT_EQ(controller.relaunchFinder(), FinderRestart::Activated);
    EXPECT_LT(test.calls.indexOf("RunLoop.runFor 1000ms"),
              test.calls.indexOf("Workspace.runningApplications"));
    EXPECT_EQ(test.runLoop.slices().size(), 1u);
}

TEST_F(InstallerTest, AFinderThatNeverComesBackIsGivenUpAfterThirtySlices) {
    ToolbarChange change = controller.installHelper();

    EXPECT_EQ(change.finder, FinderRestart::DidNotComeBack);
    EXPECT_TRUE(change.saved);
    EXPECT_EQ(test.runLoop.slices(),
              std::vector<std::chrono::milliseconds>(30, std::chrono::milliseconds(1000)));
    EXPECT_TRUE(test.workspace.activations().empty());
    EXPECT_TRUE(controller.isQuaymarkInstalled());
}

TEST_F(InstallerTest, FailuresOfKillallOfTheLaunchAndOfSavingDoNotStopTheRestart) {
    test.calls.failOn("Tasks.launch", InjectedFailure::Platform);
    test.workspace.setLaunchesFail(true);
    test.preferences.setSynchronizeFails(true);
    finderRunsAfterSlice(2);

    ToolbarChange change = controller.installHelper();

    EXPECT_FALSE(change.saved);
    EXPECT_EQ(change.finder, FinderRestart::Activated);
    EXPECT_TRUE(test.calls.contains("Workspace.launchApplication /Applications/Finder.app"));
}

TEST_F(InstallerTest, InstallRefreshesTheIconBeforeTouchingTheConfiguration) {
    test.preferences.setSynchronizeFails(true);
    controller.installHelper();
    int icon = test.calls.indexOf("Workspace.setIconForFile " + kHelperPath);
    ASSERT_GE(icon, 0);
    EXPECT_LT(icon, test.calls.indexOf("Preferences.copyAppValue com.apple.finder "
                                       "NSToolbar Configuration Browser"));
}

TEST(SharedInstanceTest, IsMadeOnceAndKeepsTheServicesOfTheFirstCall) {
    // Alive to the end of the process, as the shared instance is.
    static TestPlatform first;
    static Platform firstPlatform = first.platform();
    TestPlatform second;
    Platform secondPlatform = second.platform();

    FinderToolBarController& shared = FinderToolBarController::sharedInstance(firstPlatform);
    EXPECT_EQ(&FinderToolBarController::sharedInstance(secondPlatform), &shared);

    shared.isQuaymarkInstalled();
    EXPECT_FALSE(first.calls.matching({"Preferences.copyAppValue"}).empty());
    EXPECT_TRUE(second.calls.matching({"Preferences.copyAppValue"}).empty());
}

}  // namespace
}  // namespace quaymark
