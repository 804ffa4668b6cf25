// What one click does, with every service replaced by a test double.
#include <gtest/gtest.h>

#include "AppDelegate.h"
#include "QuaymarkPreferences.h"
#include "TerminalIdentifiers.h"
#include "TestPlatform.h"

namespace quaymark {
namespace {

using namespace terminal_identifier;

const char* const kHelperBundle = "/Applications/Quaymark.app/Contents/MacOS/QuaymarkHelper.app";
const std::string kMainBundleUrl = "file:///Applications/Quaymark.app/";
const std::string kUpdateLaunch =
    "Workspace.launchApplicationAtUrl " + kMainBundleUrl + " checkUpdates=checkUpdates";
const PlistValue kNow(ManualClock::kStart);

// A button program in Quaymark.app, Terminal running with a window, and the preferences.
struct Click {
    explicit Click(const PlistDictionary& stored = {}) {
        test.mainBundle.setBundlePath(kHelperBundle);
        test.fileManager.addFolder(kHelperBundle);
        test.workspace.installApplication(kAppleTerminal, "/Applications/Utilities/Terminal.app");
        test.terminal.setRunning(true);
        test.terminal.openWindow();
        for (const auto& [key, value] : stored)
            test.preferences.store(key, value, kPreferencesDomain);
    }
    int run() {
        Platform platform = test.platform();
        return runQuaymarkHelper(platform);
    }
    std::optional<PlistValue> lastLaunch() const {
        PlistDictionary values = test.preferences.values(kPreferencesDomain);
        const PlistValue* value = values.find(preference_key::kLastLaunchDate);
        return value ? std::optional(*value) : std::nullopt;
    }
    std::vector<std::string> launches() const {
        return test.calls.matching({"Workspace.launchApplicationAtUrl"});
    }

    TestPlatform test;
};

TEST(HelperFlow, UpdateLaunchIsDueFromThreeDaysOnOrWithoutAUsableDateAndRecordedAnyway) {
    struct Case {
        const char* name;
        std::optional<PlistValue> lastLaunch;
        bool updateDue;
        bool launchFails = false;
    };
    double now = ManualClock::kStart.sinceReferenceDate;
    const Case cases[] = {{"no date stored", std::nullopt, true},
                          {"exactly three days ago", PlistValue(PlistDate{now - 259200.0}), true},
                          {"a second short", PlistValue(PlistDate{now - 259199.0}), false},
                          {"in the future", PlistValue(PlistDate{now + 3600.0}), false},
                          {"stored as a string", PlistValue("2015-01-01"), true},
                          {"stored as a number", PlistValue::integer(0), true},
                          {"launch fails", std::nullopt, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Click click;
        if (c.lastLaunch)
            click.test.preferences.store(preference_key::kLastLaunchDate, *c.lastLaunch,
                                         kPreferencesDomain);
        click.test.workspace.setLaunchesFail(c.launchFails);

        EXPECT_EQ(click.run(), 0);

        EXPECT_EQ(click.test.terminal.windows().size(), 2u);  // a new window, the default
        EXPECT_EQ(click.launches(),
                  c.updateDue ? std::vector{kUpdateLaunch} : std::vector<std::string>{});
        EXPECT_EQ(click.lastLaunch(), c.updateDue ? kNow : c.lastLaunch);
        EXPECT_EQ(click.test.preferences.synchronizeCalls().size(), c.updateDue ? 1u : 0u);
        EXPECT_FALSE(click.test.preferences.hasUnsynchronizedChanges(kPreferencesDomain));
        EXPECT_EQ(click.test.application.runCount(), c.updateDue ? 1 : 0);
        // The terminal comes first, the update launch after it.
        EXPECT_EQ(
            click.test.calls.indexOf("Terminal.activate") < click.test.calls.indexOf(kUpdateLaunch),
            c.updateDue);
    }
}

TEST(HelperFlow, ATerminalThatIsNotInstalledOpensTheSettingsInstead) {
    const PlistValue lastLaunch(PlistDate{0});
    for (const PlistValue& identifier :
         {PlistValue(kITerm), PlistValue("com.apple.terminal"), PlistValue::integer(1)}) {
        SCOPED_TRACE(identifier.description());
        Click click({{preference_key::kTerminalIdentifier, identifier},
                     {preference_key::kLastLaunchDate, lastLaunch}});

        EXPECT_EQ(click.run(), 0);

        EXPECT_EQ(click.launches(),
                  std::vector{"Workspace.launchApplicationAtUrl " + kMainBundleUrl});
        EXPECT_TRUE(click.test.calls
                        .matching({"Finder.", "Terminal.", "iTerm", "Tasks.",
                                   "Preferences.setAppValue", "Preferences.appSynchronize"})
                        .empty());
        EXPECT_EQ(click.lastLaunch(), lastLaunch);
        EXPECT_EQ(click.test.application.runCount(), 0);
    }
}

// Read as the preference tests' boolean form.
TEST(HelperFlow, UseWindowChoosesWindowOrTabAndDefaultsToWindow) {
    const std::pair<std::optional<PlistValue>, bool> cases[] = {
        {std::nullopt, false}, {PlistValue("NO"), true}, {PlistValue("sometimes"), false}};
    for (const auto& [useWindow, tab] : cases) {
        SCOPED_TRACE(useWindow ? useWindow->description() : "absent");
        // A recent launch keeps the update launch out of the picture.
        Click click({{preference_key::kLastLaunchDate, kNow}});
        if (useWindow)
            click.test.preferences.store(preference_key::kUseWindow, *useWindow,
                                         kPreferencesDomain);
        click.run();
        // A new tab is made by the keystroke; a new window by doScript without a window.
        EXPECT_EQ(click.test.calls.matching({"SystemEvents"}).size(), tab ? 1u : 0u);
        EXPECT_EQ(click.test.terminal.windows().size(), tab ? 1u : 2u);
    }
}

// One failure of either kind that passes through an opener (the dispatch tests say which).
TEST(HelperFlow, FailuresThatPassThroughAnOpenerAreLoggedAndTheUpdateCheckGoesOn) {
    const std::tuple<const char*, const char*, InjectedFailure> cases[] = {
        {kXterm, "Tasks.launch", InjectedFailure::Platform},
        {kITerm, "iTerm.activate", InjectedFailure::LogicError}};
    for (const auto& [identifier, failingCall, failure] : cases) {
        SCOPED_TRACE(failingCall);
        Click click({{preference_key::kTerminalIdentifier, PlistValue(identifier)}});
        click.test.workspace.installApplication(kITerm, "/Applications/iTerm.app");
        click.test.fileManager.addFile(kXterm);
        click.test.calls.failOn(failingCall, failure);

        EXPECT_EQ(click.run(), 0);

        ASSERT_EQ(click.test.log.lines().size(), 1u);
        EXPECT_NE(click.test.log.lines()[0].find(identifier), std::string::npos)
            << click.test.log.lines()[0];
        EXPECT_EQ(click.launches(), std::vector{kUpdateLaunch});
        EXPECT_EQ(click.lastLaunch(), kNow);
    }
}

TEST(HelperFlow, QuaymarkUrlIsTheBundleThreeComponentsUpPercentEncoded) {
    const std::pair<const char*, const char*> cases[] = {
        {"/Applications/Quaymark.app/Contents/MacOS/QuaymarkHelper.app",
         "file:///Applications/Quaymark.app/"},
        {"/Applications/My Tools/Quaymark.app/Contents/MacOS/QuaymarkHelper.app/",
         "file:///Applications/My%20Tools/Quaymark.app/"},
        {"/Users/ana/Downloads/QuaymarkHelper.app", "file:///Users"}};
    for (const auto& [helperBundle, url] : cases) {
        TestPlatform test;
        test.mainBundle.setBundlePath(helperBundle);
        // A folder URL only for a main bundle that is there.
        if (std::string_view(url).ends_with('/'))
            test.fileManager.addFolder(Url::fromString(url)->path());
        Platform platform = test.platform();
        EXPECT_EQ(AppDelegate::quaymarkURL(platform).absoluteString(), url);
    }
}

}  // namespace
}  // namespace quaymark
