// Quaymark, the main program. With a command word it runs the installer headless; without
// one it starts the settings application, after the windowless update check when a click
// asked for it.
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BackgroundUpdater.h"
#include "HostPlatform.h"
#include "InstallerCommand.h"
#include "QuaymarkPreferences.h"
#include "SettingsApplication.h"
#include "SharedUpdater.h"
#include "UpdateCommand.h"
#include "qt/QtHost.h"

namespace quaymark {
namespace {

// Ends the process from the time-out thread while the main thread may be anywhere: no static
// destructor or exit handler may run under its feet. Preference writes reach their file
// whole before they return, so none is lost; only buffered output needs flushing.
void endProcessAtOnce(int status) {
    std::fflush(nullptr);
    _exit(status);
}

// check-for-updates [--feed URL]
int runUpdateCheckCommand(const std::vector<std::string>& arguments, int& argc, char** argv) {
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

// A command word: the version, the update check, or else one of the installer's commands.
int runCommandWord(const std::vector<std::string>& arguments, int& argc, char** argv) {
    if (arguments.size() == 1 && arguments[0] == "--version") {
        HostPlatform host("Quaymark", kPreferencesDomain);
        return printVersion(host.platform().mainBundle, std::cout, std::cerr);
    }
    if (arguments[0] == "check-for-updates")
        return runUpdateCheckCommand(arguments, argc, argv);
    HostPlatform host("Quaymark", kPreferencesDomain);
    Platform platform = host.platform();
    return runInstallerCommand(arguments, FinderToolBarController::sharedInstance(platform),
                               platform, std::cout, std::cerr);
}

// A click asks for the windowless check every few days; the value is not looked at. The
// mode's delegate stays set when the feed cannot be reached, so this lives as long as main.
class BackgroundCheck {
public:
    // True when the check was asked for and has finished the program's work.
    bool finishes(QtHost& host, const Platform& platform, SUUpdater& updater) {
        if (std::getenv("checkUpdates") == nullptr)
            return false;
        _background = std::make_shared<BackgroundUpdater>(BackgroundUpdaterServices{
            .mainBundle = platform.mainBundle,
            .reachability = host.reachability(),
            .sleep = [](std::chrono::seconds duration) { std::this_thread::sleep_for(duration); },
            .endProcess = endProcessAtOnce,
        });
        BackgroundUpdateOutcome outcome =
            runBackgroundUpdateMode(_background, {.updater = updater,
                                                  .runLoop = platform.runLoop,
                                                  .detachThread = [](std::function<void()> work) {
                                                      std::thread(std::move(work)).detach();
                                                  }});
        return outcome == BackgroundUpdateOutcome::Finished;
    }

private:
    std::shared_ptr<BackgroundUpdater> _background;
};

}  // namespace
}  // namespace quaymark

int main(int argc, char** argv) {
    using namespace quaymark;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (!arguments.empty())
        return runCommandWord(arguments, argc, argv);
    QApplication application(argc, argv);
    QApplication::setApplicationName("Quaymark");
    QtHost host("Quaymark", kPreferencesDomain);
    Platform platform = host.platform();
    SUUpdater& updater = sharedUpdater(platform);
    BackgroundCheck background;
    if (background.finishes(host, platform, updater))
        return 0;
    // Nothing the settings application starts may inherit the request.
    unsetenv("checkUpdates");

    SettingsApplication settings({
        .platform = platform,
        .installer = FinderToolBarController::sharedInstance(platform),
        .alert = host.alert(),
        .updater = updater,
    });
    return settings.run();
}
