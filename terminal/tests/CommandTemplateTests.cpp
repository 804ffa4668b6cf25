#include "QuaymarkPreferences.h"
#include "TerminalFixture.h"

namespace quaymark {
namespace {

struct TemplateCase {
    std::string name;
    std::optional<PlistValue> stored;
    std::string expected;  // for the escaped path "/a\ b"
};

class CommandTemplate : public TerminalFixture,
                        public ::testing::WithParamInterface<TemplateCase> {};

TEST_P(CommandTemplate, BuildsTheCommandFromTheStoredTemplate) {
    if (GetParam().stored) {
        platform.preferences.store("Terminal Command", *GetParam().stored,
                                   "com.brindlewood.Quaymark");
    }
    EXPECT_EQ(terminals.commandWithPath("/a\\ b"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Templates, CommandTemplate,
    ::testing::Values(
        TemplateCase{"AbsentUsesTheDefault", std::nullopt, "cd /a\\ b; clear; pwd"},
        TemplateCase{"TwoPlaceholders", PlistValue("cd %PATH% && ls %PATH%"),
                     "cd /a\\ b && ls /a\\ b"},
        TemplateCase{"DoublePercentIsOnePercent", PlistValue("echo 100%% > %PATH%/x"),
                     "echo 100% > /a\\ b/x"},
        TemplateCase{"EmptyTemplateGivesAnEmptyCommand", PlistValue(""), ""},
        TemplateCase{"NoPlaceholder", PlistValue("ls -la"), "ls -la"},
        TemplateCase{"PlaceholderIsCaseSensitive", PlistValue("cd %path%"), "cd %path%"},
        TemplateCase{"PlaceholdersAreFoundBeforePairs", PlistValue("%%PATH%"), "%/a\\ b"},
        TemplateCase{"PairAfterPlaceholder", PlistValue("%PATH%%%"), "/a\\ b%"},
        TemplateCase{"LonePercentIsKept", PlistValue("50% of %PATH%%"), "50% of /a\\ b%"},
        TemplateCase{"ThreePercentsGiveTwo", PlistValue("%%%"), "%%"},
        TemplateCase{"IntegerCountsAsAbsent", PlistValue::integer(7), "cd /a\\ b; clear; pwd"},
        TemplateCase{"BooleanCountsAsAbsent", PlistValue::boolean(true), "cd /a\\ b; clear; pwd"},
        TemplateCase{"ArrayCountsAsAbsent", PlistValue::stringArray({"cd %PATH%"}),
                     "cd /a\\ b; clear; pwd"}),
    CaseName());

TEST_F(TerminalFixture, InsertedPathIsNeverScannedAgain) {
    platform.preferences.store("Terminal Command", PlistValue("cd %PATH%"), kPreferencesDomain);
    EXPECT_EQ(terminals.commandWithPath("/x/%PATH%%%"), "cd /x/%PATH%%%");
}

TEST_F(TerminalFixture, TemplateIsReadAfreshFromTheSharedDomainOnly) {
    platform.preferences.store("Terminal Command", PlistValue("ls %PATH%"), "com.other.App");
    EXPECT_EQ(terminals.commandWithPath("/p"), "cd /p; clear; pwd");
    platform.preferences.store("Terminal Command", PlistValue("open %PATH%"), kPreferencesDomain);
    EXPECT_EQ(terminals.commandWithPath("/p"), "open /p");
    platform.preferences.store("Terminal Command", PlistValue("pushd %PATH%"), kPreferencesDomain);
    EXPECT_EQ(terminals.commandWithPath("/p"), "pushd /p");
}

}  // namespace
}  // namespace quaymark
