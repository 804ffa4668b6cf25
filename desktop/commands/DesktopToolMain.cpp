// quaymark-desktop: lays out a stand-in desktop and drives it as a user would.
#include <iostream>

#include "commands/DesktopTool.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    return quaymark::runDesktopTool(arguments, std::cout, std::cerr);
}
