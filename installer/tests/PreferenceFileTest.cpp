// Install and uninstall on a real Finder preference file: every other setting, and the file's
// format, come through unchanged as Python's plistlib reads them.
#include <gtest/gtest.h>

#include <filesystem>

#include "FilePreferences.h"
#include "FinderPreferenceScripts.h"
#include "FinderToolBarController.h"
#include "HostTestSupport.h"
#include "TestPlatform.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;

struct FileCase {
    const char* form;
    const char* kind;
};

class PreferenceFileTest : public ::testing::TestWithParam<FileCase> {
protected:
    void SetUp() override {
        fs::create_directories(folder);
        test.fileManager.addFolder("/Applications/Quaymark.app/Contents/MacOS/QuaymarkHelper.app");
        // Finder runs throughout, so each restart ends after its first slice.
        test.workspace.addRunningApplication({99, finder_toolbar::kFinderDomain, "Finder"});
    }

    void expectSame(const std::string& allowed) {
        testing::ProcessResult compared = testing::runPython(
            kCompare, {before.string(), file.string(), GetParam().form, allowed});
        EXPECT_EQ(compared.exitStatus, 0) << compared.output;
    }

    testing::TemporaryDirectory directory;
    fs::path folder = directory.path() / "Preferences";
    fs::path file = folder / "com.apple.finder.plist";
    fs::path before = directory.path() / "before.plist";
    TestPlatform test;
    FilePreferences preferences{folder.string(), test.log};
    Platform platform{preferences,  test.workspace,   test.fileManager, test.mainBundle,
                      test.tasks,   test.scripting,   test.appleScript, test.clock,
                      test.runLoop, test.application, test.log};
    FinderToolBarController controller{platform};
};

TEST_P(PreferenceFileTest, InstallAndUninstallKeepEveryOtherSettingAndTheFormat) {
    testing::ProcessResult written = testing::runPython(
        kWriteFinderPreferences, {file.string(), GetParam().form, GetParam().kind});
    ASSERT_EQ(written.exitStatus, 0) << written.output;
    fs::copy_file(file, before);

    ToolbarChange installed = controller.installHelper();
    ASSERT_TRUE(installed.saved);
    expectSame("button");

    ToolbarChange uninstalled = controller.uninstallHelper();
    ASSERT_TRUE(uninstalled.saved);
    expectSame("empty-plists");
}

INSTANTIATE_TEST_SUITE_P(Files, PreferenceFileTest,
                         ::testing::Values(FileCase{"binary", "plists"}, FileCase{"binary", "none"},
                                           FileCase{"xml", "plists"}, FileCase{"xml", "none"}),
                         [](const ::testing::TestParamInfo<FileCase>& each) {
                             return std::string(each.param.form) + "_" + each.param.kind;
                         });

}  // namespace
}  // namespace quaymark
