#include "PlatformException.h"
#include "TerminalFixture.h"

namespace quaymark {
namespace {

struct Item {
    char kind;  // 'd' folder, 'f' file, 'a' alias
    std::string path;
    std::string target = {};
};

std::string url(const std::string& path, bool isFolder = false) {
    return Url::fileUrlWithPath(path, isFolder).absoluteString();
}

TEST(FrontFolder, IsTheFolderTheFrontWindowLeadsTo) {
    struct Case {
        const char* name;
        std::vector<Item> items;
        std::vector<std::optional<std::string>> windows;  // back to front
        std::optional<std::string> folder;                // nothing: PlatformException
        const char* failingCall = "";
    };
    // The click end-to-end tests cover files, missing items and alias chains on real files.
    const std::string link = "/Users/tester/Link";
    // clang-format off
    const Case cases[] = {
        {"folder", {{'d', "/Volumes/Data/My Folder"}}, {url("/Volumes/Data/My Folder", true)}, "/Volumes/Data/My Folder"},
        {"start-up volume", {}, {url("/", true)}, "/"},
        {"percent escapes", {{'d', "/Users/tester/Ünï 100% #1?"}}, {url("/Users/tester/Ünï 100% #1?", true)}, "/Users/tester/Ünï 100% #1?"},
        {"front window only", {{'d', "/Back"}, {'d', "/Front"}}, {url("/Back", true), url("/Front", true)}, "/Front"},
        {"alias", {{'d', "/Projects/Real"}, {'a', link, "/Projects/Real"}}, {url(link)}, "/Projects/Real"},
        {"alias of a file", {{'f', "/Projects/readme.txt"}, {'a', link, "/Projects/readme.txt"}}, {url(link)}, "/Projects"},
        {"broken alias: its folder", {{'a', link, "/Projects/Gone"}}, {url(link)}, "/Users/tester"},
        {"no file URL: its parent", {{'d', "/Share/Folder"}}, {"afp://server/Share/Folder/"}, "/Share"},
        {"no window", {}, {}, std::nullopt},
        {"target without URL", {}, {std::nullopt}, std::nullopt},
        {"unparseable URL", {}, {"file:///Users/tester/a b/"}, std::nullopt},
        {"Finder unreachable", {}, {url("/", true)}, std::nullopt, "Bridge.finder"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlatform test;
        for (const Item& item : c.items) {
            if (item.kind == 'd')
                test.fileManager.addFolder(item.path);
            if (item.kind == 'f')
                test.fileManager.addFile(item.path);
            if (item.kind == 'a')
                test.fileManager.addAlias(item.path, item.target);
        }
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
