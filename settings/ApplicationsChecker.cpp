#include "ApplicationsChecker.h"

#include "PathUtilities.h"

namespace quaymark {

namespace {
constexpr const char* kApplicationsFolder = "/Applications";
}

bool ApplicationsChecker::verifyApplicationsFolder(Platform platform, Alert& alert) {
    std::string bundlePath = platform.mainBundle.bundlePath();
    std::string homeApplications =
        stringByAppendingPathComponent(platform.fileManager.homeDirectory(), kApplicationsFolder);
    // Leading characters, not whole path components, and letter case counts: the same test
    // a string prefix makes, so "/ApplicationsOld" passes and "/applications" does not.
    if (bundlePath.starts_with(kApplicationsFolder) || bundlePath.starts_with(homeApplications))
        return true;
    // Whichever button ends the alert, the program quits.
    alert.runModal(moveAlertText(homeApplications));
    platform.application.terminate();
    return false;
}

AlertText ApplicationsChecker::moveAlertText(const std::string& homeApplications) {
    return AlertText{
        .messageText = "Please move Quaymark to\n /Applications folder",
        .informativeText = "If you don't have access to /Applications, move it to\n " +
                           homeApplications + " folder.",
        .buttons = {"Quit"},
    };
}

}  // namespace quaymark
