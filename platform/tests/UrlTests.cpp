#include <gtest/gtest.h>

#include "Url.h"

namespace quaymark {
namespace {

TEST(Url, AcceptsOnlyWellFormedUrlTextAndDecodesItsPath) {
    for (const char* invalid : {"file:///a b", "file:///%zz", "file:///x%4", "file:///x%",
                                "1abc:/x", "file:///\xC3\xBC", "file:///a\"b", "file:///a\\b"})
        EXPECT_FALSE(Url::fromString(invalid).has_value()) << invalid;
    // clang-format off
    for (const auto& [text, path] : {std::pair{"file:///Users/a%20b/", "/Users/a b"},
             {"file:///", "/"}, {"file://localhost/Volumes/Data/", "/Volumes/Data"},
             {"file:///x/%E4%B8%AD%25", "/x/中%"}, {"http://h/p/?q=1#f", "/p"},
             {"afp://server/Share/", "/Share"}}) {
        // clang-format on
        ASSERT_TRUE(Url::fromString(text).has_value()) << text;
        EXPECT_EQ(Url::fromString(text)->path(), path) << text;
    }
    EXPECT_TRUE(Url::fromString("FILE:///x")->isFileUrl());
    EXPECT_FALSE(Url::fromString("afp://server/x")->isFileUrl());
}

TEST(Url, FileUrlEncodesWhatAPathMayHoldAndReadsBackTheSamePath) {
    // clang-format off
    for (const auto& [path, isDirectory, text] : {std::tuple{"/a b", false, "file:///a%20b"},
             {"/\xC3\xBC", false, "file:///%C3%BC"}, {"/100%", false, "file:///100%25"},
             {"/a#b?c", false, "file:///a%23b%3Fc"}, {"/dir", true, "file:///dir/"},
             {"/", true, "file:///"}, {"/it's (1)&", false, "file:///it's%20(1)&"}}) {
        // clang-format on
        EXPECT_EQ(Url::fileUrlWithPath(path, isDirectory).absoluteString(), text);
        EXPECT_EQ(Url::fromString(text)->path(), path);
    }
}

}  // namespace
}  // namespace quaymark
