// An update end to end: Quaymark 1.0 installed on a stand-in desktop finds 1.1 in a feed on
// 127.0.0.1 made by scripts/make-release, installs it when the user presses Return in the
// update window, and the button keeps opening the terminal; a release signed with another
// key is refused and leaves 1.0 as it was.
#include <unistd.h>

#include "ApplicationRegistry.h"
#include "DisplayWindows.h"
#include "EndToEndTest.h"
#include "QuaymarkPreferences.h"
#include "Spawn.h"
#include "TerminalIdentifiers.h"
#include "UpdateArchives.h"
#include "XvfbServer.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

// Quaymark shows its windows within a second or two; the rest allows for a loaded machine and
// for the sanitizer build, whose download and signature check of a large archive take longer.
constexpr seconds kWindowTime{30};
constexpr const char* kInstalledProgram = "/Applications/Quaymark.app/Contents/MacOS/Quaymark";

// Every path under `folder`, one a line, for failure messages.
std::string entryNames(const fs::path& folder) {
    std::string names;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder))
        names += fs::relative(entry.path(), folder).string() + "\n";
    return names;
}

class UpdateCycleTest : public EndToEndTest {
protected:
    void SetUp() override {
        if (!XvfbServer::isInstalled() || !DisplayWindows::isXdotoolInstalled())
            GTEST_SKIP() << "Xvfb or xdotool is not installed (Debian packages xvfb, xdotool)";
        for (const char* tool : {"/usr/bin/python3", "/usr/bin/openssl"})
            if (access(tool, X_OK) != 0)
                GTEST_SKIP() << tool << " is missing (Debian packages python3, openssl)";
    }

    void TearDown() override {
        // The new version is started by the old one, not through launch services, so the
        // desktop does not know it.
        if (relaunched > 0)
            endProcess(relaunched, std::chrono::milliseconds(2000));
        EndToEndTest::TearDown();
    }

    // Runs scripts/make-release; the public key it printed, or a failure naming its output.
    std::string makeRelease(const std::vector<std::string>& arguments) {
        ProcessOutcome made = runAndCollect({.executable = "/usr/bin/python3",
                                             .arguments = arguments,
                                             .environment = {{"PATH", "/usr/bin:/bin"}},
                                             .capture = Capture::Both},
                                            seconds(120));
        made.output += made.errorOutput;
        const std::size_t key = made.output.rfind("public key: ");
        if (made.exitStatus != 0 || key == std::string::npos) {
            ADD_FAILURE() << "make-release failed: " << made.output;
            return {};
        }
        return made.output.substr(key + 12, made.output.find('\n', key) - key - 12);
    }

    // Installs the built bundle as version 1.0, reading the desktop's feed and trusting
    // `publicKey`.
    void installVersion10(const std::string& publicKey) {
        ASSERT_EQ(desktop->installQuaymark(QUAYMARK_APP_DIR, InstallLocation::Applications,
                                           {{"CFBundleVersion", "1.0"},
                                            {"CFBundleShortVersionString", "1.0"},
                                            {"SUFeedURL", desktop->feed()->address + "appcast.xml"},
                                            {"SUPublicEDKey", publicKey}}),
                  std::nullopt);
    }

    // What the installed main program prints for --version.
    std::string installedVersion() const {
        ProcessOutcome shown =
            runAndCollect({.executable = desktop->systemRoot().map(kInstalledProgram),
                           .arguments = {"--version"},
                           .environment = desktop->environment(),
                           .capture = Capture::StandardOutput},
                          seconds(20));
        return shown.output;
    }

    std::string applicationsFolder() const { return desktop->root() + "/Applications"; }

    int relaunched = -1;
};

TEST_F(UpdateCycleTest,
       VersionOneOneInstalledFromTheFeedAnswersItsVersionAndClicksStillOpenTheTerminal) {
    DesktopOptions options;
    options.iTerm = options.iTerm2 = options.xterm = false;
    ASSERT_NO_FATAL_FAILURE(layOut(options, {.display = true, .realMainProgram = true}));
    const fs::path feed = directory.path() / "feed";
    fs::create_directories(feed);
    ASSERT_EQ(desktop->serveFeed(feed.string(), QUAYMARK_FEED_SERVER), std::nullopt);
    const std::string releaseKey =
        makeRelease({QUAYMARK_MAKE_RELEASE, "--version", "1.1", "--app", QUAYMARK_APP_DIR,
                     "--new-key", (directory.path() / "release-key").string(), "--feed",
                     feed.string(), "--url", desktop->feed()->address});
    const std::string otherKey = makeRelease(
        {QUAYMARK_MAKE_RELEASE, "--new-key", (directory.path() / "other-key").string()});
    ASSERT_FALSE(releaseKey.empty() || otherKey.empty());
    DisplayWindows display(desktop->display()->address, QUAYMARK_SCREENSHOT_PROGRAM);

    // Trusting another key, 1.0 offers the release, refuses it after the download, and is left
    // as it was, with no update folder beside it.
    ASSERT_NO_FATAL_FAILURE(installVersion10(otherKey));
    int refusing = desktop->startApplication("Quaymark");
    std::optional<DisplayWindow> offer =
        display.waitForWindow("Software Update", kWindowTime, refusing);
    ASSERT_TRUE(offer) << "no update window";
    // Taken once the launch has refreshed the button's icon inside the bundle.
    const std::string untouched = testing::treePicture(applicationsFolder());
    ASSERT_TRUE(display.pressKeys(*offer, {"Return"}));
    EXPECT_TRUE(display.waitForWindow("Update Error!", kWindowTime, refusing));
    const std::string log =
        testing::readFile(desktop->systemRoot().runtimeDirectory() + "/logs/Quaymark.log");
    EXPECT_NE(log.find("signature does not match"), std::string::npos) << log;
    EXPECT_TRUE(testing::treePicture(applicationsFolder()) == untouched)
        << "the refused update changed the installed application; it holds:\n"
        << entryNames(applicationsFolder());
    EXPECT_EQ(installedVersion(), "Quaymark 1.0\n");
    ASSERT_TRUE(desktop->stopApplication("Quaymark"));

    // Trusting the release's key, the click three days after the last launch opens the
    // terminal and offers 1.1; Return installs it, the old version ends and the new one runs.
    ASSERT_NO_FATAL_FAILURE(installVersion10(releaseKey));
    storePreferences({{preference_key::kLastLaunchDate,
                       PlistDate::fromUnixSeconds(now().unixSeconds() - 3 * 86400 - 60)}});
    const std::string folder = makeFolder("Projects/After the update");
    ASSERT_TRUE(desktop->openFinderWindow(folder));
    ASSERT_TRUE(click());
    EXPECT_TRUE(waitUntilShellIsIn(terminal_identifier::kAppleTerminal, 0, folder));
    offer = display.waitForWindow("Software Update", kWindowTime);
    ASSERT_TRUE(offer) << "the click's update launch offered nothing";
    ASSERT_TRUE(display.pressKeys(*offer, {"Return"}));
    ASSERT_TRUE(testing::waitUntil(
        [&] {
            for (const DisplayWindow& window : display.shownWindows())
                if (window.title == "Quaymark" && window.pid != offer->pid)
                    relaunched = window.pid;
            return relaunched > 0 && !processStartTime(offer->pid);
        },
        kWindowTime))
        << "the new version did not start in place of the old one";
    EXPECT_EQ(installedVersion(), "Quaymark 1.1\n");
    for (const fs::directory_entry& entry : fs::directory_iterator(applicationsFolder()))
        EXPECT_EQ(entry.path().filename().string().find(".update-"), std::string::npos)
            << "left behind: " << entry.path();

    closeTerminalWindows(terminal_identifier::kAppleTerminal);
    ASSERT_TRUE(click());
    EXPECT_TRUE(waitUntilShellIsIn(terminal_identifier::kAppleTerminal, 0, folder));
    EXPECT_EQ(tabCounts(terminal_identifier::kAppleTerminal), std::vector<std::size_t>{1});
}

}  // namespace
}  // namespace quaymark
