#include <gtest/gtest.h>

#include "Url.h"

namespace quaymark {
namespace {

TEST(Url, AcceptsOnlyWellFormedUrlText) {
    for (const char* valid : {"file:///Users/a%20b/", "file://localhost/x", "http://h/p?q#f",
                              "relative/path", "afp://server/Share/", "FILE:///x"}) {
        EXPECT_TRUE(Url::fromString(valid).has_value()) << valid;
    }
    for (const char* invalid : {"file:///a b", "file:///%zz", "file:///x%4", "file:///x%",
                                "1abc:/x", "file:///\xC3\xBC", "file:///a\"b", "file:///a\\b"}) {
        EXPECT_FALSE(Url::fromString(invalid).has_value()) << invalid;
    }
}

TEST(Url, PathIsDecodedWithoutTrailingSlash) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"file:///Users/a%20b/", "/Users/a b"},
        {"file:///", "/"},
        {"file://localhost/Volumes/Data/", "/Volumes/Data"},
        {"file:///x/%E4%B8%AD%25", "/x/中%"},
        {"http://h/p/?q=1#f", "/p"},
    };
    for (const auto& [text, path] : cases)
        EXPECT_EQ(Url::fromString(text)->path(), path) << text;
    EXPECT_TRUE(Url::fromString("FILE:///x")->isFileUrl());
    EXPECT_FALSE(Url::fromString("afp://server/x")->isFileUrl());
}

TEST(Url, FileUrlEncodesWhatAPathMayHoldAndReadsBackTheSamePath) {
    struct Case {
        std::string path;
        bool isDirectory;
        std::string text;
    };
    const std::vector<Case> cases{
        {"/a b", false, "file:///a%20b"},
        {"/\xC3\xBC", false, "file:///%C3%BC"},
        {"/100%", false, "file:///100%25"},
        {"/a#b?c", false, "file:///a%23b%3Fc"},
        {"/dir", true, "file:///dir/"},
        {"/", true, "file:///"},
        {"/it's (1)&", false, "file:///it's%20(1)&"},
    };
    for (const Case& c : cases) {
        Url url = Url::fileUrlWithPath(c.path, c.isDirectory);
        EXPECT_EQ(url.absoluteString(), c.text);
        std::optional<Url> parsed = Url::fromString(url.absoluteString());
        ASSERT_TRUE(parsed.has_value()) << c.text;
        EXPECT_EQ(parsed->path(), c.path);
    }
}

}  // namespace
}  // namespace quaymark
