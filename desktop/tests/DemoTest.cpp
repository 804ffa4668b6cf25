// The README's demo, run as a newcomer runs it: the built quaymark-desktop tool.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "HostTestSupport.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;

TEST(DemoTest, TheShellLandsInTheHardNamedFolderTheSettingsShowAndNothingElseIsLeftBehind) {
    if (access("/usr/bin/Xvfb", X_OK) != 0 || access("/usr/bin/xdotool", X_OK) != 0)
        GTEST_SKIP() << "the demo shows the settings window on Xvfb, driven by xdotool "
                        "(Debian packages xvfb, xdotool)";
    testing::TemporaryDirectory directory;
    // The demo makes its desktop in the temporary folder, which here is the test's own.
    testing::ProcessResult demo = testing::runProcess(
        {QUAYMARK_DESKTOP_TOOL, "demo"},
        {{"TMPDIR", directory.path().string()}, {"PATH", "/usr/bin:/bin"}, {"LANG", "C.UTF-8"}},
        std::chrono::seconds(90));
    ASSERT_EQ(demo.exitStatus, 0) << demo.output;
    EXPECT_NE(demo.output.find("Added the Quaymark button to Finder's toolbar"), std::string::npos)
        << demo.output;
    EXPECT_NE(demo.output.find("pwd printed the folder exactly, and the shell is there."),
              std::string::npos)
        << demo.output;
    // What stays is the picture of the settings window, where the demo said it put it; its
    // desktop, with every application and server on it, is gone.
    fs::path picture = directory.path() / "quaymark-settings-window.png";
    EXPECT_NE(demo.output.find("A picture of it is in " + picture.string()), std::string::npos)
        << demo.output;
    EXPECT_EQ(testing::readFile(picture).substr(0, 8), "\x89PNG\r\n\x1a\n");
    fs::remove(picture);
    EXPECT_TRUE(fs::is_empty(directory.path()));
}

}  // namespace
}  // namespace quaymark
