// QuaymarkHelper: started by Finder at every click on the toolbar button.
#include "AppDelegate.h"
#include "HostPlatform.h"
#include "QuaymarkPreferences.h"

int main() {
    quaymark::HostPlatform host("QuaymarkHelper", quaymark::kPreferencesDomain);
    return quaymark::runQuaymarkHelper(host.platform());
}
