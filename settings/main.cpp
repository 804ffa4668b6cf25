// Quaymark: the main program. With a command word it runs the installer headless; without
// one it would start the settings application, which this build does not hold yet.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "HostPlatform.h"
#include "InstallerCommand.h"
#include "QuaymarkPreferences.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty()) {
        std::fputs(
            "Quaymark: this build has no settings window yet; `Quaymark --help` lists "
            "the installer commands.\n",
            stderr);
        return 1;
    }
    quaymark::HostPlatform host("Quaymark", quaymark::kPreferencesDomain);
    quaymark::Platform platform = host.platform();
    return quaymark::runInstallerCommand(
        arguments, quaymark::FinderToolBarController::sharedInstance(platform), platform, std::cout,
        std::cerr);
}
