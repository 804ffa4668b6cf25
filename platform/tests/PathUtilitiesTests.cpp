#include <gtest/gtest.h>

#include "PathUtilities.h"

namespace quaymark {
namespace {

TEST(PathUtilities, ComponentsAndTildeBehaveAsFoundationsDo) {
    const std::vector<std::pair<std::string, std::string>> parents{
        {"/a/b", "/a"}, {"/a", "/"}, {"/", "/"}, {"a", ""}, {"/a/b/", "/a"}, {"/a//b", "/a"}};
    for (const auto& [path, parent] : parents)
        EXPECT_EQ(stringByDeletingLastPathComponent(path), parent) << path;
    EXPECT_EQ(stringByAppendingPathComponent("/", "b"), "/b");
    EXPECT_EQ(stringByAppendingPathComponent("/a/", "/b/"), "/a/b");
    EXPECT_EQ(stringByAppendingPathComponent("/a", ""), "/a");
    EXPECT_EQ(lastPathComponent("/a/b/"), "b");
    EXPECT_EQ(lastPathComponent("/"), "/");
    // Only a leading "~" or "~/" is expanded.
    const std::vector<std::pair<std::string, std::string>> tildes{{"~/Desktop", "/Users/x/Desktop"},
                                                                  {"~", "/Users/x"},
                                                                  {"~user/x", "~user/x"},
                                                                  {"/a/~", "/a/~"},
                                                                  {"~~", "~~"}};
    for (const auto& [path, expanded] : tildes)
        EXPECT_EQ(stringByExpandingTildeInPath(path, "/Users/x"), expanded) << path;
    EXPECT_EQ(stringByExpandingTildeInPath("~/Desktop", "/"), "/Desktop");
}

}  // namespace
}  // namespace quaymark
