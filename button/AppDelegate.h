// The toolbar button program: one click, one run.
#pragma once

#include "Platform.h"
#include "Url.h"

namespace quaymark {

// Seconds since "Last Launch Date" from which a click also starts the update check.
inline constexpr double kUpdateInterval = 259200.0;

class AppDelegate {
public:
    explicit AppDelegate(Platform platform) : _platform(platform) {}

    // The file URL of the main program's bundle: this program's bundle lies in its
    // "Contents/MacOS" folder, three path components down. Nothing checks that it is there.
    static Url quaymarkURL(Platform platform);

    // Launches the main program with "checkUpdates" in its environment, records the time
    // as "Last Launch Date" (also when the launch failed) and ends the event loop.
    void applicationDidFinishLaunching();

private:
    Platform _platform;
};

// The program's entry: opens the chosen terminal at the front Finder folder, or the
// settings window when that terminal is not installed, and now and then the update check.
// Returns the exit status.
int runQuaymarkHelper(Platform platform);

}  // namespace quaymark
