#include "InstallerCommand.h"

#include "QuaymarkPreferences.h"

namespace quaymark {

Result<void> checkToolbarChange(const ToolbarChange& change) {
    if (change.readFailure) {
        return Result<void>::failure(
            "Finder's preferences could not be read, so nothing was changed: " +
            change.readFailure->message());
    }
    if (change.saveFailure) {
        return Result<void>::failure(
            "Finder's toolbar could not be saved, so Finder was not restarted: " +
            change.saveFailure->message());
    }
    return Result<void>::success();
}

namespace {

const char* const kUsage =
    "usage: Quaymark [install | uninstall | status | --help]\n"
    "       Quaymark [check-for-updates [--feed URL] | --version]\n"
    "  install    put the Quaymark button into Finder's toolbar and restart Finder\n"
    "  uninstall  take every Quaymark button out of Finder's toolbar and restart Finder\n"
    "  status     show whether the button is installed, the system version, the button's\n"
    "             icon, whether Finder runs, and Quaymark's preferences\n"
    "  check-for-updates  read the update feed (or URL) once and say whether a newer\n"
    "             version is available; exits 1 when the feed gave no verdict\n"
    "  --version  show Quaymark's version\n"
    "  --help     show this text\n"
    "Without a command, Quaymark starts as an application.\n";

// Says how the Finder restart went; false when Finder did not come back.
bool reportRestart(FinderRestart restart, std::ostream& out, std::ostream& err) {
    if (restart == FinderRestart::DidNotComeBack) {
        err << "Finder did not come back within "
            << finder_toolbar::kFinderWaitSlices *
                   std::chrono::duration<double>(finder_toolbar::kFinderWaitSlice).count()
            << " seconds of its restart; it reads the new toolbar when it next starts.\n";
        return false;
    }
    out << "Finder was restarted and runs again.\n";
    return true;
}

// Reports a change that was saved (or not) and followed by a restart; the exit status.
int reportChange(const ToolbarChange& change, std::ostream& out, std::ostream& err) {
    if (change.saveFailure) {
        err << checkToolbarChange(change).error() << "\n";
        return kCommandFailed;
    }
    return reportRestart(change.finder, out, err) ? kCommandSucceeded : kCommandFailed;
}

// Says that Finder's preferences could not be read, in one line; the exit status.
int refuse(const PreferencesFailure& failure, std::ostream& err) {
    err << checkToolbarChange(ToolbarChange{.readFailure = failure, .saveFailure = {}}).error()
        << "\n";
    return kCommandFailed;
}

int install(FinderToolBarController& controller, std::ostream& out, std::ostream& err) {
    LoadedToolbar loaded = controller.loadToolbarConfiguration();
    if (loaded.failure)
        return refuse(*loaded.failure, err);
    if (FinderToolBarController::buttonEntryCount(loaded.configuration) > 0) {
        out << "The Quaymark button is already in Finder's toolbar; nothing was changed.\n";
        return kCommandSucceeded;
    }
    ToolbarChange change = controller.installHelper();
    if (change.readFailure)
        return refuse(*change.readFailure, err);
    if (!change.saveFailure) {
        out << "Added the Quaymark button to Finder's toolbar, pointing at "
            << controller.helperURL().absoluteString() << "\n";
    }
    return reportChange(change, out, err);
}

int uninstall(FinderToolBarController& controller, std::ostream& out, std::ostream& err) {
    ToolbarChange change = controller.uninstallAllHelpers();
    if (change.readFailure)
        return refuse(*change.readFailure, err);
    if (change.buttonEntries == 0) {
        out << "The Quaymark button is not in Finder's toolbar; nothing was changed.\n";
        return kCommandSucceeded;
    }
    if (!change.saveFailure) {
        out << "Removed " << change.buttonEntries << " Quaymark button"
            << (change.buttonEntries == 1 ? "" : "s") << " from Finder's toolbar.\n";
    }
    return reportChange(change, out, err);
}

// The registered defaults of the settings application: the main bundle's "defaults" resource.
PlistDictionary registeredDefaults(Platform platform) {
    std::optional<std::string> path = platform.mainBundle.pathForResource("defaults", "plist");
    std::optional<PlistValue> defaults =
        path ? platform.fileManager.propertyListWithContentsOfFile(*path) : std::nullopt;
    if (!defaults || !defaults->asDictionary())
        return {};
    return *defaults->asDictionary();
}

// Status reports what it can read; each preference file it cannot read is one line on `err`
// and makes the status 1.
int status(FinderToolBarController& controller, Platform platform, std::ostream& out,
           std::ostream& err) {
    int result = kCommandSucceeded;
    LoadedToolbar loaded = controller.loadToolbarConfiguration();
    int entries = FinderToolBarController::buttonEntryCount(loaded.configuration);
    out << "Toolbar button: ";
    if (loaded.failure) {
        out << "unknown\n";
        err << "Finder's preferences could not be read: " << loaded.failure->message() << "\n";
        result = kCommandFailed;
    } else if (entries == 0) {
        out << "not installed\n";
    } else {
        out << "installed (" << entries << (entries == 1 ? " entry" : " entries") << ")\n";
    }
    std::int32_t version = controller.osVersion();
    out << "System version: " << controller.productVersion().value_or("unknown") << " (version "
        << version << ")\n";
    out << "Button icon: " << FinderToolBarController::iconNameForVersion(version) << "\n";
    out << "Helper bundle: " << controller.helperURL().absoluteString() << "\n";

    std::vector<RunningApplication> finders =
        platform.workspace.runningApplicationsWithBundleIdentifier(finder_toolbar::kFinderDomain);
    out << "Finder: ";
    if (finders.empty()) {
        out << "not running\n";
    } else {
        out << "running (pid " << finders.front().pid << ")\n";
    }

    PlistDictionary defaults = registeredDefaults(platform);
    out << "Preferences of " << kPreferencesDomain << ":";
    if (std::optional<PreferencesFailure> failure =
            platform.preferences.readFailure(kPreferencesDomain)) {
        out << " unknown\n";
        err << "Quaymark's preferences could not be read: " << failure->message() << "\n";
        return kCommandFailed;
    }
    out << "\n";
    for (const char* key : {preference_key::kTerminalIdentifier, preference_key::kUseWindow,
                            preference_key::kTerminalCommand, preference_key::kLastLaunchDate}) {
        out << "  " << key << ": ";
        if (std::optional<PlistValue> value =
                platform.preferences.copyAppValue(key, kPreferencesDomain)) {
            out << value->description() << "\n";
        } else if (const PlistValue* fallback = defaults.find(key)) {
            out << "not set (default " << fallback->description() << ")\n";
        } else {
            out << "not set\n";
        }
    }
    return result;
}

}  // namespace

int runInstallerCommand(const std::vector<std::string>& arguments,
                        FinderToolBarController& controller, Platform platform, std::ostream& out,
                        std::ostream& err) {
    if (arguments.size() == 1) {
        const std::string& command = arguments.front();
        if (command == "install")
            return install(controller, out, err);
        if (command == "uninstall")
            return uninstall(controller, out, err);
        if (command == "status")
            return status(controller, platform, out, err);
        if (command == "--help" || command == "-h") {
            out << kUsage;
            return kCommandSucceeded;
        }
    }
    err << kUsage;
    return kCommandUsageError;
}

}  // namespace quaymark
