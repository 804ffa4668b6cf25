// Quaymark, the main program. With a command word it runs the installer headless; without
// one it starts the settings application.
#include <fontconfig/fontconfig.h>

#include <QApplication>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "HostPlatform.h"
#include "InstallerCommand.h"
#include "QtHost.h"
#include "QuaymarkPreferences.h"
#include "SettingsApplication.h"
#include "SharedUpdater.h"

int main(int argc, char** argv) {
    using namespace quaymark;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (!arguments.empty()) {
        HostPlatform host("Quaymark", kPreferencesDomain);
        Platform platform = host.platform();
        return runInstallerCommand(arguments, FinderToolBarController::sharedInstance(platform),
                                   platform, std::cout, std::cerr);
    }
    if (std::getenv("checkUpdates") != nullptr) {
        // The background update mode takes over here in a later change; until then, go on.
    }
    // Nothing the settings application starts may inherit the request.
    unsetenv("checkUpdates");

    // The window's first text waits for the font configuration to load, some 3 to 4 ms; it
    // loads on the second core while the application connects to the display. Loading it
    // twice, should Qt ask first, is harmless: fontconfig keeps whichever finishes first.
    std::thread([] { FcInit(); }).detach();
    QApplication application(argc, argv);
    QApplication::setApplicationName("Quaymark");
    QtHost host("Quaymark", kPreferencesDomain);
    Platform platform = host.platform();
    SettingsApplication settings({
        .platform = platform,
        .installer = FinderToolBarController::sharedInstance(platform),
        .alert = host.alert(),
        .updater = sharedUpdater(platform),
    });
    return settings.run();
}
