// What the update window offers for each kind of item a feed can hold, seen and answered on
// the desktop's display as a user does: an informational item, a critical one, and one in a
// channel the user has not joined. The feed's archives are never fetched: no answer given
// here installs anything.
#include <unistd.h>

#include <algorithm>
#include <set>

#include "EndToEndTest.h"
#include "QuaymarkPreferences.h"
#include "UpdateArchives.h"
#include "display/DisplayWindows.h"
#include "display/XvfbServer.h"
#include "posix/Spawn.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
// Seconds suffice; the rest is for the sanitizer build on a loaded machine.
constexpr std::chrono::seconds kWindowTime{30};
constexpr const char* kSkippedVersion = "SUSkippedVersion";
constexpr const char* kWhatsNew = "http://127.0.0.1:9/whats-new.html";
using preference_key::kUpdateChannels;
using preference_key::kUpdateReminderVersion;

// One item offering 1.1 with `details` inside it; with an archive unless it is informational.
std::string itemOffering11(const std::string& details, bool withArchive = true) {
    return "<item><title>Version 1.1</title><link>" + std::string(kWhatsNew) +
           "</link><sparkle:version>1.1</sparkle:version>" + details +
           (withArchive ? "<enclosure url=\"http://127.0.0.1:9/Quaymark-1.1.zip\" length=\"100\" "
                          "type=\"application/zip\"/>"
                        : "") +
           "</item>";
}

class UpdateRulesTest : public EndToEndTest {
protected:
    void SetUp() override {
        if (access(DisplayWindows::kXdotool, X_OK) != 0 || !XvfbServer::isInstalled())
            GTEST_SKIP() << "xdotool or Xvfb is missing (Debian packages xdotool, xvfb)";
        ASSERT_NO_FATAL_FAILURE(layOut({}, {.display = true, .realMainProgram = true}));
        _feed = directory.path() / "feed";
        fs::create_directories(_feed);
        ASSERT_NO_FATAL_FAILURE(publish(""));
        ASSERT_TRUE(succeeded(desktop->serveFeed(_feed.string(), QUAYMARK_FEED_SERVER)));
        const testing::SigningKey key;
        ASSERT_TRUE(succeeded(
            desktop->installQuaymarkForUpdates(QUAYMARK_APP_DIR, "1.0", key.publicKeyBase64())));
        display.emplace(desktop->display()->address, QUAYMARK_SCREENSHOT_PROGRAM);
    }

    void publish(const std::string& items) {
        testing::writeFile(
            _feed / "appcast.xml",
            "<?xml version=\"1.0\"?>\n<rss version=\"2.0\" "
            "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
            "<title>Quaymark</title>" +
                items + "</channel></rss>\n");
    }

    // Starts the settings application, whose launch-time check offers what the feed holds.
    std::optional<DisplayWindow> startAndWaitForOffer() {
        _quaymark = desktop->startApplication("Quaymark");
        if (_quaymark <= 0)
            return std::nullopt;
        return display->waitForWindow("Software Update", kWindowTime, _quaymark);
    }

    // Waits until the window is no longer shown; false when it still is.
    bool waitUntilClosed(const DisplayWindow& window) {
        return testing::waitUntil(
            [&] {
                const std::vector<DisplayWindow> shown = display->shownWindows();
                return std::none_of(shown.begin(), shown.end(), [&](const DisplayWindow& each) {
                    return each.id == window.id;
                });
            },
            kWindowTime);
    }

    // What `Quaymark check-for-updates` prints on standard output, and its status.
    std::pair<std::string, int> checkFromTheCommandLine() const {
        const Result<ProcessOutcome> outcome =
            runAndCollect({.executable = desktop->systemRoot().map("/Applications/Quaymark.app") +
                                         "/Contents/MacOS/Quaymark",
                           .arguments = {"check-for-updates"},
                           .environment = desktop->environment(),
                           .capture = Capture::Both},
                          kWindowTime);
        if (!outcome)
            return {outcome.error(), -1};
        return {outcome->output + outcome->errorOutput, outcome->exitStatus};
    }

    // The files beside the installed application: an update under way leaves a folder there.
    std::set<std::string> applicationsFolder() const {
        std::set<std::string> names;
        for (const fs::directory_entry& entry :
             fs::directory_iterator(desktop->root() + "/Applications"))
            names.insert(entry.path().filename().string());
        return names;
    }

    fs::path _feed;
    std::optional<DisplayWindows> display;
    int _quaymark = -1;
};

TEST_F(UpdateRulesTest, AnInformationalItemOffersItsPageAndNothingToInstall) {
    ASSERT_NO_FATAL_FAILURE(publish(itemOffering11("<sparkle:informationalUpdate/>", false)));
    const auto [line, status] = checkFromTheCommandLine();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(line,
              "Quaymark 1.1 has been announced (this is 1.0); there is nothing to install, "
              "see " +
                  std::string(kWhatsNew) + ".\n");

    const std::set<std::string> before = applicationsFolder();
    std::optional<DisplayWindow> offer = startAndWaitForOffer();
    ASSERT_TRUE(offer);
    // Return presses the window's default button, which for information is the page.
    ASSERT_TRUE(display->pressKeys(*offer, {"Return"}));
    EXPECT_TRUE(waitUntilClosed(*offer));
    EXPECT_TRUE(testing::waitUntil(
        [&] { return desktop->urlsOpened() == std::vector<std::string>{kWhatsNew}; }, kWindowTime))
        << "opened: " << desktop->urlsOpened().size() << " addresses";
    EXPECT_EQ(applicationsFolder(), before);
    EXPECT_EQ(desktop->installedQuaymarkVersion(), "Quaymark 1.0");
}

// The skip button answers alt+s wherever a window has one: so the same keys that skip an
// ordinary release do nothing to a critical one, and Escape then still reaches its window.
TEST_F(UpdateRulesTest, ACriticalItemIsOfferedThoughSkippedAndCannotBeSkipped) {
    ASSERT_NO_FATAL_FAILURE(publish(itemOffering11("")));
    std::optional<DisplayWindow> offer = startAndWaitForOffer();
    ASSERT_TRUE(offer);
    ASSERT_TRUE(display->pressKeys(*offer, {"alt+s"}));
    ASSERT_TRUE(waitUntilClosed(*offer));
    ASSERT_TRUE(testing::waitUntil(
        [&] { return storedPreference(kSkippedVersion) == PlistValue("1.1"); }, kWindowTime));
    ASSERT_TRUE(desktop->stopApplication("Quaymark"));

    ASSERT_NO_FATAL_FAILURE(publish(itemOffering11("<sparkle:criticalUpdate/>")));
    offer = startAndWaitForOffer();
    ASSERT_TRUE(offer) << "a skipped critical update was not offered";
    ASSERT_TRUE(display->pressKeys(*offer, {"alt+s", "Escape"}));
    ASSERT_TRUE(waitUntilClosed(*offer));
    // Escape reminds later: that it was recorded shows alt+s had left the window open.
    EXPECT_TRUE(testing::waitUntil(
        [&] { return storedPreference(kUpdateReminderVersion) == PlistValue("1.1"); },
        kWindowTime));
}

TEST_F(UpdateRulesTest, AnItemInAChannelIsOfferedOnlyOnceTheUserAcceptsTheChannel) {
    ASSERT_NO_FATAL_FAILURE(publish(itemOffering11("<sparkle:channel>beta</sparkle:channel>")));
    EXPECT_EQ(checkFromTheCommandLine(),
              std::make_pair(std::string("Quaymark 1.0 is up to date.\n"), 0));

    ASSERT_NO_FATAL_FAILURE(storePreferences({{kUpdateChannels, PlistArray{PlistValue("beta")}}}));
    EXPECT_EQ(checkFromTheCommandLine(),
              std::make_pair(std::string("Quaymark 1.1 is available (this is 1.0).\n"), 0));
    EXPECT_TRUE(startAndWaitForOffer());
}

}  // namespace
}  // namespace quaymark
