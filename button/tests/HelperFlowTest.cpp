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
    std::optional<PlistValue> stored(const std::string& key) const {
        const PlistDictionary values = test.preferences.values(kPreferencesDomain);
        const PlistValue* value = values.find(key);
        return value ? std::optional<PlistValue>(*value) : std::nullopt;
    }
    std::vector<std::string> launches() const {
        return test.calls.matching({"Workspace.launchApplicationAtUrl"});
    }

    TestPlatform test;
};

const PlistValue kNow(ManualClock::kStart);

TEST(HelperFlow, UpdateLaunchIsDueFromThreeDaysOnOrWithoutAUsableDate) {
    struct Case {
        const char* name;
        std::optional<PlistValue> lastLaunch;
        bool updateDue;
    };
    double now = ManualClock::kStart.sinceReferenceDate;
    const Case cases[] = {
        {"no date stored", std::nullopt, true},
        {"exactly three days ago", PlistValue(PlistDate{now - 259200.0}), true},
        {"a second short of three days", PlistValue(PlistDate{now - 259199.0}), false},
        {"in the future", PlistValue(PlistDate{now + 3600.0}), false},
        {"stored as a string", PlistValue("2015-01-01"), true},
        {"stored as a number", PlistValue::integer(0), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Click click;
        if (c.lastLaunch)
            click.test.preferences.store(preference_key::kLastLaunchDate, *c.lastLaunch,
                                         kPreferencesDomain);

        EXPECT_EQ(click.run(), 0);

        EXPECT_EQ(click.test.terminal.windows().size(), 2u);  // a new window, the default
        EXPECT_EQ(click.launches(),
                  c.updateDue ? std::vector{kUpdateLaunch} : std::vector<std::string>{});
        EXPECT_EQ(click.stored(preference_key::kLastLaunchDate), c.updateDue ? kNow : c.lastLaunch);
        EXPECT_FALSE(click.test.preferences.hasUnsynchronizedChanges(kPreferencesDomain));
        EXPECT_EQ(click.test.application.runCount(), c.updateDue ? 1 : 0);
        // The terminal comes first, the update launch after it.
        EXPECT_EQ(
            click.test.calls.indexOf("Terminal.activate") < click.test.calls.indexOf(kUpdateLaunch),
            c.updateDue);
    }
}

TEST(HelperFlow, LastLaunchDateIsWrittenEvenWhenTheUpdateLaunchFails) {
    Click click;
    click.test.workspace.setLaunchesFail(true);
    EXPECT_EQ(click.run(), 0);
    EXPECT_EQ(click.launches(), std::vector{kUpdateLaunch});
    EXPECT_EQ(click.stored(preference_key::kLastLaunchDate), kNow);
    EXPECT_EQ(click.test.preferences.synchronizeCalls(),
              std::vector{std::string(kPreferencesDomain)});
}

TEST(HelperFlow, ATerminalThatIsNotInstalledOpensTheSettingsInstead) {
    const PlistValue lastLaunch(PlistDate{0});
    for (const PlistValue& identifier : {PlistValue(kITerm), PlistValue("com.apple.terminal"),
                                         PlistValue::integer(1), PlistValue("")}) {
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
        EXPECT_EQ(click.stored(preference_key::kLastLaunchDate), lastLaunch);
        EXPECT_EQ(click.test.application.runCount(), 0);
    }
}

TEST(HelperFlow, UseWindowChoosesWindowOrTabAndDefaultsToWindow) {
    const std::pair<std::optional<PlistValue>, bool> cases[] = {
        {std::nullopt, false},
        {PlistValue::boolean(true), false},
        {PlistValue::boolean(false), true},
        {PlistValue("NO"), true},
        {PlistValue::integer(0), true},
        {PlistValue("sometimes"), false},
        {PlistValue(PlistDate{0}), false},
    };
    for (const auto& [useWindow, tab] : cases) {
        SCOPED_TRACE(useWindow ? useWindow->description() : "absent");
        // A recent launch keeps the update launch out of the picture.
        Click click({{preference_key::kLastLaunchDate, kNow}});
        if (useWindow)
            click.test.preferences.store(preference_key::kUseWindow, *useWindow,
                                         kPreferencesDomain);
        click.run();
        // A new tab is made by the keystroke; a new window by doScript without a window.
        EXPECT_EQ(click.test.appleScript.sources().size(), tab ? 1u : 0u);
        EXPECT_EQ(click.test.terminal.windows().size(), tab ? 1u : 2u);
    }
}

TEST(HelperFlow, FailuresThatPassThroughAnOpenerAreLoggedAndTheUpdateCheckGoesOn) {
    struct Case {
        const char* identifier;
        const char* failingCall;
        InjectedFailure failure;
    };
    const Case cases[] = {
        {kITerm2, "iTerm2.activate", InjectedFailure::Platform},      // next generation
        {kITerm2, "iTerm2.activate", InjectedFailure::RuntimeError},  // next generation
        {kXterm, "Tasks.launch", InjectedFailure::Platform},
        {kITerm, "iTerm.activate", InjectedFailure::LogicError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failingCall);
        Click click({{preference_key::kTerminalIdentifier, PlistValue(c.identifier)}});
        click.test.workspace.installApplication(kITerm2, "/Applications/iTerm.app");
        click.test.workspace.installApplication(kITerm, "/Applications/iTerm Classic.app");
        click.test.fileManager.addFile(kXterm);
        click.test.iTerm2.setVocabulary(ITermVocabulary::NextGeneration);
        click.test.calls.failOn(c.failingCall, c.failure);

        EXPECT_EQ(click.run(), 0);

        ASSERT_EQ(click.test.log.lines().size(), 1u);
        EXPECT_NE(click.test.log.lines()[0].find(c.identifier), std::string::npos)
            << click.test.log.lines()[0];
        EXPECT_EQ(click.launches(), std::vector{kUpdateLaunch});
        EXPECT_EQ(click.stored(preference_key::kLastLaunchDate), kNow);
    }
}

TEST(HelperFlow, QuaymarkUrlIsTheBundleThreeComponentsUpPercentEncoded) {
    const std::pair<const char*, const char*> cases[] = {
        {"/Applications/Quaymark.app/Contents/MacOS/QuaymarkHelper.app",
         "file:///Applications/Quaymark.app/"},
        {"/Applications/My Tools/Quaymark.app/Contents/MacOS/QuaymarkHelper.app/",
         "file:///Applications/My%20Tools/Quaymark.app/"},
        {"/Users/ana/Downloads/QuaymarkHelper.app", "file:///Users"},
    };
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
