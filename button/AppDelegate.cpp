#include "AppDelegate.h"

#include <exception>

#include "PathUtilities.h"
#include "PlatformException.h"
#include "QuaymarkPreferences.h"
#include "TerminalIdentifiers.h"

namespace quaymark {

namespace {

// The identifier of the terminal to open. A stored value of another type than a string
// names no terminal, so the click leads to the settings window where one can be chosen.
std::string chosenTerminal(Platform platform, TerminalIdentifiers& terminals) {
    std::optional<PlistValue> stored =
        platform.preferences.copyAppValue(preference_key::kTerminalIdentifier, kPreferencesDomain);
    if (!stored)
        return terminals.identifierForTerminalName("Terminal").value_or("");
    const std::string* identifier = stored->asString();
    return identifier ? *identifier : std::string();
}

// A missing date, or a value that is not a date, makes the update check due, so that a
// damaged value never stops the periodic check.
bool updateCheckDue(Platform platform) {
    std::optional<PlistValue> stored =
        platform.preferences.copyAppValue(preference_key::kLastLaunchDate, kPreferencesDomain);
    std::optional<PlistDate> last = stored ? stored->asDate() : std::nullopt;
    if (!last)
        return true;
    return platform.clock.now().timeIntervalSince(*last) >= kUpdateInterval;
}

}  // namespace

Url AppDelegate::quaymarkURL(Platform platform) {
    std::string path = platform.mainBundle.bundlePath();
    for (int i = 0; i < 3; ++i)
        path = stringByDeletingLastPathComponent(path);
    return Url::fileUrlWithPath(path, platform.fileManager.isDirectoryAtPath(path));
}

void AppDelegate::applicationDidFinishLaunching() {
    // The main program tests only that the variable is present.
    _platform.workspace.launchApplicationAtUrl(quaymarkURL(_platform),
                                               {{"checkUpdates", "checkUpdates"}});
    _platform.preferences.setAppValue(preference_key::kLastLaunchDate,
                                      PlistValue(_platform.clock.now()), kPreferencesDomain);
    // A failed write is not reported: the next click simply checks again.
    _platform.preferences.appSynchronize(kPreferencesDomain);
    _platform.application.terminate();
}

int runQuaymarkHelper(Platform platform) {
    TerminalIdentifiers terminals(platform);
    std::string identifier = chosenTerminal(platform, terminals);
    bool inNewWindow =
        platform.preferences.appBooleanValue(preference_key::kUseWindow, kPreferencesDomain)
            .value_or(true);

    if (!terminals.isTerminalInstalled(identifier)) {
        // The settings window opens instead; a failed launch goes unnoticed.
        platform.workspace.launchApplicationAtUrl(AppDelegate::quaymarkURL(platform), {});
        return 0;
    }

    // Some openers let failures through; one line in the log, and the click still counts
    // for the update check.
    try {
        terminals.openTerminalWithIdentifier(identifier, inNewWindow);
    } catch (const PlatformException& exception) {
        platform.log.log("Could not open " + identifier + ": " + exception.description());
    } catch (const std::exception& exception) {
        platform.log.log("Could not open " + identifier + ": " + exception.what());
    } catch (...) {
        platform.log.log("Could not open " + identifier + ": unknown failure");
    }

    if (!updateCheckDue(platform))
        return 0;
    AppDelegate delegate(platform);
    return platform.application.run([&delegate] { delegate.applicationDidFinishLaunching(); });
}

}  // namespace quaymark
