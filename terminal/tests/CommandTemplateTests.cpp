#include "QuaymarkPreferences.h"
#include "TerminalFixture.h"

namespace quaymark {
namespace {

TEST(CommandTemplate, PutsTheEscapedPathForEachPlaceholderOfTheStoredTemplate) {
    struct Case {
        std::optional<PlistValue> stored;
        std::string path;  // escaped
        std::string command;
    };
    const std::string kDefault = "cd /a\\ b; clear; pwd";
    const Case cases[] = {
        {std::nullopt, "/a\\ b", kDefault},
        {PlistValue("cd %PATH% && ls %PATH%"), "/a\\ b", "cd /a\\ b && ls /a\\ b"},
        {PlistValue("echo 100%% > %PATH%/x"), "/a\\ b", "echo 100% > /a\\ b/x"},
        {PlistValue(""), "/a\\ b", ""},
        {PlistValue("ls -la"), "/a\\ b", "ls -la"},
        {PlistValue("cd %path%"), "/a\\ b", "cd %path%"},
        // Placeholders are found first, so "%%PATH%" is a "%" and then the path.
        {PlistValue("%%PATH%"), "/a\\ b", "%/a\\ b"},
        {PlistValue("%PATH%%%"), "/a\\ b", "/a\\ b%"},
        {PlistValue("50% of %PATH%%"), "/a\\ b", "50% of /a\\ b%"},
        {PlistValue("%%%"), "/a\\ b", "%%"},
        // The inserted path is never read again.
        {PlistValue("cd %PATH%"), "/x/%PATH%%%", "cd /x/%PATH%%%"},
        // Only a string is a template.
        {PlistValue::integer(7), "/a\\ b", kDefault},
        {PlistValue::boolean(true), "/a\\ b", kDefault},
        {PlistValue::stringArray({"cd %PATH%"}), "/a\\ b", kDefault}};
    for (const Case& c : cases) {
        TestPlatform test;
        if (c.stored)
            test.preferences.store(preference_key::kTerminalCommand, *c.stored, kPreferencesDomain);
        EXPECT_EQ(TerminalIdentifiers(test.platform()).commandWithPath(c.path), c.command)
            << (c.stored ? *c.stored : PlistValue("absent"));
    }
}

}  // namespace
}  // namespace quaymark
