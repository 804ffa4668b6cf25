#include "PlatformException.h"
#include "TerminalFixture.h"

namespace quaymark {
namespace {

std::string url(const std::string& path, bool isFolder = false) {
    return Url::fileUrlWithPath(path, isFolder).absoluteString();
}

TEST(FrontFolder, IsTheFolderTheFrontWindowLeadsTo) {
    struct Case {
        const char* name;
        std::vector<std::string> folders;
        std::vector<std::optional<std::string>> windows;  // back to front
        std::optional<std::string> folder;                // nothing: PlatformException
        const char* failingCall = "";
    };
    // The click end-to-end tests cover files, aliases, broken ones and their chains on real
    // files, and folders that have gone.
    // clang-format off
    const Case cases[] = {
        {"folder", {"/Volumes/Data/My Folder"}, {url("/Volumes/Data/My Folder", true)}, "/Volumes/Data/My Folder"},
        {"start-up volume", {}, {url("/", true)}, "/"},
        {"percent escapes", {"/Users/tester/Ünï 100% #1?"}, {url("/Users/tester/Ünï 100% #1?", true)}, "/Users/tester/Ünï 100% #1?"},
        {"front window only", {"/Back", "/Front"}, {url("/Back", true), url("/Front", true)}, "/Front"},
        {"no file URL: its parent", {"/Share/Folder"}, {"afp://server/Share/Folder/"}, "/Share"},
        {"no window", {}, {}, std::nullopt},
        {"target without URL", {}, {std::nullopt}, std::nullopt},
        {"unparseable URL", {}, {"file:///Users/tester/a b/"}, std::nullopt},
        {"Finder unreachable", {}, {url("/", true)}, std::nullopt, "Bridge.finder"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlatform test;
        for (const std::string& folder : c.folders)
            test.fileManager.addFolder(folder);
        for (const std::optional<std::string>& window : c.windows)
            test.finder.openWindow(window);
        if (*c.failingCall)
            test.calls.failOn(c.failingCall, InjectedFailure::Platform);
        TerminalIdentifiers terminals(test.platform());
        if (c.folder) {
            EXPECT_EQ(terminals.pathToFrontFinderWindow(), *c.folder);
        } else {
            EXPECT_THROW(terminals.pathToFrontFinderWindow(), PlatformException);
        }
    }
}

}  // namespace
}  // namespace quaymark
