#include "FinderToolBarController.h"

#include <algorithm>
#include <climits>
#include <string_view>

#include "PathUtilities.h"
#include "PlatformException.h"

namespace quaymark {

using namespace finder_toolbar;

namespace {

const char* const kNineItemDefaults[] = {
    "com.apple.finder.BACK",      "NSToolbarFlexibleSpaceItem", "com.apple.finder.SWCH",
    "com.apple.finder.ACTN",      "com.apple.finder.ARNG",      "com.apple.finder.SHAR",
    "NSToolbarFlexibleSpaceItem", "NSToolbarFlexibleSpaceItem", "com.apple.finder.SRCH",
};
// From system version 14 on, ARNG and ACTN trade places and LABL joins.
const char* const kTenItemDefaults[] = {
    "com.apple.finder.BACK", "NSToolbarFlexibleSpaceItem", "com.apple.finder.SWCH",
    "com.apple.finder.ARNG", "com.apple.finder.ACTN",      "com.apple.finder.SHAR",
    "com.apple.finder.LABL", "NSToolbarFlexibleSpaceItem", "NSToolbarFlexibleSpaceItem",
    "com.apple.finder.SRCH",
};

// The "%d" text of a position.
std::string positionKey(std::int64_t position) {
    return std::to_string(position);
}

// The position a key names when it is exactly the "%d" text of a position 0..count-1. Keys
// such as "07", "+3", "-1" or "abc" name none: they are never taken for a position, since
// reading them as numbers would touch unrelated identifiers.
std::optional<std::int32_t> positionOfKey(std::string_view key, std::size_t count) {
    if (key.empty() || key.size() > 10 || (key.size() > 1 && key.front() == '0') ||
        !std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (char c : key)
        value = value * 10 + (c - '0');
    if (value > INT32_MAX || static_cast<std::size_t>(value) >= count)
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The decimal number at the start of the text after optional blanks and a sign, as a 32-bit
// int (held at its limits when larger); 0 when the text does not begin with one.
std::int32_t leadingInteger(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && isBlank(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        negative = text[at] == '-';
        ++at;
    }
    std::int64_t magnitude = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        magnitude = std::min<std::int64_t>(magnitude * 10 + (text[at] - '0'),
                                           static_cast<std::int64_t>(INT32_MAX) + 1);
    }
    std::int64_t value = negative ? -magnitude : magnitude;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

// The last component of a file URL's path with its escapes decoded; nothing for a string that
// is no file URL. The path is split before it is decoded, so an escaped "/" stays inside its
// component, and "My%20Tools" compares as "My Tools".
std::optional<std::string> lastComponentOfFileUrl(std::string_view text) {
    std::optional<Url> url = Url::fromString(text);
    if (!url || !url->isFileUrl())
        return std::nullopt;
    std::string_view path = text.substr(text.find(':') + 1);
    if (path.starts_with("//")) {
        std::size_t start = path.find('/', 2);
        path = start == std::string_view::npos ? std::string_view() : path.substr(start);
    }
    path = path.substr(0, path.find_first_of("?#"));
    // A bundle's URL ends in "/"; only that one closing "/" is dropped.
    if (path.ends_with('/'))
        path.remove_suffix(1);
    return percentDecode(path.substr(path.rfind('/') + 1));
}

// A change that did not happen because Finder's preferences could not be read.
ToolbarChange refused(PreferencesFailure failure) {
    ToolbarChange change;
    change.readFailure = std::move(failure);
    return change;
}

PlistArray stringArray(const auto& strings) {
    PlistArray array;
    for (const char* text : strings)
        array.emplace_back(text);
    return array;
}

}  // namespace

FinderToolBarController& FinderToolBarController::sharedInstance(Platform platform) {
    // A function-local static is made once, and safely when two threads call first together,
    // as dispatch_once guarantees.
    static FinderToolBarController instance(platform);
    return instance;
}

const char* FinderToolBarController::iconNameForVersion(std::int32_t version) {
    if (version == 6)
        return "snow";
    if (version == 7 || version == 8)
        return "liomount";
    if (version == 9)
        return "mav";
    if (version == 10)
        return "yose";
    return "moj";
}

bool FinderToolBarController::isButtonEntry(const PlistValue& entry) {
    const PlistDictionary* item = entry.asDictionary();
    const PlistValue* urlString = item ? item->find(kUrlString) : nullptr;
    const std::string* text = urlString ? urlString->asString() : nullptr;
    return text && lastComponentOfFileUrl(*text) == kHelperBundleName;
}

std::optional<std::string> FinderToolBarController::productVersion() {
    std::optional<PlistValue> systemVersion =
        _platform.fileManager.propertyListWithContentsOfFile(kSystemVersionPath);
    const PlistDictionary* values = systemVersion ? systemVersion->asDictionary() : nullptr;
    const PlistValue* version = values ? values->find("ProductVersion") : nullptr;
    if (!version || !version->asString())
        return std::nullopt;
    return *version->asString();
}

std::int32_t FinderToolBarController::osVersion() {
    std::optional<std::string> version = productVersion();
    if (!version)
        return 0;
    // Only the second component counts ("10.9.5" gives 9); a version without one gives 0.
    std::size_t firstDot = version->find('.');
    if (firstDot == std::string::npos)
        return 0;
    std::string_view rest = std::string_view(*version).substr(firstDot + 1);
    return leadingInteger(rest.substr(0, rest.find('.')));
}

PlistArray FinderToolBarController::defaultItemIdentifiersArray() {
    return osVersion() > 13 ? stringArray(kTenItemDefaults) : stringArray(kNineItemDefaults);
}

PlistDictionary FinderToolBarController::createToolbarConfigurationBrowserDictionary() {
    return configurationOrDefault(
        _platform.preferences.copyAppValue(kConfigurationKey, kFinderDomain));
}

LoadedToolbar FinderToolBarController::loadToolbarConfiguration() {
    // Asked first, also when a value could be read: a domain whose writers' lock stays taken
    // reads well but cannot be saved, and no change should start that cannot end.
    if (std::optional<PreferencesFailure> failure =
            _platform.preferences.readFailure(kFinderDomain)) {
        return LoadedToolbar{configurationOrDefault(std::nullopt), std::move(failure)};
    }
    return LoadedToolbar{createToolbarConfigurationBrowserDictionary(), std::nullopt};
}

PlistDictionary FinderToolBarController::configurationOrDefault(std::optional<PlistValue> stored) {
    // A stored value that is no dictionary is treated as none; an install then replaces it.
    if (stored && stored->asDictionary())
        return std::move(*stored->asDictionary());
    PlistArray defaults = defaultItemIdentifiersArray();
    return PlistDictionary{{kDefaultItemIdentifiers, defaults},
                           {kItemIdentifiers, defaults},
                           {kDisplayMode, PlistValue::integer(2)}};
}

std::string FinderToolBarController::helperPath() {
    return stringByAppendingPathComponent(
        stringByAppendingPathComponent(_platform.mainBundle.bundlePath(), "Contents/MacOS"),
        kHelperBundleName);
}

Url FinderToolBarController::helperURL() {
    std::string path = helperPath();
    return Url::fileUrlWithPath(path, _platform.fileManager.isDirectoryAtPath(path));
}

void FinderToolBarController::insertItem(const PlistDictionary& item, PlistArray& toFinderArray,
                                         PlistDictionary& plistsDict, std::int32_t atIndex) {
    auto count = static_cast<std::int64_t>(toFinderArray.size());
    if (atIndex < 0 || atIndex > count)
        return;
    // The moved entries are gathered apart and filed afterwards, so that none overwrites the
    // entry above it before that one has moved.
    PlistDictionary moved;
    for (std::int64_t position = atIndex; position < count; ++position) {
        std::string key = positionKey(position);
        if (const PlistValue* entry = plistsDict.find(key)) {
            moved.set(positionKey(position + 1), *entry);
            plistsDict.remove(key);
        }
    }
    for (const auto& [key, entry] : moved)
        plistsDict.set(key, entry);
    plistsDict.set(positionKey(atIndex), item);
    toFinderArray.insert(toFinderArray.begin() + atIndex, PlistValue(kLocationItemIdentifier));
}

void FinderToolBarController::removeItemAtIndex(std::int32_t index, PlistArray& fromFinderArray,
                                                PlistDictionary& plistsDict) {
    auto count = static_cast<std::int64_t>(fromFinderArray.size());
    if (index < 0 || index >= count)
        return;
    // Another tool may have edited the list without the entries; then the identifier here is
    // not this entry's (it may be the search field) and stays, as do the other entries.
    if (fromFinderArray[static_cast<std::size_t>(index)] != PlistValue(kLocationItemIdentifier)) {
        plistsDict.remove(positionKey(index));
        return;
    }
    PlistDictionary moved;
    for (std::int64_t position = index + 1; position < count; ++position) {
        std::string key = positionKey(position);
        if (const PlistValue* entry = plistsDict.find(key)) {
            moved.set(positionKey(position - 1), *entry);
            plistsDict.remove(key);
        }
    }
    // Before the moved entries are filed, so that the one moving down into `index` stays.
    plistsDict.remove(positionKey(index));
    for (const auto& [key, entry] : moved)
        plistsDict.set(key, entry);
    fromFinderArray.erase(fromFinderArray.begin() + index);
}

bool FinderToolBarController::isQuaymarkInstalled() {
    return buttonEntryCount(createToolbarConfigurationBrowserDictionary()) > 0;
}

int FinderToolBarController::buttonEntryCount(const PlistDictionary& configuration) {
    const PlistValue* plists = configuration.find(kItemPlists);
    if (!plists || !plists->asDictionary())
        return 0;
    const auto& entries = plists->asDictionary()->entries();
    return static_cast<int>(std::count_if(entries.begin(), entries.end(), [](const auto& entry) {
        return isButtonEntry(entry.second);
    }));
}

ToolbarChange FinderToolBarController::installHelper() {
    LoadedToolbar loaded = loadToolbarConfiguration();
    // A configuration that could not be read would be replaced by a default one, losing the
    // user's toolbar: nothing is touched then, not even the icon.
    if (loaded.failure)
        return refused(std::move(*loaded.failure));
    // The icon comes before the configuration changes, so the button has it whatever happens
    // to the configuration.
    setIconForHelperApp();
    PlistDictionary& configuration = loaded.configuration;

    // Without an identifier list of its own, the toolbar shows its default layout: the button
    // joins a copy of that, so that it appears where the user sees the toolbar.
    PlistArray identifiers;
    if (const PlistValue* stored = configuration.find(kItemIdentifiers);
        stored && stored->asArray()) {
        identifiers = *stored->asArray();
    } else if (const PlistValue* defaults = configuration.find(kDefaultItemIdentifiers);
               defaults && defaults->asArray()) {
        identifiers = *defaults->asArray();
    } else {
        identifiers = defaultItemIdentifiersArray();
    }
    PlistDictionary plists;
    if (const PlistValue* stored = configuration.find(kItemPlists);
        stored && stored->asDictionary()) {
        plists = *stored->asDictionary();
    }

    // In front of the last two items: in either default list, between the two closing
    // flexible spaces, before the search field.
    auto count = static_cast<std::int32_t>(
        std::min<std::size_t>(identifiers.size(), static_cast<std::size_t>(INT32_MAX)));
    std::int32_t position = std::max(count - 2, 0);
    PlistDictionary item{{kUrlString, helperURL().absoluteString()},
                         {kUrlStringType, PlistValue::integer(15)}};
    insertItem(item, identifiers, plists, position);

    configuration.set(kItemIdentifiers, std::move(identifiers));
    configuration.set(kItemPlists, std::move(plists));
    ToolbarChange change = writeToolbarAndRelaunchFinderWithDict(configuration);
    change.buttonEntries = 1;
    return change;
}

bool FinderToolBarController::removeFirstButtonEntry(PlistDictionary& configuration) {
    PlistValue* plistsValue = configuration.find(kItemPlists);
    PlistDictionary* plists = plistsValue ? plistsValue->asDictionary() : nullptr;
    if (!plists)
        return false;
    const auto& entries = plists->entries();
    auto button = std::find_if(entries.begin(), entries.end(),
                               [](const auto& entry) { return isButtonEntry(entry.second); });
    if (button == entries.end())
        return false;
    std::string key = button->first;

    PlistValue* identifiersValue = configuration.find(kItemIdentifiers);
    PlistArray* identifiers = identifiersValue ? identifiersValue->asArray() : nullptr;
    std::optional<std::int32_t> position =
        positionOfKey(key, identifiers ? identifiers->size() : 0);
    if (position) {
        removeItemAtIndex(*position, *identifiers, *plists);
    } else {
        // An entry under a key that names no position of the list has no identifier of its
        // own: it goes alone, and the list and every other entry stay as they are.
        plists->remove(key);
    }
    return true;
}

ToolbarChange FinderToolBarController::uninstallHelper() {
    return uninstall(Entries::First);
}

ToolbarChange FinderToolBarController::uninstallAllHelpers() {
    return uninstall(Entries::Every);
}

ToolbarChange FinderToolBarController::uninstall(Entries entries) {
    LoadedToolbar loaded = loadToolbarConfiguration();
    if (loaded.failure)
        return refused(std::move(*loaded.failure));
    // Each pass takes exactly one entry out of "TB Item Plists", so the loop ends. Finder does
    // not write its toolbar configuration when it starts, so removing all entries before one
    // save ends where one save and restart per entry would.
    int removed = 0;
    while ((removed == 0 || entries == Entries::Every) &&
           removeFirstButtonEntry(loaded.configuration)) {
        ++removed;
    }
    if (removed == 0)
        return ToolbarChange{};
    ToolbarChange change = writeToolbarAndRelaunchFinderWithDict(loaded.configuration);
    change.buttonEntries = removed;
    return change;
}

ToolbarChange FinderToolBarController::writeToolbarAndRelaunchFinderWithDict(
    const PlistDictionary& dict) {
    _platform.preferences.setAppValue(kConfigurationKey, PlistValue(dict), kFinderDomain);
    // Saved before Finder ends, so the Finder that starts next reads the new configuration.
    // Without a saved configuration a restart would only close the user's Finder windows for
    // nothing, so Finder is left running then.
    ToolbarChange change;
    change.saveFailure = _platform.preferences.synchronize(kFinderDomain);
    if (!change.saveFailure)
        change.finder = relaunchFinder();
    return change;
}

FinderRestart FinderToolBarController::relaunchFinder() {
    TaskOptions killall;
    killall.launchPath = kKillallPath;
    killall.arguments = {"Finder"};
    // killall's status and its "no matching processes" are of no interest: Finder may not
    // have been running, and the wait below is what tells whether it runs now.
    killall.standardOutput = TaskStream::Discard;
    killall.standardError = TaskStream::Discard;
    try {
        _platform.tasks.launch(killall)->waitUntilExit();
    } catch (const PlatformException&) {
        // Without killall the old Finder may still run; the restart goes on regardless.
    }
    // The launch's result is not looked at: the wait accepts a Finder however it started.
    _platform.workspace.launchApplication(kFinderPath);
    for (int slice = 0; slice < kFinderWaitSlices; ++slice) {
        _platform.runLoop.runFor(kFinderWaitSlice);
        for (const RunningApplication& application : _platform.workspace.runningApplications()) {
            if (application.bundleIdentifier == kFinderDomain) {
                _platform.workspace.activate(application);
                return FinderRestart::Activated;
            }
        }
    }
    return FinderRestart::DidNotComeBack;
}

void FinderToolBarController::setIconForHelperApp() {
    const char* name = iconNameForVersion(osVersion());
    // The named image is the main bundle's icns resource of that name; the same file is
    // copied into the helper bundle below.
    std::optional<std::string> image = _platform.mainBundle.pathForResource(name, "icns");
    std::string helper = helperPath();
    // Without an image this removes the custom icon. The result is not looked at: a bundle
    // that cannot take an icon keeps the one it had.
    _platform.workspace.setIconForFile(image, helper);
    // Always this one file name, whichever icon was chosen: the helper's Info.plist names it.
    std::string iconFile = stringByAppendingPathComponent(helper, "Contents/Resources/moj.icns");
    // A missing file is no problem, and a failed copy leaves the bundle without the file; the
    // custom icon set above still shows.
    _platform.fileManager.removeItemAtPath(iconFile);
    if (image)
        _platform.fileManager.copyItemAtPath(*image, iconFile);
}

void FinderToolBarController::updateHelperIcon() {
    setIconForHelperApp();
}

}  // namespace quaymark
