// Quaymark, the main program. With a command word it runs the installer headless; without
// one it starts the settings application.
#include <fontconfig/fontconfig.h>

#include <QApplication>
#include <QCoreApplication>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "HostPlatform.h"
#include "InstallerCommand.h"
#include "QtHost.h"
#include "QuaymarkPreferences.h"
#include "SettingsApplication.h"
#include "SharedUpdater.h"
#include "UpdateCommand.h"

int main(int argc, char** argv) {
    using namespace quaymark;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 1 && arguments[0] == "--version") {
        HostPlatform host("Quaymark", kPreferencesDomain);
        return printVersion(host.platform().mainBundle, std::cout, std::cerr);
    }
    if (!arguments.empty() && arguments[0] == "check-for-updates") {
        std::optional<std::string> feed;
        if (arguments.size() == 3 && arguments[1] == "--feed") {
            feed = arguments[2];
        } else if (arguments.size() != 1) {
            std::cerr << "usage: Quaymark check-for-updates [--feed URL]\n";
            return kCommandUsageError;
        }
        QCoreApplication application(argc, argv);
        HostPlatform host("Quaymark", kPreferencesDomain);
        return runUpdateCheck(host.platform(), feed, std::cout, std::cerr);
    }
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
