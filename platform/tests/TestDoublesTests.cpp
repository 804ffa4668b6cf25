#include <gtest/gtest.h>

#include "PlatformException.h"
#include "TestPlatform.h"

namespace quaymark {
namespace {

TEST(TestDoubles, ApplicationEndsOnlyThroughTerminate) {
    TestPlatform p;
    EXPECT_EQ(p.application.run([&] { p.application.terminate(); }), 0);
    EXPECT_THROW(p.application.run([] {}), std::logic_error);
    EXPECT_EQ(
        p.calls.matching({"Application."}),
        (std::vector<std::string>{"Application.run", "Application.terminate", "Application.run"}));
}

TEST(TestDoubles, FileManagerCopiesRemovesAndFollowsAliases) {
    TestPlatform p;
    p.fileManager.addFile("/A/b/c.plist", PlistValue("x"));
    p.fileManager.addAlias("/Link", "/A");
    EXPECT_TRUE(p.fileManager.isDirectoryAtPath("/Link"));
    EXPECT_TRUE(p.fileManager.copyItemAtPath("/A", "/Copy"));
    EXPECT_FALSE(p.fileManager.copyItemAtPath("/A", "/Copy"));
    EXPECT_EQ(p.fileManager.propertyListWithContentsOfFile("/Copy/b/c.plist"), PlistValue("x"));
    EXPECT_TRUE(p.fileManager.removeItemAtPath("/A"));
    EXPECT_FALSE(p.fileManager.hasItem("/A/b/c.plist"));
    // The alias is still there but leads nowhere.
    EXPECT_TRUE(p.fileManager.fileExistsAtPath("/Link"));
    EXPECT_FALSE(p.fileManager.resolveAliasFile("/Link")->succeeded);
}

TEST(TestDoubles, ScriptedApplicationsRunOnlyWhenStartedAndResolveReferencesLate) {
    TestPlatform p;
    auto terminal = p.scripting.terminal("com.apple.Terminal");
    EXPECT_THROW(terminal->doScript("x", std::nullopt), PlatformException);
    EXPECT_TRUE(p.workspace.runningApplicationsWithBundleIdentifier("com.apple.Terminal").empty());
    terminal->activate();
    EXPECT_EQ(p.workspace.runningApplicationsWithBundleIdentifier("com.apple.Terminal").size(), 1u);
    ObjectSpecifier second = terminal->windowAtIndex(1);
    EXPECT_THROW(terminal->doScript("x", second), PlatformException);
    p.terminal.openWindow();
    terminal->doScript("x", second);
    EXPECT_EQ(p.terminal.windows()[1].sessions[0].received, std::vector<std::string>{"x\n"});
    EXPECT_THROW(p.scripting.terminal("com.apple.terminal"), PlatformException);
}

}  // namespace
}  // namespace quaymark
