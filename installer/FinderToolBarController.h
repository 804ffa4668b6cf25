// The Finder toolbar installer: reads and rewrites the toolbar configuration in Finder's
// preferences, adds and removes the Quaymark button, restarts Finder, and gives the button
// the icon that suits the running system.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "Platform.h"
#include "PlistValue.h"
#include "Preferences.h"
#include "Url.h"

namespace quaymark {

namespace finder_toolbar {
// Finder's preferences domain and the key of its browser windows' toolbar configuration.
inline constexpr const char* kFinderDomain = "com.apple.finder";
inline constexpr const char* kConfigurationKey = "NSToolbar Configuration Browser";
// The keys of the configuration the installer reads or writes; all others pass untouched.
inline constexpr const char* kItemIdentifiers = "TB Item Identifiers";
inline constexpr const char* kDefaultItemIdentifiers = "TB Default Item Identifiers";
inline constexpr const char* kItemPlists = "TB Item Plists";
inline constexpr const char* kDisplayMode = "TB Display Mode";
// The keys of an item plist, the value of one entry of "TB Item Plists".
inline constexpr const char* kUrlString = "_CFURLString";
inline constexpr const char* kUrlStringType = "_CFURLStringType";
// The identifier of a location item, such as the button; the closing blank belongs to it.
inline constexpr const char* kLocationItemIdentifier = "com.apple.finder.loc ";
inline constexpr const char* kHelperBundleName = "QuaymarkHelper.app";
inline constexpr const char* kSystemVersionPath =
    "/System/Library/CoreServices/SystemVersion.plist";
inline constexpr const char* kKillallPath = "/usr/bin/killall";
inline constexpr const char* kFinderPath = "/Applications/Finder.app";
// The wait for Finder after its restart: this many slices of the main run loop, each this
// long. A Finder that has not come back by then is taken to stay away (a broken Finder, or
// one the user keeps from starting), rather than holding the caller for ever.
inline constexpr int kFinderWaitSlices = 30;
inline constexpr std::chrono::milliseconds kFinderWaitSlice{1000};
}  // namespace finder_toolbar

// How the Finder restart of an install or uninstall ended.
enum class FinderRestart {
    NotNeeded,       // nothing was saved, so Finder was left alone
    Activated,       // Finder ran again and was brought to the front
    DidNotComeBack,  // no application "com.apple.finder" ran within the wait
};

// What an install or uninstall did.
struct ToolbarChange {
    // Button entries added or removed; 0 when the configuration was left as it was.
    int buttonEntries = 0;
    // Why Finder's preferences could not be read; nothing was changed or saved then.
    std::optional<PreferencesFailure> readFailure;
    // Why the changed configuration could not be saved; Finder was then not restarted.
    std::optional<PreferencesFailure> saveFailure;
    FinderRestart finder = FinderRestart::NotNeeded;
};

// The toolbar configuration as loaded, and why Finder's preferences could not be read.
struct LoadedToolbar {
    // The stored configuration, or the default one when nothing (or no dictionary) is stored
    // or the preferences could not be read.
    PlistDictionary configuration;
    std::optional<PreferencesFailure> failure;
};

// Holds no state besides the services. Install and uninstall run the main run loop while they
// wait for Finder, and nothing keeps work posted to that loop from entering the installer
// again; callers that post such work must keep it out themselves.
class FinderToolBarController {
public:
    // Tests and tools make their own; the programs use the shared instance.
    explicit FinderToolBarController(Platform platform) : _platform(platform) {}

    // The one instance of the process, made by the first call (safely from any thread) with
    // that call's services and kept until the process ends. Later calls get the same instance
    // whatever platform they pass: the argument of every call after the first is ignored.
    static FinderToolBarController& sharedInstance(Platform platform);

    // Refreshes the icon, adds one button entry (whether or not one is there already), saves
    // the configuration and restarts Finder; the outcome of saving and of the restart. Does
    // nothing at all when Finder's preferences cannot be read.
    ToolbarChange installHelper();
    // Calls setIconForHelperApp; nothing can fail.
    void updateHelperIcon();
    // Removes the first button entry (with its identifier when its key is a position of the
    // identifier list), saves and restarts Finder; changes nothing without a button entry or
    // when Finder's preferences cannot be read.
    ToolbarChange uninstallHelper();
    // Whether the stored configuration holds a button entry; false when none is stored.
    bool isQuaymarkInstalled();
    // The second component of the system's product version; 0 when it cannot be read.
    std::int32_t osVersion();
    // Gives the helper bundle the icon for osVersion(), as custom icon and icon file; every
    // failure is ignored (the bundle then keeps what it had, or loses the file).
    void setIconForHelperApp();
    // A copy of the stored configuration, or the default one when nothing (or no dictionary)
    // is stored; never fails, and does not tell an unreadable store from an empty one.
    PlistDictionary createToolbarConfigurationBrowserDictionary();
    // The configuration as above, with the reason when Finder's preferences cannot be read.
    LoadedToolbar loadToolbarConfiguration();
    // The default identifier list of the running system (10 entries from osVersion 14 on,
    // else 9).
    PlistArray defaultItemIdentifiersArray();
    // The file URL of the helper bundle inside the main bundle, with a closing "/" when the
    // bundle is a folder on disk; not checked otherwise.
    Url helperURL();
    // Saves the whole configuration and then restarts Finder; when saving failed, Finder is
    // left running with the toolbar it has, and `saveFailure` says why.
    ToolbarChange writeToolbarAndRelaunchFinderWithDict(const PlistDictionary& dict);
    // Ends Finder, starts it and waits for it in slices of the main run loop; DidNotComeBack
    // when it is not running after the last slice.
    FinderRestart relaunchFinder();
    // Inserts the location item identifier at `atIndex` and files `item` under that position,
    // moving the entries of the positions behind it up by one; an index outside 0..n changes
    // nothing.
    void insertItem(const PlistDictionary& item, PlistArray& toFinderArray,
                    PlistDictionary& plistsDict, std::int32_t atIndex);
    // Removes the location item at `index`: its identifier and its entry, moving the entries
    // of the positions behind it down by one. When another identifier stands at `index` the
    // list and the entries are out of step, and only the entry under `index` goes. An index
    // outside 0..n-1 changes nothing.
    void removeItemAtIndex(std::int32_t index, PlistArray& fromFinderArray,
                           PlistDictionary& plistsDict);

    // Removes every button entry and then saves and restarts Finder once; changes nothing
    // without a button entry or when Finder's preferences cannot be read. Ends as repeated
    // uninstallHelper calls would.
    ToolbarChange uninstallAllHelpers();
    // The number of button entries in a configuration.
    static int buttonEntryCount(const PlistDictionary& configuration);
    // "ProductVersion" of the system; nothing when it cannot be read.
    std::optional<std::string> productVersion();
    // The path of the helper bundle, as the system names it.
    std::string helperPath();

    // The icon name for a system version: "snow", "liomount", "mav", "yose" or "moj".
    static const char* iconNameForVersion(std::int32_t version);
    // Whether an entry of "TB Item Plists" points at a helper bundle: an item plist whose
    // "_CFURLString" is a file URL whose last path component, unescaped, is exactly
    // "QuaymarkHelper.app" (with or without a closing "/").
    static bool isButtonEntry(const PlistValue& entry);

private:
    // The stored configuration when it is a dictionary, else the default one.
    PlistDictionary configurationOrDefault(std::optional<PlistValue> stored);
    // Removes the first button entry from the configuration; false when there is none.
    bool removeFirstButtonEntry(PlistDictionary& configuration);
    enum class Entries { First, Every };
    // Loads the configuration, removes the first or every button entry, and saves.
    ToolbarChange uninstall(Entries entries);

    Platform _platform;
};

}  // namespace quaymark
