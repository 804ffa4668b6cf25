// The Finder stand-in's executable, installed as /Applications/Finder.app/Contents/MacOS/Finder;
// with --keep it is the desktop's keeper that starts Finder again whenever it ends.
#include <string_view>

#include "launch/HostFileManager.h"
#include "standins/FinderKeeper.h"
#include "standins/FinderStandIn.h"

int main(int argc, char** argv) {
    quaymark::SystemRoot root = quaymark::SystemRoot::fromEnvironment();
    std::string home = quaymark::HostFileManager::homeFromEnvironment();
    if (argc == 2 && std::string_view(argv[1]) == "--keep")
        return quaymark::FinderKeeper(root, home).run();
    return quaymark::FinderStandIn(root, home).run();
}
