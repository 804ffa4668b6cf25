// The installer over the test doubles, with helpers to lay out what Finder has stored.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FinderToolBarController.h"
#include "TestPlatform.h"

namespace quaymark {

using namespace finder_toolbar;

inline const std::vector<std::string> kNineDefaults = {
    "com.apple.finder.BACK",      "NSToolbarFlexibleSpaceItem", "com.apple.finder.SWCH",
    "com.apple.finder.ACTN",      "com.apple.finder.ARNG",      "com.apple.finder.SHAR",
    "NSToolbarFlexibleSpaceItem", "NSToolbarFlexibleSpaceItem", "com.apple.finder.SRCH"};
inline const std::vector<std::string> kTenDefaults = {
    "com.apple.finder.BACK", "NSToolbarFlexibleSpaceItem", "com.apple.finder.SWCH",
    "com.apple.finder.ARNG", "com.apple.finder.ACTN",      "com.apple.finder.SHAR",
    "com.apple.finder.LABL", "NSToolbarFlexibleSpaceItem", "NSToolbarFlexibleSpaceItem",
    "com.apple.finder.SRCH"};
inline const std::string kHelperPath =
    "/Applications/Quaymark.app/Contents/MacOS/QuaymarkHelper.app";
inline const std::string kHelperUrl =
    "file:///Applications/Quaymark.app/Contents/MacOS/QuaymarkHelper.app/";

// An item plist that points at `url`.
inline PlistValue itemPointingAt(const std::string& url) {
    return PlistDictionary{{kUrlString, url}, {kUrlStringType, PlistValue::integer(15)}};
}
inline PlistValue buttonItem() {
    return itemPointingAt(kHelperUrl);
}
// Identifiers "id0".."id<count-1>", so a test sees which ones moved, with the location item
// identifier at each of `locations`.
inline PlistArray numberedIdentifiers(int count, std::initializer_list<int> locations = {}) {
    PlistArray identifiers;
    for (int i = 0; i < count; ++i)
        identifiers.emplace_back("id" + std::to_string(i));
    for (int location : locations)
        identifiers.at(static_cast<std::size_t>(location)) = PlistValue(kLocationItemIdentifier);
    return identifiers;
}
inline PlistDictionary configurationWith(PlistArray identifiers, PlistDictionary plists) {
    return PlistDictionary{{kItemIdentifiers, std::move(identifiers)},
                           {kItemPlists, std::move(plists)}};
}

class InstallerTest : public ::testing::Test {
protected:
    InstallerTest() {
        test.fileManager.addFolder(kHelperPath);
        setSystemVersion("10.9.5");
    }

    void setSystemVersion(const std::string& version) {
        test.fileManager.addFile(kSystemVersionPath,
                                 PlistValue(PlistDictionary{{"ProductVersion", version}}));
    }
    void store(const PlistDictionary& configuration) {
        test.preferences.store(kConfigurationKey, PlistValue(configuration), kFinderDomain);
    }
    // What this process stores now; an empty dictionary when nothing is stored.
    PlistDictionary stored() const {
        PlistDictionary domain = test.preferences.values(kFinderDomain);
        const PlistValue* value = domain.find(kConfigurationKey);
        return value && value->asDictionary() ? *value->asDictionary() : PlistDictionary();
    }
    // Finder shows up in the running applications at the end of this slice (counted from 1)
    // of the next wait.
    void finderRunsAfterSlice(std::size_t slice) {
        std::size_t last = test.runLoop.slices().size() + slice;
        test.runLoop.setSliceHook([this, last](std::size_t current) {
            if (current == last)
                test.workspace.addRunningApplication({4242, kFinderDomain, "Finder"});
        });
    }

    TestPlatform test;
    Platform platform = test.platform();
    FinderToolBarController controller{platform};
};

}  // namespace quaymark
