// The configuration model: loading, default lists, the system version, the helper's URL,
// the button entry test, and the position arithmetic of insert and remove.
#include <cctype>
#include <climits>
#include <map>

#include "InstallerFixture.h"

namespace quaymark {
namespace {

// An entry of the plists dictionary that says where it came from.
PlistValue marker(const std::string& name) {
    return itemPointingAt("file:///Volumes/" + name + "/");
}
PlistDictionary markedPlists(const std::vector<std::string>& keys) {
    PlistDictionary plists;
    for (const std::string& key : keys)
        plists.set(key, marker(key));
    return plists;
}

struct EditCase {
    const char* behaviour;
    int count;                                    // identifiers before
    std::vector<std::string> keys;                // entries before, each marked with its key
    int index;                                    // where to insert or remove
    std::map<std::string, std::string> expected;  // key afterwards → key it had before
};

// "at 2 of 5 with 1, 3, 4" becomes "at_2_of_5_with_1_3_4".
std::string caseName(const ::testing::TestParamInfo<EditCase>& each) {
    std::string name;
    for (char c : std::string(each.param.behaviour)) {
        if (std::isalnum(static_cast<unsigned char>(c)))
            name += c;
        else if (!name.empty() && name.back() != '_')
            name += '_';
    }
    return name;
}

class InsertTest : public InstallerTest, public ::testing::WithParamInterface<EditCase> {};
class RemoveTest : public InstallerTest, public ::testing::WithParamInterface<EditCase> {};

PlistDictionary expectedPlists(const EditCase& edit, std::optional<PlistValue> inserted) {
    PlistDictionary plists;
    for (const auto& [key, from] : edit.expected)
        plists.set(key, from == "NEW" ? *inserted : marker(from));
    return plists;
}

TEST_P(InsertTest, MovesTheEntriesBehindTheIndexUpByOne) {
    const EditCase& edit = GetParam();
    PlistArray identifiers = numberedIdentifiers(edit.count);
    PlistDictionary plists = markedPlists(edit.keys);

    controller.insertItem(*buttonItem().asDictionary(), identifiers, plists, edit.index);

    EXPECT_EQ(plists, expectedPlists(edit, buttonItem())) << edit.behaviour;
    PlistArray expectedIdentifiers = numberedIdentifiers(edit.count);
    if (edit.index >= 0 && edit.index <= edit.count) {
        expectedIdentifiers.insert(expectedIdentifiers.begin() + edit.index,
                                   PlistValue(kLocationItemIdentifier));
    }
    EXPECT_EQ(identifiers, expectedIdentifiers) << edit.behaviour;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InsertTest,
    ::testing::Values(
        EditCase{
            "at the end nothing moves", 5, {"1", "3"}, 5, {{"1", "1"}, {"3", "3"}, {"5", "NEW"}}},
        EditCase{"at 2 of 5 with 1, 3, 4",
                 5,
                 {"1", "3", "4"},
                 2,
                 {{"1", "1"}, {"2", "NEW"}, {"4", "3"}, {"5", "4"}}},
        EditCase{"into an empty list", 0, {}, 0, {{"0", "NEW"}}},
        EditCase{"an entry under n is replaced by the one from n-1",
                 3,
                 {"2", "3"},
                 1,
                 {{"1", "NEW"}, {"3", "2"}}},
        EditCase{
            "9 becomes the two characters 10; 07, abc, -1 stay",
            12,
            {"07", "abc", "-1", "9", "10"},
            5,
            {{"07", "07"}, {"abc", "abc"}, {"-1", "-1"}, {"5", "NEW"}, {"10", "9"}, {"11", "10"}}},
        EditCase{"an index past the end changes nothing", 3, {"1"}, 4, {{"1", "1"}}},
        EditCase{"a negative index changes nothing", 3, {"1"}, -1, {{"1", "1"}}}),
    caseName);

TEST_P(RemoveTest, MovesTheEntriesBehindTheIndexDownByOne) {
    const EditCase& edit = GetParam();
    PlistArray identifiers = numberedIdentifiers(edit.count);
    PlistDictionary plists = markedPlists(edit.keys);

    controller.removeItemAtIndex(edit.index, identifiers, plists);

    EXPECT_EQ(plists, expectedPlists(edit, std::nullopt)) << edit.behaviour;
    PlistArray expectedIdentifiers = numberedIdentifiers(edit.count);
    if (edit.index >= 0 && edit.index < edit.count)
        expectedIdentifiers.erase(expectedIdentifiers.begin() + edit.index);
    EXPECT_EQ(identifiers, expectedIdentifiers) << edit.behaviour;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RemoveTest,
    ::testing::Values(
        EditCase{"at 2 of 6 with 2, 3, 5", 6, {"2", "3", "5"}, 2, {{"2", "3"}, {"4", "5"}}},
        EditCase{"the last position moves nothing", 4, {"1", "3"}, 3, {{"1", "1"}}},
        EditCase{"a position without an entry still moves later ones",
                 5,
                 {"0", "3", "4"},
                 1,
                 {{"0", "0"}, {"2", "3"}, {"3", "4"}}},
        EditCase{"10 moves to 9; 07 and abc stay",
                 12,
                 {"07", "abc", "10", "11"},
                 3,
                 {{"07", "07"}, {"abc", "abc"}, {"9", "10"}, {"10", "11"}}},
        EditCase{"an index at the end changes nothing", 3, {"2"}, 3, {{"2", "2"}}},
        EditCase{"a negative index changes nothing", 3, {"2"}, -1, {{"2", "2"}}}),
    caseName);

TEST_F(InstallerTest, NothingStoredLoadsTheDefaultConfigurationOfTheSystem) {
    struct Case {
        const char* version;
        const std::vector<std::string>& defaults;
    };
    for (const Case& each : {Case{"10.9.5", kNineDefaults}, Case{"10.13.6", kNineDefaults},
                             Case{"10.14.6", kTenDefaults}, Case{"10.15", kTenDefaults},
                             Case{"11.2.3", kNineDefaults}}) {
        setSystemVersion(each.version);
        PlistDictionary loaded = controller.createToolbarConfigurationBrowserDictionary();
        PlistValue list = PlistValue::stringArray(each.defaults);
        EXPECT_EQ(loaded, (PlistDictionary{{kDefaultItemIdentifiers, list},
                                           {kItemIdentifiers, list},
                                           {kDisplayMode, PlistValue::integer(2)}}))
            << each.version;
        EXPECT_EQ(controller.defaultItemIdentifiersArray(), *list.asArray()) << each.version;
    }
    EXPECT_FALSE(hasStored());
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

TEST_F(InstallerTest, AStoredValueThatIsNoDictionaryLoadsAsTheDefault) {
    test.preferences.store(kConfigurationKey, PlistValue("garbage"), kFinderDomain);
    PlistDictionary loaded = controller.createToolbarConfigurationBrowserDictionary();
    EXPECT_EQ(*loaded.find(kItemIdentifiers), PlistValue::stringArray(kNineDefaults));
}

TEST_F(InstallerTest, SystemVersionIsTheSecondComponentOfProductVersion) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"10.9.5", 9},    {"10.10.5", 10},
        {"10.9", 9},      {"10.6.8", 6},
        {"10.14.6", 14},  {"11.2.3", 2},
        {"10", 0},        {"10.", 0},
        {"10.x", 0},      {"10. 7", 7},
        {"10.-3", -3},    {"10.+4", 4},
        {"10.8abc.1", 8}, {"10.99999999999", INT32_MAX},
        {"", 0}};
    for (const auto& [version, expected] : cases) {
        setSystemVersion(version);
        EXPECT_EQ(controller.osVersion(), expected) << '"' << version << '"';
    }
}

TEST_F(InstallerTest, SystemVersionIsZeroWithoutAReadableProductVersion) {
    test.fileManager.addFile(
        kSystemVersionPath,
        PlistValue(PlistDictionary{{"ProductVersion", PlistValue::integer(10)}}));
    EXPECT_EQ(controller.osVersion(), 0);
    test.fileManager.addFile(kSystemVersionPath, PlistValue(PlistDictionary{{"ProductName", "X"}}));
    EXPECT_EQ(controller.osVersion(), 0);
    test.fileManager.removeItemAtPath(kSystemVersionPath);
    EXPECT_EQ(controller.osVersion(), 0);
}

TEST_F(InstallerTest, HelperUrlIsAPercentEncodedFileUrlWithTheFolderSlash) {
    struct Case {
        const char* bundle;
        bool helperExists;
        const char* url;
    };
    for (const Case& each :
         {Case{"/Applications/Quaymark.app", true, kHelperUrl.c_str()},
          Case{"/Applications/Quaymark.app/", true, kHelperUrl.c_str()},
          Case{"/Applications/Quaymark.app", false,
               "file:///Applications/Quaymark.app/Contents/MacOS/QuaymarkHelper.app"},
          Case{"/Applications/My Tools/Quaymark.app", true,
               "file:///Applications/My%20Tools/Quaymark.app/Contents/MacOS/"
               "QuaymarkHelper.app/"}}) {
        test.mainBundle.setBundlePath(each.bundle);
        std::string helper = controller.helperPath();
        test.fileManager.removeItemAtPath(helper);
        if (each.helperExists)
            test.fileManager.addFolder(helper);
        EXPECT_EQ(controller.helperURL().absoluteString(), each.url) << each.bundle;
    }
}

TEST_F(InstallerTest, AButtonEntryIsAPlainTestOfTheUrlStringsEnd) {
    const std::pair<PlistValue, bool> cases[] = {
        {itemPointingAt(kHelperUrl), true},
        {itemPointingAt("file:///Applications/Quaymark.app/Contents/MacOS/QuaymarkHelper.app"),
         true},
        {itemPointingAt("file:///Users/other/Applications/Quaymark.app/Contents/MacOS/"
                        "QuaymarkHelper.app/"),
         true},
        {itemPointingAt("file:///Applications/NotQuaymarkHelper.app/"), true},
        {itemPointingAt("file:///Downloads/QuaymarkHelper.app.zip"), false},
        {itemPointingAt("file:///Downloads/QuaymarkHelper.app//"), false},
        {PlistDictionary{{kUrlStringType, PlistValue::integer(15)}}, false},
        {PlistDictionary{{kUrlString, PlistValue::integer(15)}}, false},
        {PlistValue(kHelperUrl), false},
        {PlistValue::stringArray({kHelperUrl}), false}};
    for (const auto& [entry, isButton] : cases) {
        EXPECT_EQ(FinderToolBarController::isButtonEntry(entry), isButton) << entry;
        store(PlistDictionary{{kItemPlists, PlistDictionary{{"3", entry}}}});
        EXPECT_EQ(controller.isQuaymarkInstalled(), isButton) << entry;
    }
}

TEST_F(InstallerTest, DetectionIsNoWithoutItemPlists) {
    EXPECT_FALSE(controller.isQuaymarkInstalled());
    store(PlistDictionary{{kItemIdentifiers, PlistValue::stringArray({kLocationItemIdentifier})}});
    EXPECT_FALSE(controller.isQuaymarkInstalled());
}

}  // namespace
}  // namespace quaymark
