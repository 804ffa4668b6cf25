// An update end to end: Quaymark 1.0 finds 1.1 in a feed on 127.0.0.1 made by make-release,
// installs it at Return in the update window, and the button still opens the terminal; a
// release signed with another key leaves 1.0 as it was.
#include <unistd.h>

#include "ApplicationRegistry.h"
#include "DisplayWindows.h"
#include "EndToEndTest.h"
#include "QuaymarkPreferences.h"
#include "TerminalIdentifiers.h"
#include "UpdateArchives.h"
#include "XvfbServer.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using terminal_identifier::kAppleTerminal;
// A window shows within seconds; the rest is for a loaded machine and the sanitizer build,
// whose download and signature check of the large bundle are slow.
constexpr std::chrono::seconds kWindowTime{30};

class UpdateCycleTest : public EndToEndTest {
protected:
    void TearDown() override {
        // The old version starts the new one past launch services: the desktop knows only
        // the old.
        if (successor)
            endProcess(successor->pid, std::chrono::seconds(2));
        EndToEndTest::TearDown();
    }
    std::optional<DisplayWindow> successor;
};

TEST_F(UpdateCycleTest, OneOneSignedWithTheKeyReplacesOneZeroAndTheButtonStillOpensTheTerminal) {
    for (const char* tool : {"/usr/bin/python3", "/usr/bin/openssl", "/usr/bin/xdotool"})
        if (access(tool, X_OK) != 0 || !XvfbServer::isInstalled())
            GTEST_SKIP() << tool << " or Xvfb is missing";
    DesktopOptions options;
    options.iTerm = options.iTerm2 = options.xterm = false;
    ASSERT_NO_FATAL_FAILURE(layOut(options, {.display = true, .realMainProgram = true}));
    const fs::path feed = directory.path() / "feed";
    fs::create_directories(feed);
    ASSERT_EQ(desktop->serveFeed(feed.string(), QUAYMARK_FEED_SERVER), std::nullopt);
    // 1.1 is first signed with a key 1.0 does not trust, then made again with the trusted one,
    // which replaces its item in the feed.
    const fs::path key = directory.path() / "key";
    const std::vector<std::string> release = {
        "--version", "1.1",         "--app", QUAYMARK_APP_DIR,
        "--feed",    feed.string(), "--url", desktop->feed()->address};
    const auto made = [&](std::vector<std::string> arguments) {
        std::string output;
        std::optional<std::string> publicKey = makeRelease(arguments, output);
        EXPECT_TRUE(publicKey) << output;
        return publicKey.value_or("");
    };
    std::vector<std::string> untrusted = release;
    untrusted.insert(untrusted.end(), {"--new-key", (directory.path() / "other").string()});
    made(untrusted);
    ASSERT_EQ(desktop->installQuaymark(QUAYMARK_APP_DIR, InstallLocation::Applications,
                                       {{"CFBundleVersion", "1.0"},
                                        {"CFBundleShortVersionString", "1.0"},
                                        {"SUFeedURL", desktop->feed()->address + "appcast.xml"},
                                        {"SUPublicEDKey", made({"--new-key", key.string()})}}),
              std::nullopt);
    const std::string applications = desktop->root() + "/Applications";
    DisplayWindows display(desktop->display()->address, QUAYMARK_SCREENSHOT_PROGRAM);

    // 1.0 refuses the release after the download and, with the folder it holds, stays as it
    // was once its launch had refreshed the button's icon.
    const int refusing = desktop->startApplication("Quaymark");
    std::optional<DisplayWindow> offer =
        display.waitForWindow("Software Update", kWindowTime, refusing);
    ASSERT_TRUE(offer);
    const std::string untouched = testing::treePicture(applications);
    ASSERT_TRUE(display.pressKeys(*offer, {"Return"}));
    EXPECT_TRUE(display.waitForWindow("Update Error!", kWindowTime, refusing));
    EXPECT_TRUE(testing::treePicture(applications) == untouched) << "1.0 was changed";
    EXPECT_EQ(desktop->installedQuaymarkVersion(), "Quaymark 1.0");
    ASSERT_TRUE(desktop->stopApplication("Quaymark"));

    // Signed with the trusted key, 1.1 is offered at a click three days after the last launch,
    // which opens the terminal too; Return puts it in place of 1.0, which ends.
    std::vector<std::string> trusted = release;
    trusted.insert(trusted.end(), {"--key", (key / "quaymark-ed25519.pem").string()});
    made(trusted);
    storePreferences({{preference_key::kLastLaunchDate,
                       PlistDate::fromUnixSeconds(now().unixSeconds() - 3 * 86400 - 60)}});
    const std::string folder = makeFolder("Projects/After the update");
    ASSERT_TRUE(desktop->openFinderWindow(folder));
    ASSERT_TRUE(click());
    EXPECT_TRUE(waitUntilShellIsIn(kAppleTerminal, 0, folder));
    offer = display.waitForWindow("Software Update", kWindowTime);
    ASSERT_TRUE(offer);
    ASSERT_TRUE(display.pressKeys(*offer, {"Return"}));
    successor = display.waitForSuccessor("Quaymark", offer->pid, kWindowTime);
    ASSERT_TRUE(successor) << "1.0 did not give way to a new version";
    EXPECT_EQ(desktop->installedQuaymarkVersion(), "Quaymark 1.1");

    closeTerminalWindows(kAppleTerminal);
    ASSERT_TRUE(click());
    EXPECT_TRUE(waitUntilShellIsIn(kAppleTerminal, 0, folder));
}

}  // namespace
}  // namespace quaymark
