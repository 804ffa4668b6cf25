// One installation in a process of its own, so that tests can start two at once:
//   quaymark_update_installer_process <application> <url> <length> <signature> <public key>
// Prints the failure, if any; exits 0 once the new version is in place, 3 when refused.
#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <iostream>

#include "HostFileManager.h"
#include "TestPlatform.h"
#include "UpdateInstaller.h"

int main(int argc, char** argv) {
    using namespace quaymark;
    QCoreApplication application(argc, argv);
    if (argc != 6) {
        std::cerr << "usage: " << argv[0] << " APPLICATION URL LENGTH SIGNATURE PUBLIC_KEY\n";
        return 2;
    }
    TestPlatform test;
    test.mainBundle.info = {
        {"CFBundleIdentifier", "q"}, {"CFBundleVersion", "1.0"}, {"SUPublicEDKey", argv[5]}};
    HostFileManager files(SystemRoot("/nonexistent-root"), "/nonexistent-home");
    Platform platform = test.platform();
    Platform withFiles{platform.preferences, platform.workspace, files,
                       platform.mainBundle,  platform.tasks,     platform.scripting,
                       platform.appleScript, platform.clock,     platform.runLoop,
                       platform.application, platform.log};
    class Silent : public UpdateUserInterface {
        void showCheckingProgress(std::function<void()>) override {}
        void closeCheckingProgress() override {}
        void showUpdateAvailable(const UpdateOffer&, std::function<void(UpdateChoice)>) override {}
        void showUpToDate(const std::string&) override {}
        void showError(const std::string&) override {}
        bool openUrl(const std::string&) override { return false; }
    } silent;
    QNetworkAccessManager network;
    UpdateInstaller installer(withFiles, network, silent,
                              {.applicationPath = argv[1],
                               .relaunch = [](const std::string&) { return true; },
                               .quit = [] {}});
    SUAppcastItem item;
    item.enclosureURL = argv[2];
    item.enclosureLength = std::stoull(argv[3]);
    item.edSignature = argv[4];
    int status = 3;
    installer.install(item, [&status](std::optional<std::string> failure) {
        if (failure)
            std::cout << *failure << std::endl;
        status = failure ? 3 : 0;
        QCoreApplication::exit(0);
    });
    application.exec();
    return status;
}
