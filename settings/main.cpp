// Quaymark, the main program. With a command word it runs the installer headless; without
// one it starts the settings application.
#include <QApplication>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "HostPlatform.h"
#include "InstallerCommand.h"
#include "QtAlert.h"
#include "QtApplication.h"
#include "QtRunLoop.h"
#include "QuaymarkPreferences.h"
#include "SettingsApplication.h"
#ifdef QUAYMARK_HAS_UPDATE_FRAMEWORK
#include "SharedUpdater.h"
#endif

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (!arguments.empty()) {
        quaymark::HostPlatform host("Quaymark", quaymark::kPreferencesDomain);
        quaymark::Platform platform = host.platform();
        return quaymark::runInstallerCommand(
            arguments, quaymark::FinderToolBarController::sharedInstance(platform), platform,
            std::cout, std::cerr);
    }
    if (std::getenv("checkUpdates") != nullptr) {
        // The background update mode takes over here in a later change; until then, go on.
    }
    // Nothing the settings application starts may inherit the request.
    unsetenv("checkUpdates");

    QApplication application(argc, argv);
    QApplication::setApplicationName("Quaymark");
    quaymark::HostPlatform host("Quaymark", quaymark::kPreferencesDomain);
    quaymark::QtRunLoop runLoop;
    quaymark::QtApplication qtApplication(runLoop);
    quaymark::QtAlert alert;
    // The host's services, with the run loop and life cycle on Qt's event loop, so that the
    // installer's wait for Finder keeps the window painting.
    quaymark::Platform base = host.platform();
    quaymark::Platform platform{base.preferences, base.workspace, base.fileManager, base.mainBundle,
                                base.tasks,       base.scripting, base.appleScript, base.clock,
                                runLoop,          qtApplication,  base.log};
#ifdef QUAYMARK_HAS_UPDATE_FRAMEWORK
    quaymark::SUUpdater* updater = &quaymark::sharedUpdater(platform);
#else
    quaymark::SUUpdater* updater = nullptr;
#endif
    quaymark::SettingsApplication settings({
        .platform = platform,
        .installer = quaymark::FinderToolBarController::sharedInstance(platform),
        .alert = alert,
        .updater = updater,
    });
    return settings.run();
}
