// Updates with the built programs: the main program's update commands, and a whole update from
// a feed on 127.0.0.1 made by make-release, on a stand-in desktop.
#include <unistd.h>

#include <set>

#include "EndToEndTest.h"
#include "QuaymarkPreferences.h"
#include "TerminalIdentifiers.h"
#include "UpdateArchives.h"
#include "display/DisplayWindows.h"
#include "display/XvfbServer.h"
#include "launch/ApplicationRegistry.h"
#include "plist/PlistCodec.h"
#include "posix/Posix.h"
#include "posix/Spawn.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using terminal_identifier::kAppleTerminal;
// Seconds suffice; the rest is for the sanitizer build on a loaded machine.
constexpr std::chrono::seconds kWindowTime{30};

// A program's build ID, and whether it holds debug information (a release ships none).
std::pair<std::string, bool> buildIdAndDebugging(const std::string& program) {
    const std::string shown =
        testing::runProcess({"/usr/bin/readelf", "-S", "-n", "--wide", program}, {}).output;
    const std::size_t at = shown.find("Build ID: ");
    return {at == std::string::npos ? "" : shown.substr(at, shown.find('\n', at) - at),
            shown.find(".debug_info") != std::string::npos};
}

class UpdateCycleTest : public EndToEndTest {
protected:
    void TearDown() override {
        for (const int child : _children) {
            endProcess(child, std::chrono::seconds(2));
            waitForChild(child);
        }
        EndToEndTest::TearDown();
    }
    // Starts the installed Quaymark on the desktop's display as this process's own child,
    // ended with the test; its pid, or -1 with the failure reported.
    int startQuaymarkAsChild(const std::string& logName) {
        Result<StartedProcess> started =
            spawnProcess({.executable = desktop->systemRoot().map(
                              "/Applications/Quaymark.app/Contents/MacOS/Quaymark"),
                          .environment = desktop->environment(),
                          .logFile = (directory.path() / logName).string()});
        EXPECT_EQ(started.error(), "");
        if (started)
            _children.push_back(started->pid);
        return started ? started->pid : -1;
    }
    // The pids of the shown windows titled `title`.
    std::set<int> windowOwners(const DisplayWindows& display, const std::string& title) const {
        std::set<int> owners;
        for (const DisplayWindow& window : display.shownWindows())
            if (window.title == title)
                owners.insert(window.pid);
        return owners;
    }

    std::vector<int> _children;
};

TEST_F(UpdateCycleTest, OneOneSignedWithTheKeyReplacesOneZeroAndTheButtonStillOpensTheTerminal) {
    for (const char* tool : {"/usr/bin/python3", "/usr/bin/openssl", "/usr/bin/xdotool"})
        if (access(tool, X_OK) != 0 || !XvfbServer::isInstalled())
            GTEST_SKIP() << tool << " or Xvfb is missing";
    ASSERT_NO_FATAL_FAILURE(layOut({}, {.display = true, .realMainProgram = true}));
    const fs::path feed = directory.path() / "feed";
    fs::create_directories(feed);
    ASSERT_TRUE(succeeded(desktop->serveFeed(feed.string(), QUAYMARK_FEED_SERVER)));
    // 1.1 is first signed with a key 1.0 does not trust, then made again with the trusted one,
    // which replaces its item in the feed. The new version reads the same feed, so that its
    // own check stays on this machine too.
    const std::vector<std::string> release = {
        "--version",  "1.1",
        "--app",      QUAYMARK_APP_DIR,
        "--feed",     feed.string(),
        "--url",      desktop->feed()->address,
        "--feed-url", desktop->feed()->address + "appcast.xml"};
    const auto signedWith = [&](std::vector<std::string> key) {
        key.insert(key.end(), release.begin(), release.end());
        return succeeded(makeRelease(key));
    };
    const fs::path key = directory.path() / "key";
    const Result<std::string> trusted = makeRelease({"--new-key", key.string()});
    ASSERT_TRUE(succeeded(trusted));
    ASSERT_TRUE(signedWith({"--new-key", (directory.path() / "other").string()}));
    ASSERT_TRUE(
        succeeded(desktop->installQuaymarkForUpdates(QUAYMARK_APP_DIR, "1.0", trusted.value())));
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
    ASSERT_TRUE(signedWith({"--key", (key / "quaymark-ed25519.pem").string()}));
    storePreferences({{preference_key::kLastLaunchDate,
                       PlistDate::fromUnixSeconds(now().unixSeconds() - 3 * 86400 - 60)}});
    const std::string folder = makeFolder("Projects/After the update");
    ASSERT_TRUE(desktop->openFinderWindow(folder));
    ASSERT_TRUE(click());
    EXPECT_TRUE(waitUntilShellIsIn(kAppleTerminal, 0, folder));
    offer = display.waitForWindow("Software Update", kWindowTime);
    ASSERT_TRUE(offer);
    ASSERT_TRUE(display.pressKeys(*offer, {"Return"}));
    std::optional<DisplayWindow> successor =
        display.waitForSuccessor("Quaymark", offer->pid, kWindowTime);
    ASSERT_TRUE(successor) << "1.0 did not give way to a new version";
    EXPECT_EQ(desktop->installedQuaymarkVersion(), "Quaymark 1.1");
    // 1.1 checks its own later updates against the key that signed it.
    std::optional<DecodedPlist> info =
        readPlistFile(applications + "/Quaymark.app/Contents/Info.plist");
    const PlistValue* publicKey = info && info->value.asDictionary()
                                      ? info->value.asDictionary()->find("SUPublicEDKey")
                                      : nullptr;
    EXPECT_TRUE(publicKey && publicKey->asString() && *publicKey->asString() == trusted.value());
    // Launch services know the new version as they knew the old, and end it with the desktop.
    const std::vector<RunningApplication> running = desktop->runningApplications();
    EXPECT_TRUE(std::any_of(running.begin(), running.end(), [&](const RunningApplication& each) {
        return each.pid == successor->pid && each.bundleIdentifier == "com.brindlewood.Quaymark";
    }));

    closeTerminalWindows(kAppleTerminal);
    ASSERT_TRUE(click());
    EXPECT_TRUE(waitUntilShellIsIn(kAppleTerminal, 0, folder));
}

// Two copies of 1.0 answer the same offer at once. Whichever takes the lock beside the bundle
// first downloads, and the feed holds its archive until the other has been refused; the lock
// is held from before the download until the new version runs, so the refusal, not a second
// exchange, is what the installer guarantees. A second installation could not otherwise be
// ruled out: one that started after the first had finished would find 1.1 in place of 1.0.
TEST_F(UpdateCycleTest, TwoUpdatesStartedAtOnceLeaveOneCompleteNewerApplication) {
    for (const char* tool : {"/usr/bin/python3", "/usr/bin/openssl", "/usr/bin/xdotool"})
        if (access(tool, X_OK) != 0 || !XvfbServer::isInstalled())
            GTEST_SKIP() << tool << " or Xvfb is missing";
    ASSERT_NO_FATAL_FAILURE(layOut({}, {.display = true, .realMainProgram = true}));
    const fs::path feed = directory.path() / "feed";
    fs::create_directories(feed);
    const std::string archive = "/Quaymark-1.1.zip";
    ASSERT_TRUE(
        succeeded(desktop->serveFeed(feed.string(), QUAYMARK_FEED_SERVER, {"--hold", archive})));
    const std::string address = desktop->feed()->address;
    const fs::path key = directory.path() / "key";
    const Result<std::string> trusted = makeRelease({"--new-key", key.string()});
    ASSERT_TRUE(succeeded(trusted));
    ASSERT_TRUE(
        succeeded(makeRelease({"--key", (key / "quaymark-ed25519.pem").string(), "--version", "1.1",
                               "--app", QUAYMARK_APP_DIR, "--feed", feed.string(), "--url", address,
                               "--feed-url", address + "appcast.xml"})));
    ASSERT_TRUE(
        succeeded(desktop->installQuaymarkForUpdates(QUAYMARK_APP_DIR, "1.0", trusted.value())));
    const std::string applications = desktop->root() + "/Applications";
    const std::string installed = applications + "/Quaymark.app";
    DisplayWindows display(desktop->display()->address, QUAYMARK_SCREENSHOT_PROGRAM);
    const auto entries = [](const std::string& folder) {
        std::set<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder))
            names.insert(entry.path().filename().string());
        return names;
    };
    const std::set<std::string> applicationsBefore = entries(applications);

    // Started directly: launch services would only bring the first to the front again.
    const int first = startQuaymarkAsChild("first.log"),
              second = startQuaymarkAsChild("second.log");
    ASSERT_TRUE(first > 0 && second > 0);
    const std::optional<DisplayWindow> firstOffer =
        display.waitForWindow("Software Update", kWindowTime, first);
    const std::optional<DisplayWindow> secondOffer =
        display.waitForWindow("Software Update", kWindowTime, second);
    ASSERT_TRUE(firstOffer && secondOffer);
    ASSERT_TRUE(display.pressKeys(*firstOffer, {"Return"}));
    ASSERT_TRUE(display.pressKeys(*secondOffer, {"Return"}));

    // One of the two is refused while the other waits for the archive, its lock in place.
    std::set<int> refused;
    EXPECT_TRUE(testing::waitUntil(
        [&] { return !(refused = windowOwners(display, "Update Error!")).empty(); }, kWindowTime))
        << "neither update was refused";
    ASSERT_EQ(refused.size(), 1u);
    const int refusedPid = *refused.begin(), installing = refusedPid == first ? second : first;
    ASSERT_TRUE(refusedPid == first || refusedPid == second) << refusedPid;
    const std::string held = "held " + archive + "\n";
    EXPECT_TRUE(testing::waitUntil(
        [&] { return desktop->feedServerOutput().find(held) != std::string::npos; }, kWindowTime));
    EXPECT_TRUE(fs::exists(applications + "/.Quaymark.app.lock"));
    EXPECT_EQ(desktop->installedQuaymarkVersion(), "Quaymark 1.0");
    EXPECT_TRUE(
        testing::readFile(directory.path() / (refusedPid == first ? "first.log" : "second.log"))
            .find("Another update of Quaymark.app is being installed.") != std::string::npos);

    // Once the archive comes, the installing copy puts 1.1 in place and gives way to it; the
    // refused copy stays, showing its error, and changes nothing.
    ASSERT_TRUE(desktop->releaseHeldFeedRequests());
    std::set<int> successors;
    EXPECT_TRUE(testing::waitUntil(
        [&] {
            successors = windowOwners(display, "Quaymark");
            successors.erase(first);
            successors.erase(second);
            return !processStartTime(installing) && !successors.empty();
        },
        kWindowTime))
        << "1.0 did not give way to a new version";
    EXPECT_TRUE(processStartTime(refusedPid));
    EXPECT_EQ(windowOwners(display, "Update Error!"), std::set<int>{refusedPid});
    EXPECT_EQ(desktop->installedQuaymarkVersion(), "Quaymark 1.1");

    // The new bundle is the release's whole: everything but the information dictionary, which
    // the release stamped, is the built bundle's, and both programs are the built ones without
    // their debug information (a release ships them stripped). The successor's start sets the
    // button's icon in the helper bundle's own folder, so that bundle is compared from its
    // Contents down.
    const std::string built = QUAYMARK_APP_DIR;
    const std::string helper = "/Contents/MacOS/QuaymarkHelper.app/Contents";
    for (const std::string& part :
         std::vector<std::string>{"/Contents", "/Contents/MacOS", helper, helper + "/MacOS"})
        EXPECT_EQ(entries(installed + part), entries(built + part)) << part;
    for (const std::string& part :
         std::vector<std::string>{"/Contents/Resources", helper + "/Resources"})
        EXPECT_TRUE(testing::treePicture(installed + part) == testing::treePicture(built + part))
            << part << " differs from the release's";
    for (const std::string& executable :
         std::vector<std::string>{"/Contents/MacOS/Quaymark", helper + "/MacOS/QuaymarkHelper"}) {
        EXPECT_EQ(access((installed + executable).c_str(), X_OK), 0) << executable;
        const std::string builtId = buildIdAndDebugging(built + executable).first;
        EXPECT_FALSE(builtId.empty()) << executable;
        EXPECT_EQ(buildIdAndDebugging(installed + executable), std::make_pair(builtId, false))
            << executable;
    }
    std::optional<DecodedPlist> info = readPlistFile(installed + "/Contents/Info.plist");
    const PlistValue* version = info && info->value.asDictionary()
                                    ? info->value.asDictionary()->find("CFBundleVersion")
                                    : nullptr;
    EXPECT_TRUE(version && version->asString() && *version->asString() == "1.1");
    // Nothing an update leaves behind (its folder, its lock) remains beside the bundle.
    EXPECT_EQ(entries(applications), applicationsBefore);
    // The archive was asked for once: the refused copy never downloaded.
    const std::string served = desktop->feedServerOutput();
    EXPECT_EQ(served.find(held), served.rfind(held)) << served;
}

TEST_F(UpdateCycleTest, AFeedAlteredByOneByteIsRefusedByABundleThatRequiresSignedFeeds) {
    for (const char* tool : {"/usr/bin/python3", "/usr/bin/openssl"})
        if (access(tool, X_OK) != 0)
            GTEST_SKIP() << tool << " is missing";
    ASSERT_NO_FATAL_FAILURE(layOut({}, {.realMainProgram = true}));
    const fs::path feed = directory.path() / "feed";
    fs::create_directories(feed);
    ASSERT_TRUE(succeeded(desktop->serveFeed(feed.string(), QUAYMARK_FEED_SERVER)));
    const std::string address = desktop->feed()->address;
    const Result<std::string> publicKey =
        makeRelease({"--new-key", (directory.path() / "key").string(), "--version", "1.1", "--app",
                     QUAYMARK_APP_DIR, "--feed", feed.string(), "--url", address});
    ASSERT_TRUE(succeeded(publicKey));
    const auto install = [&](bool requireSignedFeed) {
        PlistDictionary info{{"CFBundleVersion", "1.0"},
                             {"CFBundleShortVersionString", "1.0"},
                             {"SUFeedURL", address + "appcast.xml"},
                             {"SUPublicEDKey", publicKey.value()}};
        if (requireSignedFeed)
            info.set("SURequireSignedFeed", PlistValue::boolean(true));
        return desktop->installQuaymark(QUAYMARK_APP_DIR, InstallLocation::Applications, info);
    };
    const auto check = [&] {
        Result<ProcessOutcome> ran = runAndCollect(
            {.executable =
                 desktop->systemRoot().map("/Applications/Quaymark.app/Contents/MacOS/Quaymark"),
             .arguments = {"check-for-updates"},
             .environment = desktop->environment(),
             .capture = Capture::Both},
            std::chrono::seconds(60));
        EXPECT_TRUE(ran) << ran.error();
        return ran ? std::move(ran).value() : ProcessOutcome{};
    };
    const std::string available = "Quaymark 1.1 is available (this is 1.0).\n";

    ASSERT_TRUE(succeeded(install(true)));
    ProcessOutcome checked = check();
    EXPECT_EQ(checked.exitStatus, 0) << checked.errorOutput;
    EXPECT_EQ(checked.output, available);

    // One byte of the item's title changed, as a network or a server in between could.
    const std::string appcast = (feed / "appcast.xml").string();
    std::string altered = testing::readFile(appcast);
    const std::size_t title = altered.find("<title>Version 1.1</title>");
    ASSERT_NE(title, std::string::npos) << altered;
    altered[title + 15] = '2';
    testing::writeFile(appcast, altered);
    checked = check();
    EXPECT_EQ(checked.exitStatus, 1);
    EXPECT_EQ(checked.output, "");
    EXPECT_TRUE(checked.errorOutput.starts_with(
        "The update feed was refused because it is not signed as this application requires: "
        "its signature does not verify"))
        << checked.errorOutput;

    // The same feed is read as before by a copy that does not require signed feeds.
    ASSERT_TRUE(succeeded(install(false)));
    checked = check();
    EXPECT_EQ(checked.exitStatus, 0) << checked.errorOutput;
    EXPECT_EQ(checked.output, available);
}

TEST(UpdateCommandsTest, EachAnswersInOneLineWithItsStatusAndFailuresGoToStandardErrorOnce) {
    testing::TemporaryDirectory directory;
    const std::string folder = directory.path().string();
    const std::string feed = "file://" + folder + "/";
    for (const std::string version : {"1.0", "1.1"})
        testing::writeFile(folder + "/" + version, testing::appcastOffering(version));
    ASSERT_TRUE(succeeded(copyApplication(QUAYMARK_APP_DIR, folder + "/Quaymark.app",
                                          {{"CFBundleVersion", "1.0"},
                                           {"CFBundleShortVersionString", "1.0 beta"},
                                           {"SUFeedURL", feed + "1.1"}})));
    const std::string check = "check-for-updates";
    const std::string usage = "usage: Quaymark check-for-updates [--feed URL]\n",
                      unloaded = "The update feed could not be loaded: ";
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string output, errorBegins;
    } cases[] = {
        {{"--version"}, 0, "Quaymark 1.0 beta (1.0)\n", ""},
        {{check}, 0, "Quaymark 1.1 is available (this is 1.0 beta).\n", ""},
        {{check, "--feed", feed + "1.0"}, 0, "Quaymark 1.0 beta is up to date.\n", ""},
        {{check, "--feed", "http://127.0.0.1:1/appcast.xml"}, 1, "", unloaded},
        {{check, "--feed"}, 2, "", usage},
        {{check, "now"}, 2, "", usage},
    };
    for (const auto& each : cases) {
        const Result<ProcessOutcome> ran = runAndCollect(
            {.executable = folder + "/Quaymark.app/Contents/MacOS/Quaymark",
             .arguments = each.arguments,
             .environment = {{"HOME", folder}, {"QUAYMARK_SYSTEM_ROOT", folder + "/root"}},
             .capture = Capture::Both},
            std::chrono::seconds(60));
        ASSERT_TRUE(ran) << ran.error();
        const ProcessOutcome& outcome = ran.value();
        EXPECT_EQ(outcome.exitStatus, each.status) << each.arguments.back();
        EXPECT_EQ(outcome.output, each.output);
        // Nothing, or one line, on standard error.
        EXPECT_TRUE(outcome.errorOutput.starts_with(each.errorBegins) &&
                    outcome.errorOutput.empty() == each.errorBegins.empty() &&
                    outcome.errorOutput.find('\n') == outcome.errorOutput.size() - 1)
            << each.arguments.back() << ": " << outcome.errorOutput;
    }
}

}  // namespace
}  // namespace quaymark
