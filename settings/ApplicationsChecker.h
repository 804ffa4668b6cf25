// The check that the main bundle lies in an Applications folder.
#pragma once

#include <string>

#include "Alert.h"
#include "Platform.h"

namespace quaymark {

class ApplicationsChecker {
public:
    ApplicationsChecker() = delete;

    // True when the main bundle's path begins with "/Applications" or with the home
    // Applications folder. Otherwise shows the alert that asks the user to move the program,
    // terminates the application once it is dismissed, and returns false: the caller then
    // goes no further with the launch, since terminate() only ends the event loop.
    static bool verifyApplicationsFolder(Platform platform, Alert& alert);

    // The alert for a bundle outside both folders; `homeApplications` names the second one.
    static AlertText moveAlertText(const std::string& homeApplications);
};

}  // namespace quaymark
