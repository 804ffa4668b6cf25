// The settings application's delegate: its launch steps and the actions of the window's
// controls, which write the shared preferences and call the installer.
#pragma once

#include <QObject>
#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "Alert.h"
#include "FinderToolBarController.h"
#include "Platform.h"
#include "TerminalIdentifiers.h"
#include "Updater.h"
#include "UserDefaults.h"

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QMainWindow;
class QPushButton;

namespace quaymark {

class SettingsWindow;

namespace settings_text {
inline constexpr const char* kInstallTitle = "Add Quaymark button to Finder Toolabar";
inline constexpr const char* kUninstallTitle = "Uninstall Quaymark from Finder";
inline constexpr const char* kNewWindow = "New Window";
inline constexpr const char* kNewTab = "New Tab (Experimental)";
inline constexpr const char* kNewWindowHint = "Each click opens a new terminal window.";
inline constexpr const char* kNewTabHint = "A new tab opens in the terminal's front window.";
}  // namespace settings_text

// The services it is given must outlive it. All of it runs on the main thread.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    // Registers the main bundle's "defaults.plist" as the defaults of the own preferences
    // domain (in this process only; a missing or unreadable file registers nothing) and makes
    // the terminal catalogue.
    AppDelegate(Platform platform, FinderToolBarController& installer, Alert& alert,
                SUUpdater& updater);
    ~AppDelegate() override;

    // Takes the controls of the loaded interface file as its fields and connects their
    // actions; once, before awakeFromNib.
    void setOutlets(SettingsWindow& window);
    // Fills the controls from the toolbar state and the preferences.
    void awakeFromNib();
    // The location check; false when it refused the location and the application is ending.
    bool applicationWillFinishLaunching();
    // Refreshes the button's icon, records the launch date, starts a silent update check.
    void applicationDidFinishLaunching();
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }

    // Whether an install or uninstall is under way (it waits for Finder in the run loop).
    bool isChangingToolbar() const { return _changingToolbar; }

    void reloadButton();
    void setupControls();
    void reloadTerminalsPopUp();
    void updateRestoreButton();

public slots:
    // Refused while an install or uninstall is under way: its Finder wait runs the event
    // loop, from which a second press could otherwise arrive.
    void handleInstallOrUninstall();
    void changedTerminal();
    void changedOpenType();
    void handleRestoreDefaultCommand();
    void checkForUpdates();
    // Stores the command field's whole text after each edit the user makes.
    void controlTextDidChange();

private:
    // Stores `value` under `key` with every earlier change no write has taken yet, and
    // synchronises; the window then says whether the preferences could be written.
    void store(const std::string& key, PlistValue value);
    // Hands every unsaved change to the preferences again and synchronises.
    void writeUnsaved();
    // Shows why the preferences cannot be read or written, or hides the line when nothing.
    void showPreferencesProblem(const std::optional<PreferencesFailure>& failure, bool reading);
    // The open-type hint and the xterm note for the chosen terminal and open type.
    void updateHints();
    void setCommandText(const QString& text);
    QString commandText() const;

    QPushButton* _installOrUninstallButton = nullptr;
    QMainWindow* _window = nullptr;
    QPlainTextEdit* _commandField = nullptr;
    QComboBox* _terminals = nullptr;
    QComboBox* _openTypes = nullptr;
    QPushButton* _restoreCommandButton = nullptr;
    std::unique_ptr<TerminalIdentifiers> _terminalIDs;

    Platform _platform;
    FinderToolBarController& _installer;
    Alert& _alert;
    SUUpdater& _updater;
    UserDefaults _defaults;
    QPushButton* _checkForUpdatesButton = nullptr;
    QLabel* _openTypesHint = nullptr;
    QLabel* _terminalsHint = nullptr;
    QString _terminalsHintText;
    QLabel* _xtermNote = nullptr;
    QLabel* _preferencesProblem = nullptr;
    bool _changingToolbar = false;
    // The changes since the last write that succeeded (the user's, a repaired terminal, the
    // launch date): a failed write drops what it was given, so each later one is handed all
    // of them again.
    std::map<std::string, PlistValue> _unsaved;
    // The preferences could not be read when the controls were filled: they show the defaults,
    // and nothing is written for the user until a change of theirs is.
    bool _unreadAtStart = false;
};

}  // namespace quaymark
