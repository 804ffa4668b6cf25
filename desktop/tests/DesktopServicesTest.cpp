// The servers a desktop runs beside its applications, through the desktop tool as a user runs
// it: its own Xvfb display with the window commands (against a bare Qt window), the feed, and
// the keeper that starts Finder again whenever it ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "Desktop.h"
#include "HostTestSupport.h"
#include "display/DisplayWindows.h"
#include "display/XvfbServer.h"
#include "launch/ApplicationRegistry.h"
#include "posix/Spawn.h"
#include "standins/FinderKeeper.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;

// Width and height from a PNG file's header; nothing when it is no PNG.
std::optional<std::pair<int, int>> pngSize(const fs::path& path) {
    std::string bytes = testing::readFile(path);
    if (bytes.size() < 24 || bytes.substr(0, 8) != "\x89PNG\r\n\x1a\n")
        return std::nullopt;
    auto number = [&](std::size_t at) {
        int value = 0;
        for (std::size_t i = at; i < at + 4; ++i)
            value = value * 256 + static_cast<unsigned char>(bytes[i]);
        return value;
    };
    return std::pair{number(16), number(20)};
}

// A desktop laid out by the tool, driven through it, and ended by pid whatever the test did.
class DesktopServicesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(run({"create", folder}).exitStatus, 0); }
    void TearDown() override {
        desktop.stopAll();
        desktop.stopServices();
    }
    testing::ProcessResult run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), QUAYMARK_DESKTOP_TOOL);
        return testing::runProcess(arguments, {{"PATH", "/usr/bin:/bin"}});
    }
    testing::ProcessResult tool(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"-d", folder});
        return run(arguments);
    }
    testing::TemporaryDirectory directory;
    const std::string folder = (directory.path() / "desktop").string();
    Desktop desktop{folder};
};

TEST_F(DesktopServicesTest, TheToolFindsAndPhotographsAWindowOnItsDisplayAndEndsTheDisplay) {
    if (!XvfbServer::isInstalled() || !DisplayWindows::isXdotoolInstalled())
        GTEST_SKIP() << "Xvfb or xdotool is not installed (Debian packages xvfb, xdotool)";
    testing::ProcessResult display = tool({"display"});
    ASSERT_EQ(display.exitStatus, 0) << display.output;
    std::optional<DesktopService> xvfb = desktop.display();
    ASSERT_TRUE(xvfb);
    EXPECT_EQ(display.output, "DISPLAY=" + xvfb->address + "\n");
    EXPECT_NE(tool({"env"}).output.find("export DISPLAY='" + xvfb->address + "'"),
              std::string::npos);

    const std::string title = "A \"bare\" window";
    Result<StartedProcess> window = spawnProcess({.executable = QUAYMARK_EMPTY_WINDOW,
                                                  .arguments = {title},
                                                  .environment = desktop.environment(),
                                                  .standardError = TaskStream::Inherit});
    ASSERT_TRUE(window) << window.error();
    testing::ProcessResult found = tool({"wait-window", title, "--timeout", "20"});
    std::string line = "\"" + title + "\" pid " + std::to_string(window->pid) + " 480x320+";
    EXPECT_NE(found.output.find(line), std::string::npos) << found.output;
    EXPECT_NE(tool({"windows"}).output.find(line), std::string::npos);
    EXPECT_EQ(tool({"wait-window", "No such window", "--timeout", "0.2"}).exitStatus, 1);

    for (const auto& [picture, size] : {std::pair{"window.png", std::pair{480, 320}},
                                        std::pair{"display.png", std::pair{1280, 800}}}) {
        fs::path path = directory.path() / picture;
        std::vector<std::string> arguments{"screenshot", path.string()};
        if (picture == std::string("window.png"))
            arguments.push_back(title);
        testing::ProcessResult saved = tool(arguments);
        EXPECT_EQ(saved.exitStatus, 0) << saved.output;
        EXPECT_EQ(pngSize(path), size) << picture;
    }

    endProcess(window->pid, std::chrono::seconds(5));
    waitForChild(window->pid);
    EXPECT_EQ(tool({"destroy"}).exitStatus, 0);
    EXPECT_FALSE(processStartTime(xvfb->pid)) << "Xvfb outlived its desktop";
}

TEST_F(DesktopServicesTest, TheFeedIsServedFromItsFolderByPidUntilTheDesktopIsDestroyed) {
    fs::path feed = directory.path() / "feed";
    testing::writeFile(feed / "appcast.xml", "<rss version=\"2.0\"/>\n");
    testing::ProcessResult served = tool({"serve-feed", feed.string()});
    ASSERT_EQ(served.exitStatus, 0) << served.output;
    std::optional<DesktopService> server = desktop.feed();
    ASSERT_TRUE(server);
    EXPECT_EQ(served.output, server->address + "\n");
    // Python's own HTTP client reads the file back from the address the tool printed.
    testing::ProcessResult fetched = testing::runProcess(
        {"/usr/bin/python3", "-c",
         "import sys, urllib.request; "
         "sys.stdout.write(urllib.request.urlopen(sys.argv[1] + 'appcast.xml').read().decode())",
         server->address},
        {{"PATH", "/usr/bin:/bin"}});
    EXPECT_EQ(fetched.output, "<rss version=\"2.0\"/>\n");

    EXPECT_EQ(tool({"destroy"}).exitStatus, 0);
    EXPECT_FALSE(processStartTime(server->pid)) << "the feed server outlived its desktop";
}

// Finder ended any way but on purpose runs again within a second, as one Finder; stopped on
// purpose it stays stopped, and its keeper ends with it and with the desktop.
TEST_F(DesktopServicesTest, FinderEndedAnyWayButStopIsRunningAgainWithinASecond) {
    // Finder is the one application of this desktop.
    auto finders = [&] {
        std::vector<int> pids;
        for (const RunningApplication& application : desktop.runningApplications())
            pids.push_back(application.pid);
        return pids;
    };
    auto keeper = [&] { return FinderKeeper::running(desktop.systemRoot()); };
    ASSERT_EQ(tool({"start", "Finder"}).exitStatus, 0);
    ASSERT_TRUE(testing::waitUntil([&] { return keeper().has_value(); }));
    // Pauses on purpose: they check that the keeper starts no Finder within its delay.
    const auto longerThanTheKeeperWaits = FinderKeeper::kRestartDelay * 2;
    // Killed, or ended by killall and started at once by launch services as the installer does.
    for (bool killed : {true, false}) {
        const int before = finders().at(0);
        const auto ended = std::chrono::steady_clock::now();
        std::string started;
        if (killed) {
            ASSERT_EQ(kill(before, SIGKILL), 0);
        } else {
            ASSERT_EQ(
                tool({"run", desktop.systemRoot().map("/usr/bin/killall"), "Finder"}).exitStatus,
                0);
            started = tool({"start", "Finder"}).output;
        }
        // One reading per try: Finder may end or start between two.
        EXPECT_TRUE(testing::waitUntil(
            [&] {
                const std::vector<int> now = finders();
                return !now.empty() && now[0] != before;
            },
            std::chrono::seconds(1)));
        EXPECT_LT(std::chrono::steady_clock::now() - ended, std::chrono::seconds(1)) << killed;
        std::this_thread::sleep_for(longerThanTheKeeperWaits);
        ASSERT_EQ(finders().size(), 1u) << killed;
        EXPECT_TRUE(started.empty() ||
                    started.ends_with(" pid " + std::to_string(finders()[0]) + "\n"))
            << "the keeper replaced the Finder launch services started: " << started;
    }

    const int stoppedKeeper = *keeper();
    ASSERT_EQ(tool({"stop", "Finder"}).exitStatus, 0);
    std::this_thread::sleep_for(longerThanTheKeeperWaits);
    EXPECT_TRUE(finders().empty());
    EXPECT_FALSE(processStartTime(stoppedKeeper));
    ASSERT_EQ(tool({"start", "Finder"}).exitStatus, 0);
    ASSERT_TRUE(testing::waitUntil([&] { return keeper().has_value(); }));
    const int finder = finders().at(0);
    const int destroyedKeeper = *keeper();
    EXPECT_EQ(tool({"destroy"}).exitStatus, 0);
    EXPECT_FALSE(processStartTime(finder) || processStartTime(destroyedKeeper))
        << "Finder or its keeper outlived the desktop";
}

}  // namespace
}  // namespace quaymark
