// The servers a desktop runs beside its applications, through the desktop tool as a user runs
// it: its own Xvfb display with the window commands (against a bare Qt window), and the feed.
#include <gtest/gtest.h>
#include <unistd.h>

#include "ApplicationRegistry.h"
#include "Desktop.h"
#include "DisplayWindows.h"
#include "HostTestSupport.h"
#include "Spawn.h"
#include "XvfbServer.h"

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

TEST(DesktopServicesTest, TheToolFindsAndPhotographsAWindowOnItsDisplayAndEndsTheDisplay) {
    if (!XvfbServer::isInstalled() || !DisplayWindows::isXdotoolInstalled())
        GTEST_SKIP() << "Xvfb or xdotool is not installed (Debian packages xvfb, xdotool)";
    testing::TemporaryDirectory directory;
    std::string folder = (directory.path() / "desktop").string();
    const std::map<std::string, std::string> environment{{"PATH", "/usr/bin:/bin"}};
    auto tool = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {QUAYMARK_DESKTOP_TOOL, "-d", folder});
        return testing::runProcess(arguments, environment);
    };
    ASSERT_EQ(
        testing::runProcess({QUAYMARK_DESKTOP_TOOL, "create", folder}, environment).exitStatus, 0);
    testing::ProcessResult display = tool({"display"});
    ASSERT_EQ(display.exitStatus, 0) << display.output;
    std::optional<DesktopService> xvfb = Desktop(folder).display();
    ASSERT_TRUE(xvfb);
    EXPECT_EQ(display.output, "DISPLAY=" + xvfb->address + "\n");
    EXPECT_NE(tool({"env"}).output.find("export DISPLAY='" + xvfb->address + "'"),
              std::string::npos);

    const std::string title = "A \"bare\" window";
    SpawnResult window = spawnProcess({.executable = QUAYMARK_EMPTY_WINDOW,
                                       .arguments = {title},
                                       .environment = Desktop(folder).environment(),
                                       .standardError = TaskStream::Inherit});
    ASSERT_TRUE(window) << window.error;
    testing::ProcessResult found = tool({"wait-window", title, "--timeout", "20"});
    std::string line = "\"" + title + "\" pid " + std::to_string(window.pid) + " 480x320+";
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

    endProcess(window.pid, std::chrono::seconds(5));
    waitForChild(window.pid);
    EXPECT_EQ(tool({"destroy"}).exitStatus, 0);
    EXPECT_FALSE(processStartTime(xvfb->pid)) << "Xvfb outlived its desktop";
}

TEST(DesktopServicesTest, TheFeedIsServedFromItsFolderByPidUntilTheDesktopIsDestroyed) {
    testing::TemporaryDirectory directory;
    std::string folder = (directory.path() / "desktop").string();
    fs::path feed = directory.path() / "feed";
    testing::writeFile(feed / "appcast.xml", "<rss version=\"2.0\"/>\n");
    const std::map<std::string, std::string> environment{{"PATH", "/usr/bin:/bin"}};
    ASSERT_EQ(
        testing::runProcess({QUAYMARK_DESKTOP_TOOL, "create", folder}, environment).exitStatus, 0);
    testing::ProcessResult served = testing::runProcess(
        {QUAYMARK_DESKTOP_TOOL, "-d", folder, "serve-feed", feed.string()}, environment);
    ASSERT_EQ(served.exitStatus, 0) << served.output;
    std::optional<DesktopService> server = Desktop(folder).feed();
    ASSERT_TRUE(server);
    EXPECT_EQ(served.output, server->address + "\n");
    // Python's own HTTP client reads the file back from the address the tool printed.
    testing::ProcessResult fetched = testing::runProcess(
        {"/usr/bin/python3", "-c",
         "import sys, urllib.request; "
         "sys.stdout.write(urllib.request.urlopen(sys.argv[1] + 'appcast.xml').read().decode())",
         server->address},
        environment);
    EXPECT_EQ(fetched.output, "<rss version=\"2.0\"/>\n");

    EXPECT_EQ(testing::runProcess({QUAYMARK_DESKTOP_TOOL, "-d", folder, "destroy"}, environment)
                  .exitStatus,
              0);
    EXPECT_FALSE(processStartTime(server->pid)) << "the feed server outlived its desktop";
}

}  // namespace
}  // namespace quaymark
