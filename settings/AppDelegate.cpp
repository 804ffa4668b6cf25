#include "AppDelegate.h"

#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "ApplicationsChecker.h"
#include "InstallerCommand.h"
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
    _openTypesHint = form.openTypesHint;
    _terminalsHint = form.terminalsHint;
    _terminalsHintText = _terminalsHint->text();
    _xtermNote = form.xtermNote;
    _preferencesProblem = form.preferencesProblem;

    connect(_installOrUninstallButton, &QPushButton::clicked, this,
            &AppDelegate::handleInstallOrUninstall);
    // `activated` comes from the user alone, as the actions of the original controls do; the
    // field's own changes are blocked while it is filled, so filling writes nothing back.
    connect(_terminals, &QComboBox::activated, this, &AppDelegate::changedTerminal);
    connect(_openTypes, &QComboBox::activated, this, &AppDelegate::changedOpenType);
    connect(_commandField, &QPlainTextEdit::textChanged, this, &AppDelegate::controlTextDidChange);
    connect(_restoreCommandButton, &QPushButton::clicked, this,
            &AppDelegate::handleRestoreDefaultCommand);
    connect(_checkForUpdatesButton, &QPushButton::clicked, this, &AppDelegate::checkForUpdates);
}

void AppDelegate::awakeFromNib() {
    // Shown settings that could not be read would pass the defaults off as the user's own.
    std::optional<PreferencesFailure> unreadable =
        _platform.preferences.readFailure(_defaults.domain());
    _unreadAtStart = unreadable.has_value();
    showPreferencesProblem(unreadable, true);
    reloadButton();
    setupControls();
    updateRestoreButton();
}

bool AppDelegate::applicationWillFinishLaunching() {
    return ApplicationsChecker::verifyApplicationsFolder(_platform, _alert);
}

void AppDelegate::applicationDidFinishLaunching() {
    _installer.updateHelperIcon();
    // A file that could not be read is left as it is: no launch date, no repaired terminal.
    if (!_unreadAtStart)
        store(kLastLaunchDate, PlistValue(_platform.clock.now()));
    _updater.checkForUpdatesInBackground();
}

void AppDelegate::handleInstallOrUninstall() {
    if (_changingToolbar)
        return;
    bool installing = !_installer.isQuaymarkInstalled();
    ToolbarChange change;
    {
        FlagGuard changing(_changingToolbar);
        _installOrUninstallButton->setEnabled(false);
        change = installing ? _installer.installHelper() : _installer.uninstallHelper();
        _installOrUninstallButton->setEnabled(true);
        reloadButton();
    }
    // The title tells what is stored; a refusal also says why nothing changed.
    if (const Result<void> changed = checkToolbarChange(change); !changed) {
        _alert.runModal(AlertText{
            .messageText = installing
                               ? "The Quaymark button could not be added to Finder's toolbar."
                               : "The Quaymark button could not be removed from Finder's "
                                 "toolbar.",
            .informativeText =
                changed.error() + "\nMake that file readable and writable, then try again.",
            .buttons = {"OK"},
        });
    }
}

void AppDelegate::changedTerminal() {
    std::optional<std::string> identifier =
        _terminalIDs->identifierForTerminalName(_terminals->currentText().toStdString());
    // Every title of the list is a catalogue name, so nothing comes out only for an empty list.
    if (!identifier)
        return;
    _terminalsHint->setText(_terminalsHintText);
    updateHints();
    store(kTerminalIdentifier, PlistValue(*identifier));
}

void AppDelegate::changedOpenType() {
    updateHints();
    store(kUseWindow, PlistValue::boolean(_openTypes->currentText() == settings_text::kNewWindow));
}

void AppDelegate::handleRestoreDefaultCommand() {
    setCommandText(kDefaultCommandTemplate);
    updateRestoreButton();
    store(kTerminalCommand, PlistValue(kDefaultCommandTemplate));
}

void AppDelegate::checkForUpdates() {
    _updater.checkForUpdates();
}

void AppDelegate::controlTextDidChange() {
    if (sender() != _commandField)
        return;
    updateRestoreButton();
    store(kTerminalCommand, PlistValue(commandText().toStdString()));
}

void AppDelegate::store(const std::string& key, PlistValue value) {
    _unsaved.insert_or_assign(key, std::move(value));
    writeUnsaved();
}

void AppDelegate::writeUnsaved() {
    for (const auto& [unsavedKey, unsavedValue] : _unsaved)
        _defaults.setObject(unsavedKey, unsavedValue);
    std::optional<PreferencesFailure> failure =
        _platform.preferences.synchronize(_defaults.domain());
    showPreferencesProblem(failure, false);
    if (failure)
        return;
    std::map<std::string, PlistValue> written = std::exchange(_unsaved, {});
    if (!std::exchange(_unreadAtStart, false))
        return;
    // The file can be read now: the controls the user left alone show what it holds.
    if (!written.contains(kUseWindow))
        _openTypes->setCurrentIndex(_openTypes->findText(
            _defaults.boolForKey(kUseWindow) ? settings_text::kNewWindow : settings_text::kNewTab));
    if (!written.contains(kTerminalIdentifier))
        reloadTerminalsPopUp();
    if (!written.contains(kTerminalCommand))
        setCommandText(
            qt(_defaults.stringForKey(kTerminalCommand).value_or(kDefaultCommandTemplate)));
    updateRestoreButton();
    updateHints();
    // A terminal the refill repaired.
    if (!_unsaved.empty())
        writeUnsaved();
}

void AppDelegate::showPreferencesProblem(const std::optional<PreferencesFailure>& failure,
                                         bool reading) {
    if (_preferencesProblem->isHidden() == failure.has_value()) {
        _preferencesProblem->setVisible(failure.has_value());
        // The window fits its layout again once that has run, after this event.
        QTimer::singleShot(0, _window, [window = _window] { window->adjustSize(); });
    }
    if (!failure)
        return;
    _preferencesProblem->setText(
        reading
            ? qt("Your settings could not be read from " + failure->file + ": " + failure->reason +
                 ". The window shows the defaults until the file can be read, and each change "
                 "you make tries to save again.")
            : qt("Your settings could not be saved to " + failure->file + ": " + failure->reason +
                 ". Put the file or its folder right: each change you make tries again, with "
                 "everything you changed here."));
}

void AppDelegate::updateHints() {
    bool xterm = _terminalIDs->identifierForTerminalName(_terminals->currentText().toStdString()) ==
                 terminal_identifier::kXterm;
    _openTypesHint->setText(_openTypes->currentText() == settings_text::kNewWindow
                                ? settings_text::kNewWindowHint
                                : settings_text::kNewTabHint);
    // xterm takes neither: the stored values stay for the terminal picked next.
    _openTypes->setEnabled(!xterm);
    _commandField->setEnabled(!xterm);
    _xtermNote->setVisible(xterm);
    updateRestoreButton();
}

void AppDelegate::setCommandText(const QString& text) {
    const QSignalBlocker filling(_commandField);
    _commandField->setPlainText(text);
}

QString AppDelegate::commandText() const {
    // The raw text keeps every character as typed (no-break spaces included); only the
    // document's own paragraph breaks stand for line feeds.
    return _commandField->document()->toRawText().replace(QChar::ParagraphSeparator, u'\n');
}

void AppDelegate::reloadButton() {
    bool installed = _installer.isQuaymarkInstalled();
    _installOrUninstallButton->setText(installed ? settings_text::kUninstallTitle
                                                 : settings_text::kInstallTitle);
    // The key equivalent: Return presses the button from any control of the window while it
    // offers to install, and does nothing of the kind once the button is there.
    _installOrUninstallButton->setShortcut(installed ? QKeySequence()
                                                     : QKeySequence(Qt::Key_Return));
    _installOrUninstallButton->setDefault(!installed);
}

void AppDelegate::setupControls() {
    _openTypes->setCurrentIndex(_openTypes->findText(
        _defaults.boolForKey(kUseWindow) ? settings_text::kNewWindow : settings_text::kNewTab));
    reloadTerminalsPopUp();
    // A command of another type, or none at all, shows the one a click then types, so the
    // field never hides what the button does.
    setCommandText(qt(_defaults.stringForKey(kTerminalCommand).value_or(kDefaultCommandTemplate)));
    updateHints();
}

void AppDelegate::reloadTerminalsPopUp() {
    _terminals->clear();
    const std::vector<std::string> installed = _terminalIDs->installedTerminals();
    for (const std::string& identifier : installed)
        _terminals->addItem(qt(_terminalIDs->nameForTerminal(identifier).value_or(identifier)));
    std::optional<std::string> stored = _defaults.stringForKey(kTerminalIdentifier);
    std::string identifier = stored.value_or("");
    _terminalsHint->setText(_terminalsHintText);
    auto isInstalled = [&](const std::string& candidate) {
        return std::find(installed.begin(), installed.end(), candidate) != installed.end();
    };
    if (!isInstalled(identifier)) {
        // The first installed one in the catalogue's order, Terminal when there is none.
        identifier = terminal_identifier::kAppleTerminal;
        for (const char* candidate :
             {terminal_identifier::kAppleTerminal, terminal_identifier::kITerm,
              terminal_identifier::kITerm2, terminal_identifier::kXterm}) {
            if (isInstalled(candidate)) {
                identifier = candidate;
                break;
            }
        }
        // Not synchronised here: at launch the date's synchronisation follows and writes it.
        if (!_unreadAtStart) {
            _defaults.setObject(kTerminalIdentifier, PlistValue(identifier));
            _unsaved.insert_or_assign(kTerminalIdentifier, PlistValue(identifier));
        }
        if (stored && !stored->empty()) {
            _terminalsHint->setText(
                qt(_terminalIDs->nameForTerminal(*stored).value_or(*stored) +
                   " is no longer installed, so the toolbar button now opens " +
                   _terminalIDs->nameForTerminal(identifier).value_or(identifier) + "."));
        }
    }
    _terminals->setCurrentIndex(
        _terminals->findText(qt(_terminalIDs->nameForTerminal(identifier).value_or(""))));
}

void AppDelegate::updateRestoreButton() {
    _restoreCommandButton->setEnabled(_commandField->isEnabled() &&
                                      commandText() != kDefaultCommandTemplate);
}

}  // namespace quaymark
