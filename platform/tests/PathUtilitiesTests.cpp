#include <gtest/gtest.h>

#include "PathUtilities.h"

namespace quaymark {
namespace {

TEST(PathUtilities, DeletingLastComponent) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"/a/b", "/a"}, {"/a", "/"}, {"/", "/"}, {"a", ""}, {"/a/b/", "/a"}, {"/a//b", "/a"}};
    for (const auto& [path, parent] : cases) {
        EXPECT_EQ(stringByDeletingLastPathComponent(path), parent) << path;
    }
}

TEST(PathUtilities, AppendingAndLastComponent) {
    EXPECT_EQ(stringByAppendingPathComponent("/a", "b"), "/a/b");
    EXPECT_EQ(stringByAppendingPathComponent("/", "b"), "/b");
    EXPECT_EQ(stringByAppendingPathComponent("/a/", "/b/"), "/a/b");
    EXPECT_EQ(stringByAppendingPathComponent("/a", ""), "/a");
    EXPECT_EQ(lastPathComponent("/a/b/"), "b");
    EXPECT_EQ(lastPathComponent("/"), "/");
    EXPECT_EQ(lastPathComponent("a"), "a");
}

TEST(PathUtilities, OnlyALeadingTildeIsExpanded) {
    const std::vector<std::pair<std::string, std::string>> cases{{"~/Desktop", "/Users/x/Desktop"},
                                                                 {"~", "/Users/x"},
                                                                 {"~user/x", "~user/x"},
                                                                 {"/a/~", "/a/~"},
                                                                 {"~~", "~~"}};
    for (const auto& [path, expanded] : cases) {
        EXPECT_EQ(stringByExpandingTildeInPath(path, "/Users/x"), expanded) << path;
    }
    EXPECT_EQ(stringByExpandingTildeInPath("~/Desktop", "/"), "/Desktop");
}

}  // namespace
}  // namespace quaymark
