#include "FinderPreferencesFile.h"

#include "FinderToolBarController.h"

namespace quaymark {

using namespace finder_toolbar;

namespace {

constexpr std::size_t kFileSize = 200 * 1024;

PlistData bytes(std::size_t count, std::uint8_t seed) {
    PlistData data(count);
    for (std::size_t i = 0; i < count; ++i)
        data[i] = static_cast<std::uint8_t>(seed + i * 31);
    return data;
}

}  // namespace

// A toolbar with a few location items, view settings, and many recent folders with their
// bookmarks, until the file reaches the size.
PlistDictionary finderPreferences(PlistFormat format) {
    PlistArray identifiers{PlistValue("com.apple.finder.BACK"),
                           PlistValue("NSToolbarFlexibleSpaceItem")};
    PlistDictionary plists;
    for (int i = 0; i < 12; ++i) {
        identifiers.emplace_back(i % 4 == 3 ? "com.apple.finder.loc " : "com.apple.finder.SWCH");
        if (i % 4 == 3) {
            plists.set(std::to_string(i),
                       PlistDictionary{{kUrlString, "file:///Users/me/Place" + std::to_string(i)},
                                       {kUrlStringType, PlistValue::integer(15)},
                                       {"_CFURLAliasData", PlistValue::data(bytes(600, 7))}});
        }
    }
    PlistDictionary values{
        {kConfigurationKey, PlistDictionary{{kDefaultItemIdentifiers, identifiers},
                                            {kItemIdentifiers, identifiers},
                                            {kItemPlists, plists},
                                            {kDisplayMode, PlistValue::integer(2)},
                                            {"TB Icon Size Mode", PlistValue::integer(1)},
                                            {"TB Is Shown", PlistValue::integer(1)}}},
        {"FK_StandardViewSettings",
         PlistDictionary{
             {"IconViewSettings", PlistDictionary{{"iconSize", PlistValue::real(64)},
                                                  {"showItemInfo", PlistValue::boolean(false)}}}}},
        {"LastTrashEmpty", PlistValue(PlistDate{600000000})}};
    PlistArray recent;
    for (int i = 0; encodePlist(PlistValue(values), format).size() < kFileSize; ++i) {
        // Whole batches between the size checks keep the building quick.
        for (int j = 0; j < 20; ++j) {
            recent.push_back(PlistDictionary{
                {"name", "Folder " + std::to_string(i * 20 + j)},
                {"file-bookmark", PlistValue::data(bytes(300, static_cast<std::uint8_t>(j)))},
                {"frame", "{{100, 200}, {900, 600}}"},
                {"opened", PlistValue(PlistDate{600000000.0 + i * 20 + j})}});
        }
        values.set("FXRecentFolders", recent);
    }
    return values;
}

}  // namespace quaymark
