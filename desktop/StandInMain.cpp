// quaymark-standin: the executable of the stand-in Terminal, iTerm and iTerm2 bundles.
#include "StandInProgram.h"

int main() {
    return quaymark::runTerminalStandIn();
}
