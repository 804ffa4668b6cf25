// What one click does, with every service replaced by a test double.
#include <gtest/gtest.h>

#include "AppDelegate.h"
#include "QuaymarkPreferences.h"
#include "TerminalIdentifiers.h"
#include "TestPlatform.h"

namespace quaymark {
namespace {

const char* const kHelperBundle = "/Applications/Quaymark.app/Contents/MacOS/QuaymarkHelper.app";
const char* const kMainBundleUrl = "file:///Applications/Quaymark.app/";

class HelperFlowTest : public ::testing::Test {
protected:
    HelperFlowTest() {
        test.mainBundle.setBundlePath(kHelperBundle);
        test.fileManager.addFolder(kHelperBundle);
        test.fileManager.addFolder(test.fileManager.homeDirectory() + "/Desktop");
        test.workspace.installApplication(terminal_identifier::kAppleTerminal,
                                          "/Applications/Utilities/Terminal.app");
    }

    void store(const std::string& key, PlistValue value) {
        test.preferences.store(key, std::move(value), kPreferencesDomain);
    }
    std::optional<PlistValue> stored(const std::string& key) {
        const PlistDictionary values = test.preferences.values(kPreferencesDomain);
        const PlistValue* value = values.find(key);
        return value ? std::optional<PlistValue>(*value) : std::nullopt;
    }
    int run() {
        Platform platform = test.platform();
        return runQuaymarkHelper(platform);
    }
    // The URL and extra environment of each launch of the main program.
    std::vector<std::string> launches() { return launchesIn(test); }
    static std::vector<std::string> launchesIn(TestPlatform& platform) {
        std::vector<std::string> launches;
        for (const std::string& entry :
             platform.calls.matching({"Workspace.launchApplicationAtUrl"})) {
            launches.push_back(entry.substr(entry.find(' ') + 1));
        }
        return launches;
    }
    bool terminalOpened() { return !test.calls.matching({"Terminal.doScript"}).empty(); }

    TestPlatform test;
};

TEST_F(HelperFlowTest, UpdateLaunchIsDueFromThreeDaysOnOrWithoutAUsableDate) {
    struct Case {
        const char* name;
        std::optional<PlistValue> lastLaunch;
        bool updateDue;
    };
    PlistDate now = ManualClock::kStart;
    const Case cases[] = {
        {"no date stored", std::nullopt, true},
        {"exactly three days ago", PlistValue(PlistDate{now.sinceReferenceDate - 259200.0}), true},
        {"a second short of three days", PlistValue(PlistDate{now.sinceReferenceDate - 259199.0}),
         false},
        {"a week ago", PlistValue(PlistDate{now.sinceReferenceDate - 7 * 86400.0}), true},
        {"in the future", PlistValue(PlistDate{now.sinceReferenceDate + 3600.0}), false},
        {"stored as a string", PlistValue("2015-01-01"), true},
        {"stored as a number", PlistValue::integer(0), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlatform& t = test;
        t.calls.clear();
        t.preferences.setAppValue(preference_key::kLastLaunchDate, std::nullopt,
                                  kPreferencesDomain);
        if (c.lastLaunch)
            store(preference_key::kLastLaunchDate, *c.lastLaunch);
        int runsBefore = t.application.runCount();

        EXPECT_EQ(run(), 0);

        EXPECT_TRUE(terminalOpened());
        if (c.updateDue) {
            EXPECT_EQ(launches(), std::vector<std::string>{std::string(kMainBundleUrl) +
                                                           " checkUpdates=checkUpdates"});
            EXPECT_EQ(stored(preference_key::kLastLaunchDate), PlistValue(now));
            EXPECT_FALSE(t.preferences.hasUnsynchronizedChanges(kPreferencesDomain));
            EXPECT_EQ(t.application.runCount(), runsBefore + 1);
            // The terminal comes first, the update launch after it.
            EXPECT_LT(t.calls.indexOf("Terminal.activate"),
                      t.calls.indexOf("Workspace.launchApplicationAtUrl " +
                                      std::string(kMainBundleUrl) + " checkUpdates=checkUpdates"));
        } else {
            EXPECT_TRUE(launches().empty());
            EXPECT_EQ(stored(preference_key::kLastLaunchDate), c.lastLaunch);
            EXPECT_EQ(t.application.runCount(), runsBefore);
        }
    }
}

TEST_F(HelperFlowTest, LastLaunchDateIsWrittenEvenWhenTheUpdateLaunchFails) {
    test.workspace.setLaunchesFail(true);
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(launches().size(), 1u);
    EXPECT_EQ(stored(preference_key::kLastLaunchDate), PlistValue(ManualClock::kStart));
    EXPECT_EQ(test.preferences.synchronizeCalls(), std::vector<std::string>{kPreferencesDomain});
}

TEST_F(HelperFlowTest, ATerminalThatIsNotInstalledOpensTheSettingsInstead) {
    struct Case {
        const char* name;
        PlistValue identifier;
    };
    const Case cases[] = {
        {"iTerm, not installed", PlistValue(terminal_identifier::kITerm)},
        {"Terminal in other letter case", PlistValue("com.apple.terminal")},
        {"an identifier that is no string", PlistValue::integer(1)},
        {"an empty identifier", PlistValue("")},
    };
    const PlistValue lastLaunch(PlistDate{0});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test.calls.clear();
        store(preference_key::kTerminalIdentifier, c.identifier);
        store(preference_key::kLastLaunchDate, lastLaunch);

        EXPECT_EQ(run(), 0);

        EXPECT_EQ(launches(), std::vector<std::string>{kMainBundleUrl});
        EXPECT_FALSE(terminalOpened());
        EXPECT_TRUE(test.calls.matching({"Finder.", "Terminal.", "iTerm", "Tasks."}).empty());
        EXPECT_TRUE(
            test.calls.matching({"Preferences.setAppValue", "Preferences.appSynchronize"}).empty());
        EXPECT_EQ(stored(preference_key::kLastLaunchDate), lastLaunch);
        EXPECT_EQ(test.application.runCount(), 0);
    }
}

TEST_F(HelperFlowTest, UseWindowChoosesWindowOrTabAndDefaultsToWindow) {
    struct Case {
        const char* name;
        std::optional<PlistValue> useWindow;
        bool expectTab;
    };
    const Case cases[] = {
        {"absent", std::nullopt, false},
        {"YES", PlistValue::boolean(true), false},
        {"NO", PlistValue::boolean(false), true},
        {"the string NO", PlistValue("NO"), true},
        {"zero", PlistValue::integer(0), true},
        {"a string that is no boolean", PlistValue("sometimes"), false},
        {"a date", PlistValue(PlistDate{0}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlatform t;
        t.mainBundle.setBundlePath(kHelperBundle);
        t.workspace.installApplication(terminal_identifier::kAppleTerminal,
                                       "/Applications/Utilities/Terminal.app");
        t.terminal.setRunning(true);
        t.terminal.openWindow();
        if (c.useWindow)
            t.preferences.store(preference_key::kUseWindow, *c.useWindow, kPreferencesDomain);
        // Keep the update launch out of the picture.
        t.preferences.store(preference_key::kLastLaunchDate, PlistValue(ManualClock::kStart),
                            kPreferencesDomain);
        Platform platform = t.platform();

        runQuaymarkHelper(platform);

        // A new tab is made by the keystroke; a new window by doScript without a window.
        bool keystroke = !t.appleScript.sources().empty();
        EXPECT_EQ(keystroke, c.expectTab);
        EXPECT_EQ(t.terminal.windows().size(), c.expectTab ? 1u : 2u);
    }
}

TEST_F(HelperFlowTest, FailuresThatPassThroughAnOpenerAreLoggedAndTheUpdateCheckGoesOn) {
    struct Case {
        const char* name;
        const char* identifier;
        const char* failingCall;
        InjectedFailure failure;
    };
    const Case cases[] = {
        {"next-generation iTerm2, platform failure", terminal_identifier::kITerm2,
         "iTerm2.activate", InjectedFailure::Platform},
        {"next-generation iTerm2, other failure", terminal_identifier::kITerm2, "iTerm2.activate",
         InjectedFailure::RuntimeError},
        {"xterm that cannot start", terminal_identifier::kXterm, "Tasks.launch",
         InjectedFailure::Platform},
        {"iTerm with a failure that is not the platform's", terminal_identifier::kITerm,
         "iTerm.activate", InjectedFailure::LogicError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlatform t;
        t.mainBundle.setBundlePath(kHelperBundle);
        t.fileManager.addFolder(kHelperBundle);
        t.workspace.installApplication(terminal_identifier::kITerm2, "/Applications/iTerm.app");
        t.workspace.installApplication(terminal_identifier::kITerm,
                                       "/Applications/iTerm Classic.app");
        t.fileManager.addFile(terminal_identifier::kXterm);
        t.iTerm2.setVocabulary(ITermVocabulary::NextGeneration);
        t.preferences.store(preference_key::kTerminalIdentifier, PlistValue(c.identifier),
                            kPreferencesDomain);
        t.calls.failOn(c.failingCall, c.failure);
        Platform platform = t.platform();

        EXPECT_EQ(runQuaymarkHelper(platform), 0);

        ASSERT_EQ(t.log.lines().size(), 1u);
        EXPECT_NE(t.log.lines()[0].find(c.identifier), std::string::npos) << t.log.lines()[0];
        EXPECT_EQ(launchesIn(t), std::vector<std::string>{std::string(kMainBundleUrl) +
                                                          " checkUpdates=checkUpdates"});
        EXPECT_EQ(t.preferences.values(kPreferencesDomain)
                      .find(preference_key::kLastLaunchDate)
                      ->asDate(),
                  ManualClock::kStart);
    }
}

TEST(QuaymarkUrlTest, IsTheBundleThreeComponentsUpPercentEncoded) {
    struct Case {
        const char* helperBundle;
        bool mainBundleExists;
        const char* url;
    };
    const Case cases[] = {
        {"/Applications/Quaymark.app/Contents/MacOS/QuaymarkHelper.app", true,
         "file:///Applications/Quaymark.app/"},
        {"/Applications/My Tools/Quaymark.app/Contents/MacOS/QuaymarkHelper.app/", true,
         "file:///Applications/My%20Tools/Quaymark.app/"},
        {"/Users/ana/Downloads/QuaymarkHelper.app", false, "file:///Users"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.helperBundle);
        TestPlatform t;
        t.mainBundle.setBundlePath(c.helperBundle);
        Url expected = *Url::fromString(c.url);
        if (c.mainBundleExists)
            t.fileManager.addFolder(expected.path());
        Platform platform = t.platform();
        EXPECT_EQ(AppDelegate::quaymarkURL(platform).absoluteString(), c.url);
    }
}

}  // namespace
}  // namespace quaymark
