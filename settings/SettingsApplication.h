// The settings application from start to end, in the order an application framework
// launches one: load the interface, make the delegate, fill the window, check the location,
// show the window, finish launching, serve events until the window closes.
#pragma once

#include "AppDelegate.h"
#include "SettingsWindow.h"

namespace quaymark {

// The services a settings application is given; all of them must outlive it.
struct SettingsServices {
    Platform platform;
    FinderToolBarController& installer;
    Alert& alert;
    SUUpdater& updater;
};

// Needs the QApplication to exist; made and run on its thread.
class SettingsApplication {
public:
    // Loads the window and fills its controls; shows nothing yet.
    explicit SettingsApplication(SettingsServices services);

    // Runs the launch and then the event loop; the exit status (0 once the window has closed,
    // and 0 after a refused location, which shows no window at all).
    int run();

    SettingsWindow& window() { return _window; }
    AppDelegate& delegate() { return _delegate; }

private:
    // Ends the program when the window closes; an install under way finishes first, since
    // terminate() only ends the event loop once the work in hand returns.
    void windowClosed();

    Platform _platform;
    SettingsWindow _window;
    AppDelegate _delegate;
};

}  // namespace quaymark
