#include <functional>

#include "PlatformException.h"
#include "TerminalFixture.h"

namespace quaymark {
namespace {

struct FolderCase {
    std::string name;
    std::function<void(TestPlatform&)> arrange;
    std::string expected;
};

class FrontFolder : public TerminalFixture, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(FrontFolder, GivesTheFolderTheFrontWindowShows) {
    GetParam().arrange(platform);
    EXPECT_EQ(terminals.pathToFrontFinderWindow(), GetParam().expected);
}

void showFolder(TestPlatform& p, const std::string& path) {
    p.fileManager.addFolder(path);
    p.finder.openWindowAtPath(path);
}

void showUrlOf(TestPlatform& p, const std::string& path) {
    p.finder.openWindow(Url::fileUrlWithPath(path, false).absoluteString());
}

INSTANTIATE_TEST_SUITE_P(
    Finder, FrontFolder,
    ::testing::Values(
        FolderCase{"FolderOnAVolume",
                   [](TestPlatform& p) { showFolder(p, "/Volumes/Data/My Folder"); },
                   "/Volumes/Data/My Folder"},
        FolderCase{"StartUpVolume", [](TestPlatform& p) { showFolder(p, "/"); }, "/"},
        FolderCase{"PercentEscapesDecoded",
                   [](TestPlatform& p) { showFolder(p, "/Users/tester/Ünï 100% #1?"); },
                   "/Users/tester/Ünï 100% #1?"},
        FolderCase{"OnlyTheFrontWindowCounts",
                   [](TestPlatform& p) {
                       showFolder(p, "/Back");
                       showFolder(p, "/Front");
                   },
                   "/Front"},
        FolderCase{"FileGivesItsFolder",
                   [](TestPlatform& p) {
                       p.fileManager.addFile("/Users/tester/notes.txt");
                       showUrlOf(p, "/Users/tester/notes.txt");
                   },
                   "/Users/tester"},
        FolderCase{"ItemThatNoLongerExistsGivesItsParent",
                   [](TestPlatform& p) { p.finder.openWindow("file:///Users/tester/Gone/"); },
                   "/Users/tester"},
        FolderCase{"AliasToAFolderIsFollowed",
                   [](TestPlatform& p) {
                       p.fileManager.addFolder("/Projects/Real");
                       p.fileManager.addAlias("/Users/tester/Link", "/Projects/Real");
                       showUrlOf(p, "/Users/tester/Link");
                   },
                   "/Projects/Real"},
        FolderCase{"AliasChainIsFollowedToTheEnd",
                   [](TestPlatform& p) {
                       p.fileManager.addFolder("/Projects/Real");
                       p.fileManager.addAlias("/Projects/Second", "/Projects/Real");
                       p.fileManager.addAlias("/Users/tester/First", "/Projects/Second");
                       showUrlOf(p, "/Users/tester/First");
                   },
                   "/Projects/Real"},
        FolderCase{"AliasToAFileGivesThatFilesFolder",
                   [](TestPlatform& p) {
                       p.fileManager.addFile("/Projects/readme.txt");
                       p.fileManager.addAlias("/Users/tester/Readme", "/Projects/readme.txt");
                       showUrlOf(p, "/Users/tester/Readme");
                   },
                   "/Projects"},
        FolderCase{"BrokenAliasGivesTheAliasFolder",
                   [](TestPlatform& p) {
                       p.fileManager.addAlias("/Users/tester/Link", "/Projects/Gone");
                       showUrlOf(p, "/Users/tester/Link");
                   },
                   "/Users/tester"},
        FolderCase{"UrlThatIsNoFileUrlGivesItsParent",
                   [](TestPlatform& p) {
                       p.fileManager.addFolder("/Share/Folder");
                       p.finder.openWindow("afp://server/Share/Folder/");
                   },
                   "/Share"}),
    CaseName());

struct FailureCase {
    std::string name;
    std::function<void(TestPlatform&)> arrange;
};

class FrontFolderFailure : public TerminalFixture,
                           public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FrontFolderFailure, RaisesThePlatformException) {
    GetParam().arrange(platform);
    EXPECT_THROW(terminals.pathToFrontFinderWindow(), PlatformException);
}

INSTANTIATE_TEST_SUITE_P(
    Finder, FrontFolderFailure,
    ::testing::Values(
        FailureCase{"NoWindow", [](TestPlatform&) {}},
        FailureCase{"TargetWithoutUrl", [](TestPlatform& p) { p.finder.openWindow(std::nullopt); }},
        FailureCase{"UnparseableUrl",
                    [](TestPlatform& p) { p.finder.openWindow("file:///Users/tester/a b/"); }},
        FailureCase{"FinderUnreachable",
                    [](TestPlatform& p) {
                        p.finder.openWindowAtPath("/");
                        p.calls.failOn("Bridge.finder", InjectedFailure::Platform);
                    }}),
    CaseName());

}  // namespace
}  // namespace quaymark
