#include <gtest/gtest.h>

#include "PathUtilities.h"

namespace quaymark {
namespace {

TEST(PathUtilities, ComponentsAndTildeBehaveAsFoundationsDo) {
    // clang-format off
    for (const auto& [path, parent] : {std::pair{"/a/b", "/a"}, {"/a", "/"}, {"/", "/"}, {"a", ""},
                                       {"/a/b/", "/a"}, {"/a//b", "/a"}})
        EXPECT_EQ(stringByDeletingLastPathComponent(path), parent) << path;
    EXPECT_EQ(stringByAppendingPathComponent("/a/", "/b/"), "/a/b");
    EXPECT_EQ(lastPathComponent("/a/b/"), "b");
    // Only a leading "~" or "~/" is expanded.
    for (const auto& [path, expanded] : {std::pair{"~/Desktop", "/Users/x/Desktop"},
                                         {"~", "/Users/x"}, {"~user/x", "~user/x"},
                                         {"/a/~", "/a/~"}, {"~~", "~~"}})
        EXPECT_EQ(stringByExpandingTildeInPath(path, "/Users/x"), expanded) << path;
    // clang-format on
    EXPECT_EQ(stringByExpandingTildeInPath("~/Desktop", "/"), "/Desktop");
}

}  // namespace
}  // namespace quaymark
