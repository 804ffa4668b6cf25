// The button's icon by system version: the custom icon and the helper's icon file.
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

TEST_F(IconTest, TheIconIsChosenBySystemVersion) {
    const std::pair<const char*, const char*> cases[] = {
        {"10.6.8", "snow"},  {"10.7.5", "liomount"}, {"10.8.5", "liomount"}, {"10.9.5", "mav"},
        {"10.10.5", "yose"}, {"10.5.8", "moj"},      {"10.11.6", "moj"},     {"10.14.6", "moj"},
        {"10", "moj"},       {"10.-6", "moj"},       {"11.6", "snow"}};
    for (const auto& [version, name] : cases) {
        setSystemVersion(version);
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
}

}  // namespace
}  // namespace quaymark
