// QuaymarkHelper: started by Finder at every click on the toolbar button.
#include "AppDelegate.h"
#include "HostPlatform.h"

int main() {
    quaymark::HostPlatform host("QuaymarkHelper");
    return quaymark::runQuaymarkHelper(host.platform());
}
