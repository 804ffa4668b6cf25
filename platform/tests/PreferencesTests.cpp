#include <gtest/gtest.h>

#include "MemoryPreferences.h"
#include "UserDefaults.h"

namespace quaymark {
namespace {

TEST(BooleanForm, AcceptsBooleansIntegersAndTheFourWordsInAnyCase) {
    // clang-format off
    const std::vector<std::pair<PlistValue, std::optional<bool>>> cases{
        {PlistValue::boolean(true), true}, {PlistValue::boolean(false), false},
        {PlistValue::integer(0), false}, {PlistValue::integer(-1), true}, {PlistValue("true"), true},
        {PlistValue("YES"), true}, {PlistValue("yEs"), true}, {PlistValue("False"), false},
        {PlistValue("NO"), false}, {PlistValue("1"), std::nullopt}, {PlistValue(""), std::nullopt},
        {PlistValue("yes "), std::nullopt}, {PlistValue::real(1.0), std::nullopt},
        {PlistValue(PlistDate{0}), std::nullopt}};
    // clang-format on
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(booleanForm(value), expected) << value;
}

TEST(Defaults, StoredValuesWinOverRegisteredOnesWhichAreNeverWritten) {
    CallLog calls;
    MemoryPreferences preferences{calls};
    UserDefaults defaults{preferences, "com.brindlewood.Quaymark"};
    EXPECT_EQ(defaults.objectForKey("Use Window"), std::nullopt);
    EXPECT_FALSE(defaults.boolForKey("Use Window"));
    defaults.registerDefaults(
        {{"Use Window", PlistValue::boolean(true)}, {"Terminal Command", PlistValue("cd %PATH%")}});
    defaults.registerDefaults({{"Terminal Command", PlistValue("pushd %PATH%")}});
    EXPECT_TRUE(defaults.boolForKey("Use Window"));
    EXPECT_EQ(defaults.stringForKey("Terminal Command"), "pushd %PATH%");
    EXPECT_TRUE(preferences.values("com.brindlewood.Quaymark").empty());

    preferences.store("Use Window", PlistValue::boolean(false), "com.brindlewood.Quaymark");
    preferences.store("Terminal Command", PlistValue::integer(3), "com.brindlewood.Quaymark");
    EXPECT_FALSE(defaults.boolForKey("Use Window"));
    // A stored value of the wrong type hides the registered one and reads as no string.
    EXPECT_EQ(defaults.stringForKey("Terminal Command"), std::nullopt);

    // Writes stay in this process until synchronised.
    defaults.setBool("Use Window", true);
    EXPECT_TRUE(preferences.hasUnsynchronizedChanges("com.brindlewood.Quaymark"));
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_FALSE(preferences.hasUnsynchronizedChanges("com.brindlewood.Quaymark"));
    EXPECT_EQ(preferences.appBooleanValue("Use Window", "com.brindlewood.Quaymark"), true);
}

}  // namespace
}  // namespace quaymark
