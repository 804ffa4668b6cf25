// Quaymark: the main program. This build carries the toolbar button only; the settings
// window, the installer and the update check are not part of it yet.
#include <cstdio>

int main() {
    std::fputs("Quaymark: this build holds the toolbar button program only.\n", stderr);
    return 1;
}
