// The icon files of the built bundle: valid icns files with PNG payloads that icnsutils
// reads, one distinct picture per name, and the helper's own copy of "moj".
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>

#include "HostTestSupport.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;

const char* const kIconNames[] = {"snow", "liomount", "mav", "yose", "moj"};

std::uint32_t bigEndian(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

// The elements of an icns file by type; empty when the container is malformed.
std::map<std::string, std::string> icnsElements(const std::string& file) {
    std::map<std::string, std::string> elements;
    if (file.size() < 8 || file.compare(0, 4, "icns") != 0 || bigEndian(file, 4) != file.size())
        return {};
    for (std::size_t at = 8; at < file.size();) {
        if (at + 8 > file.size())
            return {};
        std::uint32_t length = bigEndian(file, at + 4);
        if (length < 8 || at + length > file.size())
            return {};
        elements[file.substr(at, 4)] = file.substr(at + 8, length - 8);
        at += length;
    }
    return elements;
}

fs::path iconPath(const std::string& name) {
    return fs::path(QUAYMARK_APP_DIR) / "Contents" / "Resources" / (name + ".icns");
}

TEST(IconResourcesTest, EachIconHoldsPngImagesOfTwoSizesAndAPictureOfItsOwnAndTheHelperHasMoj) {
    std::map<std::string, std::string> pictures;
    for (const char* name : kIconNames) {
        std::map<std::string, std::string> elements =
            icnsElements(testing::readFile(iconPath(name)));
        ASSERT_EQ(elements.size(), 2u) << name;
        for (const auto& [type, side] : {std::pair{"ic08", 256u}, std::pair{"ic09", 512u}}) {
            const std::string& png = elements[type];
            ASSERT_GT(png.size(), 24u) << name << " " << type;
            EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n") << name << " " << type;
            EXPECT_EQ(bigEndian(png, 16), side) << name << " " << type;
            EXPECT_EQ(bigEndian(png, 20), side) << name << " " << type;
        }
        for (const auto& [other, seen] : pictures)
            EXPECT_NE(elements["ic09"], seen) << name << " looks like " << other;
        pictures[name] = elements["ic09"];
    }
    EXPECT_EQ(testing::readFile(fs::path(QUAYMARK_APP_DIR) / "Contents" / "MacOS" /
                                "QuaymarkHelper.app" / "Contents" / "Resources" / "moj.icns"),
              testing::readFile(iconPath("moj")));
}

}  // namespace
}  // namespace quaymark
