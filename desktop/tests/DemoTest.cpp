// The README's demo, run as a newcomer runs it: the built quaymark-desktop tool.
#include <gtest/gtest.h>

#include <filesystem>

#include "HostTestSupport.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;

TEST(DemoTest, TheShellLandsInTheHardNamedFolderAndNothingIsLeftBehind) {
    testing::TemporaryDirectory directory;
    // The demo makes its desktop in the temporary folder, which here is the test's own.
    testing::ProcessResult demo = testing::runProcess(
        {QUAYMARK_DESKTOP_TOOL, "demo"},
        {{"TMPDIR", directory.path().string()}, {"PATH", "/usr/bin:/bin"}, {"LANG", "C.UTF-8"}},
        std::chrono::seconds(60));
    ASSERT_EQ(demo.exitStatus, 0) << demo.output;
    EXPECT_NE(demo.output.find("Added the Quaymark button to Finder's toolbar"), std::string::npos)
        << demo.output;
    EXPECT_NE(demo.output.find("pwd printed the folder exactly, and the shell is there."),
              std::string::npos)
        << demo.output;
    // Its desktop, with every application on it, is gone again.
    EXPECT_TRUE(fs::is_empty(directory.path()));
}

}  // namespace
}  // namespace quaymark
