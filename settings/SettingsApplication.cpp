#include "SettingsApplication.h"

#include <QGuiApplication>

namespace quaymark {

SettingsApplication::SettingsApplication(SettingsServices services)
    : _platform(services.platform),
      _delegate(services.platform, services.installer, services.alert, services.updater) {
    // Closing ends the program through windowClosed() alone. Qt's own quit on the last closed
    // window ends every running event loop, the slice an install waits for Finder in among
    // them, should anything ever run QApplication::exec().
    QGuiApplication::setQuitOnLastWindowClosed(false);
    _delegate.setOutlets(_window);
    _delegate.awakeFromNib();
    QObject::connect(&_window, &SettingsWindow::closed, &_delegate, [this] { windowClosed(); });
}

int SettingsApplication::run() {
    // A refused location has already shown its alert and terminated: nothing else of the
    // launch runs, so the icon, the launch date and the update check stay untouched.
    if (!_delegate.applicationWillFinishLaunching())
        return 0;
    _window.show();
    // The window goes to the display before the launch's own work (the icon, the launch date,
    // the update check's first request) rather than after it.
    QGuiApplication::sync();
    return _platform.application.run([this] { _delegate.applicationDidFinishLaunching(); });
}

void SettingsApplication::windowClosed() {
    if (_delegate.applicationShouldTerminateAfterLastWindowClosed())
        _platform.application.terminate();
}

}  // namespace quaymark
