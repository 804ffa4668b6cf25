// Finder's windows file, and Finder's scripting target that reads it while Finder runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include "FinderWindows.h"
#include "HostTestSupport.h"
#include "HostWorkspace.h"
#include "PlatformException.h"

namespace quaymark {
namespace {

class FinderWindowsTest : public ::testing::Test {
protected:
    testing::TemporaryDirectory directory;
    std::string home = (directory.path() / "home").string();
    std::string root = (directory.path() / "root").string();
    FinderWindowsFile windows{FinderWindowsFile::pathForHome(home)};
};

TEST_F(FinderWindowsTest, WindowsOpenInFrontAndCloseFromTheFront) {
    EXPECT_TRUE(windows.windows().empty());
    EXPECT_FALSE(windows.closeFrontWindow());
    ASSERT_TRUE(windows.openWindow({"file:///first/"}));
    ASSERT_TRUE(windows.openWindow({std::nullopt}));
    ASSERT_TRUE(windows.openWindow({"file:///third/"}));

    // A second reader (as Finder after a restart) sees the same windows in the same order.
    FinderWindowsFile again{FinderWindowsFile::pathForHome(home)};
    EXPECT_EQ(again.windows(),
              (std::vector<FinderWindow>{{"file:///third/"}, {std::nullopt}, {"file:///first/"}}));
    ASSERT_TRUE(windows.closeFrontWindow());
    EXPECT_EQ(windows.windows().front(), FinderWindow{std::nullopt});
    ASSERT_TRUE(windows.closeAllWindows());
    EXPECT_TRUE(windows.windows().empty());
}

TEST_F(FinderWindowsTest, ScriptingAnswersOnlyWhileFinderRunsAndHasAWindow) {
    HostWorkspace workspace(SystemRoot(root), home);
    FinderStandInScripting finder(workspace, FinderWindowsFile::pathForHome(home));
    windows.openWindow({"file:///somewhere/"});
    EXPECT_THROW(finder.frontWindowTargetUrl(), PlatformException);

    // This test process stands in for Finder's process.
    ASSERT_TRUE(workspace.registry().add({getpid(), "com.apple.finder", "Finder"}));
    EXPECT_EQ(finder.frontWindowTargetUrl(), "file:///somewhere/");
    windows.openWindow({std::nullopt});
    EXPECT_EQ(finder.frontWindowTargetUrl(), std::nullopt);
    windows.closeAllWindows();
    EXPECT_THROW(finder.frontWindowTargetUrl(), PlatformException);
    workspace.registry().remove(getpid());
}

}  // namespace
}  // namespace quaymark
