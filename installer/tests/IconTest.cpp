// The button's icon by system version: the custom icon and the helper's icon file.
#include <climits>

#include "InstallerFixture.h"

namespace quaymark {
namespace {

const char* const kIconNames[] = {"snow", "liomount", "mav", "yose", "moj"};
const std::string kResources = "/Applications/Quaymark.app/Contents/Resources/";
const std::string kHelperIconFile = kHelperPath + "/Contents/Resources/moj.icns";

class IconTest : public InstallerTest {
protected:
    IconTest() {
        for (const char* name : kIconNames) {
            test.mainBundle.addResource(name, "icns");
            test.fileManager.addFile(kResources + name + ".icns");
        }
        test.fileManager.addFile(kHelperIconFile);
    }
};

// The system version is the second component of "ProductVersion", read as the integer at
// its start.
TEST_F(IconTest, TheIconIsChosenBySystemVersion) {
    const std::tuple<const char*, std::int32_t, const char*> cases[] = {
        {"10.6.8", 6, "snow"},    {"10.7.5", 7, "liomount"}, {"10.8abc.1", 8, "liomount"},
        {"10.9.5", 9, "mav"},     {"10.10.5", 10, "yose"},   {"10.5.8", 5, "moj"},
        {"10.14.6", 14, "moj"},   {"11.6", 6, "snow"},       {"11.2.3", 2, "moj"},
        {"10", 0, "moj"},         {"10.", 0, "moj"},         {"10.x", 0, "moj"},
        {"10. 7", 7, "liomount"}, {"10.-3", -3, "moj"},      {"10.+4", 4, "moj"},
        {"", 0, "moj"},           {"10.99999", 99999, "moj"}};
    for (const auto& [version, number, name] : cases) {
        setSystemVersion(version);
        EXPECT_EQ(controller.osVersion(), number) << '"' << version << '"';
        test.calls.clear();

        controller.setIconForHelperApp();

        std::string resource = kResources + name + ".icns";
        EXPECT_EQ(test.workspace.icons().at(kHelperPath), resource) << version;
        EXPECT_EQ(test.calls.matching({"Workspace.setIconForFile", "FileManager.removeItemAtPath",
                                       "FileManager.copyItemAtPath"}),
                  (std::vector<std::string>{
                      "Workspace.setIconForFile " + kHelperPath,
                      "FileManager.removeItemAtPath " + kHelperIconFile,
                      "FileManager.copyItemAtPath " + resource + " " + kHelperIconFile}))
            << version;
        EXPECT_TRUE(test.fileManager.hasItem(kHelperIconFile));
    }
    setSystemVersion("10.99999999999");
    EXPECT_EQ(controller.osVersion(), INT32_MAX);
    test.fileManager.removeItemAtPath(kSystemVersionPath);
    EXPECT_EQ(controller.osVersion(), 0);
}

}  // namespace
}  // namespace quaymark
