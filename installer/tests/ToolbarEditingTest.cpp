// The configuration model: the button entry test and the position arithmetic of insert and
// remove.
#include <sstream>

#include "InstallerFixture.h"

namespace quaymark {
namespace {

struct EditCase {
    const char* behaviour;
    bool insert;  // insert, else remove
    int count;    // identifiers before
    int index;    // where to insert or remove
    // The entries: keys before, each marked with its key ("1 3"); keys after, each with the
    // key it had before when that differs ("1 2=NEW 4=3").
    const char* before;
    const char* after;
    bool inStep = true;  // a remove finds the location item identifier at the index
};

class EditTest : public InstallerTest, public ::testing::WithParamInterface<EditCase> {};

PlistDictionary markedEntries(const char* keys) {
    PlistDictionary entries;
    std::istringstream words(keys);
    for (std::string word; words >> word;) {
        std::size_t equals = word.find('=');
        std::string from = equals == std::string::npos ? word : word.substr(equals + 1);
        entries.set(word.substr(0, equals),
                    from == "NEW" ? buttonItem() : itemPointingAt("file:///Volumes/" + from));
    }
    return entries;
}

TEST_P(EditTest, MovesTheEntriesBehindTheIndex) {
    const EditCase& edit = GetParam();
    bool located = !edit.insert && edit.inStep;
    PlistArray identifiers =
        located ? numberedIdentifiers(edit.count, {edit.index}) : numberedIdentifiers(edit.count);
    PlistArray expected = identifiers;
    PlistDictionary plists = markedEntries(edit.before);

    if (edit.insert) {
        controller.insertItem(*buttonItem().asDictionary(), identifiers, plists, edit.index);
        expected.insert(expected.begin() + edit.index, PlistValue(kLocationItemIdentifier));
    } else {
        controller.removeItemAtIndex(edit.index, identifiers, plists);
        if (located)
            expected.erase(expected.begin() + edit.index);
    }

    EXPECT_EQ(plists, markedEntries(edit.after)) << edit.behaviour;
    EXPECT_EQ(identifiers, expected) << edit.behaviour;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EditTest,
    ::testing::Values(
        EditCase{"insert at the end", true, 5, 5, "1 3", "1 3 5=NEW"},
        EditCase{"insert at 2 of 5", true, 5, 2, "1 3 4", "1 2=NEW 4=3 5=4"},
        EditCase{"insert: n-1 replaces n", true, 3, 1, "2 3", "1=NEW 3=2"},
        EditCase{"insert: 9 becomes 10", true, 12, 5, "07 abc -1 9 10",
                 "07 abc -1 5=NEW 10=9 11=10"},
        EditCase{"remove at 2 of 6", false, 6, 2, "2 3 5", "2=3 4=5"},
        EditCase{"remove the last", false, 4, 3, "1 3", "1"},
        EditCase{"remove without an entry", false, 5, 1, "0 3 4", "0 2=3 3=4"},
        EditCase{"remove: 10 becomes 9", false, 12, 3, "07 abc 10 11", "07 abc 9=10 10=11"},
        EditCase{"remove out of step takes the entry alone", false, 6, 2, "2 3 5", "3 5", false}));

TEST_F(InstallerTest, AButtonEntryIsAFileUrlWhoseLastComponentIsTheHelper) {
    const std::pair<PlistValue, bool> cases[] = {
        {itemPointingAt(kHelperUrl), true},
        {itemPointingAt("file:///Applications/Quaymark.app/Contents/MacOS/QuaymarkHelper.app"),
         true},
        {itemPointingAt("file:///Users/other/Applications/QuaymarkHelper.app/"), true},
        {itemPointingAt("file://localhost/My%20Tools/Quaymark%48elper%2Eapp/"), true},
        {itemPointingAt("file:///Applications/NotQuaymarkHelper.app/"), false},
        {itemPointingAt("file:///Applications/Not%2FQuaymarkHelper.app/"), false},
        {itemPointingAt("file:///Downloads/QuaymarkHelper.app.zip"), false},
        {itemPointingAt("file:///Downloads/QuaymarkHelper.app//"), false},
        {itemPointingAt("file:///Downloads/QuaymarkHelper.app%"), false},
        {itemPointingAt("https://example.com/QuaymarkHelper.app/"), false},
        {itemPointingAt("/Applications/QuaymarkHelper.app"), false},
        {PlistValue(kHelperUrl), false}};
    for (const auto& [entry, isButton] : cases) {
        store(PlistDictionary{{kItemPlists, PlistDictionary{{"3", entry}}}});
        EXPECT_EQ(controller.isQuaymarkInstalled(), isButton) << entry;
    }
}

}  // namespace
}  // namespace quaymark
