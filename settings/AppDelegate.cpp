#include "AppDelegate.h"

#include <QComboBox>
#include <QKeySequence>
#include <QLineEdit>
#include <QPushButton>

#include "ApplicationsChecker.h"
#include "QuaymarkPreferences.h"
#include "SettingsWindow.h"
#include "ui_MainWindow.h"

namespace quaymark {

using namespace preference_key;

namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

// Clears a flag when the scope ends, however it ends.
class FlagGuard {
public:
    explicit FlagGuard(bool& flag) : _flag(flag) { _flag = true; }
    ~FlagGuard() { _flag = false; }
    FlagGuard(const FlagGuard&) = delete;
    FlagGuard& operator=(const FlagGuard&) = delete;

private:
    bool& _flag;
};

}  // namespace

AppDelegate::AppDelegate(Platform platform, FinderToolBarController& installer, Alert& alert,
                         SUUpdater& updater)
    : _platform(platform),
      _installer(installer),
      _alert(alert),
      _updater(updater),
      _defaults(platform.preferences, kPreferencesDomain) {
    std::optional<std::string> path = _platform.mainBundle.pathForResource("defaults", "plist");
    std::optional<PlistValue> defaults =
        path ? _platform.fileManager.propertyListWithContentsOfFile(*path) : std::nullopt;
    // Without the file every key reads as stored or absent; the readers below give each
    // absent key a defined value.
    if (defaults && defaults->asDictionary())
        _defaults.registerDefaults(*defaults->asDictionary());
    _terminalIDs = std::make_unique<TerminalIdentifiers>(_platform);
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::setOutlets(SettingsWindow& window) {
    const Ui::MainWindow& form = window.form();
    _installOrUninstallButton = form.installOrUninstallButton;
    _window = &window;
    _commandField = form.commandField;
    _terminals = form.terminals;
    _openTypes = form.openTypes;
    _restoreCommandButton = form.restoreCommandButton;
    _checkForUpdatesButton = form.checkForUpdatesButton;

    connect(_installOrUninstallButton, &QPushButton::clicked, this,
            &AppDelegate::handleInstallOrUninstall);
    // `activated` and `textEdited` come from the user alone, as the actions of the original
    // controls do; filling the controls from the preferences writes nothing back.
    connect(_terminals, &QComboBox::activated, this, &AppDelegate::changedTerminal);
    connect(_openTypes, &QComboBox::activated, this, &AppDelegate::changedOpenType);
    connect(_commandField, &QLineEdit::textEdited, this, &AppDelegate::controlTextDidChange);
    connect(_restoreCommandButton, &QPushButton::clicked, this,
            &AppDelegate::handleRestoreDefaultCommand);
    connect(_checkForUpdatesButton, &QPushButton::clicked, this, &AppDelegate::checkForUpdates);
}

void AppDelegate::awakeFromNib() {
    reloadButton();
    setupControls();
    updateRestoreButton();
}

bool AppDelegate::applicationWillFinishLaunching() {
    return ApplicationsChecker::verifyApplicationsFolder(_platform, _alert);
}

void AppDelegate::applicationDidFinishLaunching() {
    _installer.updateHelperIcon();
    _defaults.setObject(kLastLaunchDate, PlistValue(_platform.clock.now()));
    _defaults.synchronize();
    _updater.checkForUpdatesInBackground();
}

void AppDelegate::handleInstallOrUninstall() {
    if (_changingToolbar)
        return;
    FlagGuard changing(_changingToolbar);
    _installOrUninstallButton->setEnabled(false);
    // What each returns is not shown: the title read back afterwards is the only feedback.
    if (_installer.isQuaymarkInstalled())
        _installer.uninstallHelper();
    else
        _installer.installHelper();
    _installOrUninstallButton->setEnabled(true);
    reloadButton();
}

void AppDelegate::changedTerminal() {
    std::optional<std::string> identifier =
        _terminalIDs->identifierForTerminalName(_terminals->currentText().toStdString());
    // Every title of the list is a catalogue name, so nothing comes out only for an empty list.
    if (!identifier)
        return;
    _defaults.setObject(kTerminalIdentifier, PlistValue(*identifier));
    _defaults.synchronize();
}

void AppDelegate::changedOpenType() {
    _defaults.setBool(kUseWindow, _openTypes->currentText() == settings_text::kNewWindow);
    _defaults.synchronize();
}

void AppDelegate::handleRestoreDefaultCommand() {
    _commandField->setText(kDefaultCommandTemplate);
    updateRestoreButton();
    _defaults.setObject(kTerminalCommand, PlistValue(kDefaultCommandTemplate));
    _defaults.synchronize();
}

void AppDelegate::checkForUpdates() {
    _updater.checkForUpdates();
}

void AppDelegate::controlTextDidChange() {
    if (sender() != _commandField)
        return;
    updateRestoreButton();
    _defaults.setObject(kTerminalCommand, PlistValue(_commandField->text().toStdString()));
    _defaults.synchronize();
}

void AppDelegate::reloadButton() {
    bool installed = _installer.isQuaymarkInstalled();
    _installOrUninstallButton->setText(installed ? settings_text::kUninstallTitle
                                                 : settings_text::kInstallTitle);
    // The key equivalent: Return presses the button from any control of the window while it
    // offers to install, and does nothing of the kind once the button is there.
    _installOrUninstallButton->setShortcut(installed ? QKeySequence()
                                                     : QKeySequence(Qt::Key_Return));
}

void AppDelegate::setupControls() {
    _openTypes->setCurrentIndex(_openTypes->findText(
        _defaults.boolForKey(kUseWindow) ? settings_text::kNewWindow : settings_text::kNewTab));
    reloadTerminalsPopUp();
    // A command of another type, or none at all, shows the one a click then types, so the
    // field never hides what the button does.
    _commandField->setText(
        qt(_defaults.stringForKey(kTerminalCommand).value_or(kDefaultCommandTemplate)));
}

void AppDelegate::reloadTerminalsPopUp() {
    _terminals->clear();
    for (const std::string& identifier : _terminalIDs->installedTerminals())
        _terminals->addItem(qt(_terminalIDs->nameForTerminal(identifier).value_or(identifier)));
    std::string identifier = _defaults.stringForKey(kTerminalIdentifier).value_or("");
    if (!_terminalIDs->isTerminalInstalled(identifier)) {
        identifier = terminal_identifier::kAppleTerminal;
        // Not synchronised here: at launch the date's synchronisation follows and writes it.
        _defaults.setObject(kTerminalIdentifier, PlistValue(identifier));
    }
    // With Terminal itself missing no item carries its name, and the list shows none chosen.
    _terminals->setCurrentIndex(
        _terminals->findText(qt(_terminalIDs->nameForTerminal(identifier).value_or(""))));
}

void AppDelegate::updateRestoreButton() {
    _restoreCommandButton->setEnabled(_commandField->text() != kDefaultCommandTemplate);
}

}  // namespace quaymark
