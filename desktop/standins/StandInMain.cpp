// quaymark-standin: the executable of the stand-in Terminal, iTerm and iTerm2 bundles.
#include "standins/StandInProgram.h"

int main() {
    return quaymark::runTerminalStandIn();
}
