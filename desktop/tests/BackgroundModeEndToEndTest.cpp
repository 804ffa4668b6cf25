// Quaymark started the way a click starts it every few days, end to end with the built
// program on a stand-in desktop: what it shows, when it ends, and with what status, for each
// answer of the feed's host and of the feed.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <thread>

#include "EndToEndTest.h"
#include "UpdateArchives.h"
#include "display/DisplayWindows.h"
#include "display/XvfbServer.h"
#include "launch/ApplicationRegistry.h"
#include "network/HostReachability.h"
#include "posix/Posix.h"
#include "posix/Spawn.h"

namespace quaymark {
namespace {

using namespace std::chrono;
using Clock = steady_clock;

// A program's run as the test watched it.
struct Watched {
    std::optional<int> exitStatus;  // nothing while it still runs
    seconds::rep endedAfter = 0;    // whole seconds from the start, when it ended
    std::set<std::string> windowTitles;
};

class BackgroundModeTest : public EndToEndTest {
protected:
    void SetUp() override {
        if (!XvfbServer::isInstalled() || !DisplayWindows::isXdotoolInstalled())
            GTEST_SKIP() << "Xvfb or xdotool is not installed (Debian packages xvfb, xdotool)";
        ASSERT_NO_FATAL_FAILURE(layOut({}, {.display = true, .realMainProgram = true}));
        display.emplace(desktop->display()->address, QUAYMARK_SCREENSHOT_PROGRAM);
    }
    void TearDown() override {
        if (_started > 0) {
            endProcess(_started, seconds(2));
            waitForChild(_started);
        }
        EndToEndTest::TearDown();
    }

    // Installs Quaymark again as version 1.0, reading the feed at `url`.
    void useFeed(const std::string& url) {
        ASSERT_TRUE(
            succeeded(desktop->installQuaymark(QUAYMARK_APP_DIR, InstallLocation::Applications,
                                               {{"CFBundleVersion", "1.0"}, {"SUFeedURL", url}})));
    }
    // Serves a feed whose one item is `version`.
    void offer(const std::string& version) {
        std::filesystem::path folder = directory.path() / "feed";
        std::filesystem::create_directories(folder);
        testing::writeFile(folder / "appcast.xml", testing::appcastOffering(version));
        ASSERT_TRUE(succeeded(desktop->serveFeed(folder.string(), QUAYMARK_FEED_SERVER)));
        ASSERT_NO_FATAL_FAILURE(useFeed(desktop->feed()->address + "appcast.xml"));
    }
    // A feed on 127.0.0.1 whose connections are taken and never answered.
    void offerNothingEver() {
        _silent = FileDescriptor(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        auto* generic = reinterpret_cast<sockaddr*>(&address);
        ASSERT_EQ(::bind(_silent.get(), generic, length), 0);
        ASSERT_EQ(::listen(_silent.get(), 16), 0);
        ASSERT_EQ(::getsockname(_silent.get(), generic, &length), 0);
        ASSERT_NO_FATAL_FAILURE(useFeed(
            "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/appcast.xml"));
    }
    void setReachability(std::uint32_t flags) {
        ASSERT_TRUE(
            HostReachability::setFlagsForHostName(desktop->systemRoot(), "127.0.0.1", flags));
    }

    // Starts the installed Quaymark with "checkUpdates" set to nothing, as its own child.
    void startInBackgroundMode() {
        SpawnRequest request;
        request.executable =
            desktop->systemRoot().map("/Applications/Quaymark.app") + "/Contents/MacOS/Quaymark";
        request.environment = currentEnvironment();
        request.environment["checkUpdates"] = "";
        request.logFile = (directory.path() / "Quaymark.log").string();
        Result<StartedProcess> started = spawnProcess(request);
        ASSERT_EQ(started.error(), "");
        _started = started->pid;
        _startTime = Clock::now();
    }
    // Watches the program until it ends or `limit` from its start has passed, noting the
    // titles of every window it showed meanwhile.
    Watched watch(milliseconds limit) {
        Watched seen;
        while (Clock::now() - _startTime < limit) {
            for (const DisplayWindow& window : display->shownWindows()) {
                if (window.pid == _started)
                    seen.windowTitles.insert(window.title);
            }
            int status = 0;
            if (::waitpid(_started, &status, WNOHANG) == _started) {
                seen.exitStatus = exitStatusOf(status);
                seen.endedAfter = duration_cast<seconds>(Clock::now() - _startTime).count();
                _started = -1;
                return seen;
            }
            std::this_thread::sleep_for(milliseconds(100));
        }
        return seen;
    }
    std::string log() const { return testing::readFile(directory.path() / "Quaymark.log"); }

    std::optional<DisplayWindows> display;
    int _started = -1;
    Clock::time_point _startTime;
    FileDescriptor _silent;
};

TEST_F(BackgroundModeTest, NoNewerVersionEndsAtOnceWithoutAWindowOrAWrittenPreference) {
    ASSERT_NO_FATAL_FAILURE(offer("1.0"));
    ASSERT_NO_FATAL_FAILURE(startInBackgroundMode());
    Watched seen = watch(seconds(10));
    EXPECT_EQ(seen.exitStatus, 0) << log();
    EXPECT_LE(seen.endedAfter, 5);
    EXPECT_EQ(seen.windowTitles, std::set<std::string>{});
    EXPECT_EQ(storedPreference("Last Launch Date"), std::nullopt);
}

TEST_F(BackgroundModeTest, ANewerVersionShowsTheSettingsAndTheUpdateAndOutlivesTheTimeOut) {
    ASSERT_NO_FATAL_FAILURE(offer("1.1"));
    ASSERT_NO_FATAL_FAILURE(startInBackgroundMode());
    Watched seen = watch(seconds(18));
    EXPECT_EQ(seen.exitStatus, std::nullopt) << "ended after " << seen.endedAfter << " s\n"
                                             << log();
    EXPECT_EQ(seen.windowTitles, (std::set<std::string>{"Quaymark", "Software Update"}));
}

TEST_F(BackgroundModeTest, AFeedThatNeverAnswersEndsTheProcessAfterFifteenSecondsWithoutAWindow) {
    ASSERT_NO_FATAL_FAILURE(offerNothingEver());
    ASSERT_NO_FATAL_FAILURE(startInBackgroundMode());
    Watched seen = watch(seconds(25));
    EXPECT_EQ(seen.exitStatus, 0) << log();
    EXPECT_GE(seen.endedAfter, 15);
    EXPECT_LE(seen.endedAfter, 18);
    EXPECT_EQ(seen.windowTitles, std::set<std::string>{});
}

// The settings application a user works in is never cut off by the time-out, and what it
// starts no longer carries the request for the windowless check.
TEST_F(BackgroundModeTest, AnUnreachableHostShowsTheSettingsAtOnceAndTheyOutliveTheTimeOut) {
    ASSERT_NO_FATAL_FAILURE(offerNothingEver());
    ASSERT_NO_FATAL_FAILURE(setReachability(0));
    ASSERT_NO_FATAL_FAILURE(startInBackgroundMode());
    std::optional<DisplayWindow> settings =
        display->waitForWindow("Quaymark", seconds(5), _started);
    ASSERT_TRUE(settings) << log();

    // The button is in the toolbar: the install button takes it out, restarting Finder.
    int finder = finderPid();
    ASSERT_TRUE(display->pressKeys(*settings, {"alt+t", "shift+Tab", "space"}));
    int restarted = -1;
    ASSERT_TRUE(testing::waitUntil(
        [&] {
            restarted = finderPid();
            return restarted > 0 && restarted != finder;
        },
        seconds(20)));
    std::string environment = testing::readFile("/proc/" + std::to_string(restarted) + "/environ");
    EXPECT_NE(environment.find("QUAYMARK_SYSTEM_ROOT="), std::string::npos);
    EXPECT_EQ(environment.find("checkUpdates="), std::string::npos);

    Watched seen = watch(seconds(20));
    EXPECT_EQ(seen.exitStatus, std::nullopt) << "ended after " << seen.endedAfter << " s\n"
                                             << log();
    EXPECT_TRUE(seen.windowTitles.contains("Quaymark"));
}

// Reachable only after setting up a connection, or only over a passing one, is not reachable:
// the settings show at once, where a reachable host would have been waited for.
TEST_F(BackgroundModeTest, AHostReachableOnlyThroughAConnectionCountsAsUnreachable) {
    ASSERT_NO_FATAL_FAILURE(offerNothingEver());
    using namespace reachability_flag;
    for (std::uint32_t flags :
         {kReachable | kConnectionRequired, kReachable | kTransientConnection}) {
        SCOPED_TRACE(flags);
        ASSERT_NO_FATAL_FAILURE(setReachability(flags));
        ASSERT_NO_FATAL_FAILURE(startInBackgroundMode());
        EXPECT_TRUE(display->waitForWindow("Quaymark", seconds(5), _started)) << log();
        endProcess(_started, seconds(2));
        waitForChild(std::exchange(_started, -1));
    }
}

}  // namespace
}  // namespace quaymark
