// The configuration model: loading, default lists, the system version, the helper's URL,
// the button entry test, and the position arithmetic of insert and remove.
#include <climits>
#include <map>

#include "InstallerFixture.h"

namespace quaymark {
namespace {

// An entry of the plists dictionary that says where it came from.
PlistValue marker(const std::string& name) {
    return itemPointingAt("file:///Volumes/" + name + "/");
}

struct EditCase {
    const char* behaviour;
    bool insert;                                  // insert, else remove
    int count;                                    // identifiers before
    std::vector<std::string> keys;                // entries before, each marked with its key
    int index;                                    // where to insert or remove
    std::map<std::string, std::string> expected;  // key afterwards → key it had before
    bool inStep = true;  // a remove finds the location item identifier at the index
};

class EditTest : public InstallerTest, public ::testing::WithParamInterface<EditCase> {};

TEST_P(EditTest, MovesTheEntriesBehindTheIndex) {
    const EditCase& edit = GetParam();
    bool inRange = edit.index >= 0 && edit.index < edit.count + (edit.insert ? 1 : 0);
    bool located = !edit.insert && inRange && edit.inStep;
    PlistArray identifiers =
        located ? numberedIdentifiers(edit.count, {edit.index}) : numberedIdentifiers(edit.count);
    PlistArray expectedIdentifiers = identifiers;
    PlistDictionary plists;
    for (const std::string& key : edit.keys)
        plists.set(key, marker(key));

    if (edit.insert) {
        controller.insertItem(*buttonItem().asDictionary(), identifiers, plists, edit.index);
        if (inRange) {
            expectedIdentifiers.insert(expectedIdentifiers.begin() + edit.index,
                                       PlistValue(kLocationItemIdentifier));
        }
    } else {
        controller.removeItemAtIndex(edit.index, identifiers, plists);
        if (located)
            expectedIdentifiers.erase(expectedIdentifiers.begin() + edit.index);
    }

    PlistDictionary expectedPlists;
    for (const auto& [key, from] : edit.expected)
        expectedPlists.set(key, from == "NEW" ? buttonItem() : marker(from));
    EXPECT_EQ(plists, expectedPlists) << edit.behaviour;
    EXPECT_EQ(identifiers, expectedIdentifiers) << edit.behaviour;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EditTest,
    ::testing::Values(
        EditCase{
            "insert at the end", true, 5, {"1", "3"}, 5, {{"1", "1"}, {"3", "3"}, {"5", "NEW"}}},
        EditCase{"insert at 2 of 5",
                 true,
                 5,
                 {"1", "3", "4"},
                 2,
                 {{"1", "1"}, {"2", "NEW"}, {"4", "3"}, {"5", "4"}}},
        EditCase{"insert into an empty list", true, 0, {}, 0, {{"0", "NEW"}}},
        EditCase{"insert: n-1 replaces n", true, 3, {"2", "3"}, 1, {{"1", "NEW"}, {"3", "2"}}},
        EditCase{
            "insert: 9 becomes 10; 07, abc, -1 stay",
            true,
            12,
            {"07", "abc", "-1", "9", "10"},
            5,
            {{"07", "07"}, {"abc", "abc"}, {"-1", "-1"}, {"5", "NEW"}, {"10", "9"}, {"11", "10"}}},
        EditCase{"remove at 2 of 6", false, 6, {"2", "3", "5"}, 2, {{"2", "3"}, {"4", "5"}}},
        EditCase{"remove the last", false, 4, {"1", "3"}, 3, {{"1", "1"}}},
        EditCase{"remove without an entry",
                 false,
                 5,
                 {"0", "3", "4"},
                 1,
                 {{"0", "0"}, {"2", "3"}, {"3", "4"}}},
        EditCase{"remove: 10 becomes 9; 07, abc stay",
                 false,
                 12,
                 {"07", "abc", "10", "11"},
                 3,
                 {{"07", "07"}, {"abc", "abc"}, {"9", "10"}, {"10", "11"}}},
        EditCase{"remove out of step takes the entry alone",
                 false,
                 6,
                 {"2", "3", "5"},
                 2,
                 {{"3", "3"}, {"5", "5"}},
                 false}));

TEST_F(InstallerTest, NothingStoredLoadsTheDefaultConfigurationOfTheSystem) {
    struct Case {
        const char* version;
        const std::vector<std::string>& defaults;
    };
    for (const Case& each : {Case{"10.9.5", kNineDefaults}, Case{"10.13.6", kNineDefaults},
                             Case{"10.14.6", kTenDefaults}, Case{"10.15", kTenDefaults},
                             Case{"11.2.3", kNineDefaults}}) {
        setSystemVersion(each.version);
        PlistValue list = PlistValue::stringArray(each.defaults);
        PlistDictionary defaults{{kDefaultItemIdentifiers, list},
                                 {kItemIdentifiers, list},
                                 {kDisplayMode, PlistValue::integer(2)}};
        EXPECT_EQ(controller.createToolbarConfigurationBrowserDictionary(), defaults);
        // A stored value that is no dictionary loads as the default too.
        test.preferences.store(kConfigurationKey, PlistValue("garbage"), kFinderDomain);
        EXPECT_EQ(controller.createToolbarConfigurationBrowserDictionary(), defaults);
        test.preferences.setAppValue(kConfigurationKey, std::nullopt, kFinderDomain);
    }
}

TEST_F(InstallerTest, AStoredConfigurationLoadsUnchangedAndAfreshEachTime) {
    PlistDictionary first{{kItemIdentifiers, PlistValue::stringArray({"a"})},
                          {"TB Icon Size Mode", PlistValue::integer(1)}};
    store(first);
    EXPECT_EQ(controller.createToolbarConfigurationBrowserDictionary(), first);
    PlistDictionary second{{"TB Is Shown", PlistValue::boolean(false)}};
    store(second);
    EXPECT_EQ(controller.createToolbarConfigurationBrowserDictionary(), second);
}

TEST_F(InstallerTest, SystemVersionIsTheSecondComponentOfProductVersion) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"10.9.5", 9}, {"10.10.5", 10},  {"10.9", 9},
        {"10.6.8", 6}, {"10.14.6", 14},  {"11.2.3", 2},
        {"10", 0},     {"10.", 0},       {"10.x", 0},
        {"10. 7", 7},  {"10.-3", -3},    {"10.+4", 4},
        {"", 0},       {"10.8abc.1", 8}, {"10.99999999999", INT32_MAX}};
    for (const auto& [version, expected] : cases) {
        setSystemVersion(version);
        EXPECT_EQ(controller.osVersion(), expected) << '"' << version << '"';
    }
    test.fileManager.addFile(
        kSystemVersionPath,
        PlistValue(PlistDictionary{{"ProductVersion", PlistValue::integer(10)}}));
    EXPECT_EQ(controller.osVersion(), 0);
    test.fileManager.removeItemAtPath(kSystemVersionPath);
    EXPECT_EQ(controller.osVersion(), 0);
}

TEST_F(InstallerTest, HelperUrlIsAPercentEncodedFileUrlWithTheFolderSlash) {
    struct Case {
        const char* bundle;
        bool helperExists;
        std::string url;
    };
    for (const Case& each :
         {Case{"/Applications/Quaymark.app/", true, kHelperUrl},
          Case{"/Applications/Quaymark.app", false,
               "file:///Applications/Quaymark.app/Contents/MacOS/QuaymarkHelper.app"},
          Case{
              "/Applications/My Tools/Quaymark.app", true,
              "file:///Applications/My%20Tools/Quaymark.app/Contents/MacOS/QuaymarkHelper.app/"}}) {
        test.mainBundle.setBundlePath(each.bundle);
        std::string helper = controller.helperPath();
        test.fileManager.removeItemAtPath(helper);
        if (each.helperExists)
            test.fileManager.addFolder(helper);
        EXPECT_EQ(controller.helperURL().absoluteString(), each.url) << each.bundle;
    }
}

TEST_F(InstallerTest, AButtonEntryIsAFileUrlWhoseLastComponentIsTheHelper) {
    const std::pair<PlistValue, bool> cases[] = {
        {itemPointingAt(kHelperUrl), true},
        {itemPointingAt("file:///Applications/Quaymark.app/Contents/MacOS/QuaymarkHelper.app"),
         true},
        {itemPointingAt("file:///Users/other/Applications/QuaymarkHelper.app/"), true},
        {itemPointingAt("file://localhost/My%20Tools/Quaymark%48elper%2Eapp/"), true},
        {itemPointingAt("file:///Applications/NotQuaymarkHelper.app/"), false},
        {itemPointingAt("file:///Applications/Not%20QuaymarkHelper.app"), false},
        {itemPointingAt("file:///Applications/Not%2FQuaymarkHelper.app/"), false},
        {itemPointingAt("file:///Downloads/QuaymarkHelper.app.zip"), false},
        {itemPointingAt("file:///Downloads/QuaymarkHelper.app//"), false},
        {itemPointingAt("file:///Downloads/QuaymarkHelper.app%"), false},
        {itemPointingAt("https://example.com/QuaymarkHelper.app/"), false},
        {itemPointingAt("/Applications/QuaymarkHelper.app"), false},
        {PlistDictionary{{kUrlString, PlistValue::integer(15)}}, false},
        {PlistValue(kHelperUrl), false}};
    for (const auto& [entry, isButton] : cases) {
        store(PlistDictionary{{kItemPlists, PlistDictionary{{"3", entry}}}});
        EXPECT_EQ(controller.isQuaymarkInstalled(), isButton) << entry;
    }
}

}  // namespace
}  // namespace quaymark
