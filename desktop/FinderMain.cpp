// The Finder stand-in's executable, installed as /Applications/Finder.app/Contents/MacOS/Finder.
#include "FinderStandIn.h"
#include "HostFileManager.h"

int main() {
    quaymark::FinderStandIn finder(quaymark::SystemRoot::fromEnvironment(),
                                   quaymark::HostFileManager::homeFromEnvironment());
    return finder.run();
}
