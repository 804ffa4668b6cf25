// The settings window driven through its controls, over the test doubles.
#include <sys/mount.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "ApplicationsChecker.h"
#include "HostTestSupport.h"
#include "QuaymarkPreferences.h"
#include "RecordingAlert.h"
#include "RecordingUpdater.h"
#include "SettingsApplication.h"
#include "TestPlatform.h"
#include "preferences/FilePreferences.h"
#include "qt/QtAlert.h"
#include "qt/QtHost.h"

Q_DECLARE_METATYPE(quaymark::PlistValue)
Q_DECLARE_METATYPE(std::vector<std::string>)

using namespace quaymark;
using namespace quaymark::finder_toolbar;
using namespace quaymark::preference_key;
using namespace quaymark::settings_text;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

const char* kTerminalApp = "com.apple.Terminal";
const std::vector<std::string> kFourTerminals = {kTerminalApp, "net.sourceforge.iTerm",
                                                 "com.googlecode.iterm2", "/usr/X11R6/bin/xterm"};

struct Setup {
    std::string bundlePath = "/Applications/Quaymark.app";
    bool defaultsFile = true;
    std::vector<std::string> terminals = {kTerminalApp};
    PlistDictionary stored = {};
    // The installer then waits for Finder in Qt's event loop, a real second a slice.
    bool realWait = false;
    // In place of the test double, e.g. real files.
    Preferences* preferences = nullptr;
};

Platform withPreferences(Platform base, Preferences* preferences) {
    if (!preferences)
        return base;
    return Platform{*preferences, base.workspace,   base.fileManager, base.mainBundle,
                    base.tasks,   base.scripting,   base.appleScript, base.clock,
                    base.runLoop, base.application, base.log};
}

// One settings application over a fresh test platform, its window loaded and filled; the
// home folder is /Users/u1.
struct Settings {
    explicit Settings(const Setup& setup = {})
        : platform(withEventLoop(withPreferences(test.platform(), setup.preferences),
                                 setup.realWait ? static_cast<RunLoop&>(qtRunLoop) : test.runLoop,
                                 qtApplication)) {
        test.mainBundle.setBundlePath(setup.bundlePath);
        test.fileManager.setHomeDirectory("/Users/u1");
        test.fileManager.addFolder(setup.bundlePath + "/Contents/MacOS/QuaymarkHelper.app");
        test.fileManager.addFile(kSystemVersionPath,
                                 PlistValue(PlistDictionary{{"ProductVersion", "10.9.5"}}));
        if (setup.defaultsFile) {
            test.mainBundle.addResource("defaults", "plist");
            test.fileManager.addFile(
                setup.bundlePath + "/Contents/Resources/defaults.plist",
                PlistValue(PlistDictionary{{kTerminalCommand, kDefaultCommandTemplate},
                                           {kUseWindow, PlistValue::boolean(true)}}));
        }
        for (const std::string& identifier : setup.terminals)
            identifier.starts_with("/")
                ? test.fileManager.addFile(identifier)
                : test.workspace.installApplication(identifier, "/Applications/" + identifier);
        for (const auto& [key, value] : setup.stored)
            test.preferences.store(key, value, kPreferencesDomain);
        app = std::make_unique<SettingsApplication>(
            SettingsServices{platform, installer, alert, updater});
    }

    template <typename Control>
    Control* control(const char* name) {
        auto* found = app->window().findChild<Control*>(name);
        if (!found)
            qFatal("the window has no control %s", name);
        return found;
    }
    std::optional<PlistValue> stored(const char* key, const char* domain = kPreferencesDomain) {
        PlistDictionary values = test.preferences.values(domain);
        const PlistValue* value = values.find(key);
        return value ? std::optional(*value) : std::nullopt;
    }
    std::size_t count(const std::string& entry) { return test.calls.matching({entry}).size(); }
    int buttonEntries() {
        return FinderToolBarController::buttonEntryCount(
            installer.createToolbarConfigurationBrowserDictionary());
    }
    std::size_t synchronisations() { return test.preferences.synchronizeCalls().size(); }
    void finderRuns() { test.workspace.addRunningApplication({4242, kFinderDomain, "Finder"}); }

    TestPlatform test;
    RecordingAlert alert{test.calls};
    RecordingUpdater updater{test.calls};
    QtRunLoop qtRunLoop;
    QtApplication qtApplication{qtRunLoop};
    Platform platform;
    FinderToolBarController installer{platform};
    std::unique_ptr<SettingsApplication> app;
};

// A file of our own domain in a folder of the test's own, read back afresh each time.
struct PreferenceFile {
    explicit PreferenceFile(fs::path in) : folder(std::move(in)) { fs::create_directories(folder); }
    std::optional<PlistValue> stored(const char* key) {
        FilePreferences reader(folder.string(), log);
        return reader.copyAppValue(key, kPreferencesDomain);
    }
    void store(const PlistDictionary& values) {
        FilePreferences writer(folder.string(), log);
        for (const auto& [key, value] : values)
            writer.setAppValue(key, value, kPreferencesDomain);
        QVERIFY(!writer.synchronize(kPreferencesDomain));
    }
    fs::path file() const { return folder / (std::string(kPreferencesDomain) + ".plist"); }

    // What is in the file's place: its bytes, or the kind of thing that is there instead.
    std::string snapshot() const {
        return fs::is_regular_file(file())
                   ? testing::readFile(file())
                   : std::to_string(static_cast<int>(fs::status(file()).type()));
    }

    fs::path folder;
    CallLog calls;
    RecordingLog log{calls};
};

// A way the own preference file cannot be read or written, and how it is put right.
struct Problem {
    const char* name;
    // Seen already when the window fills its controls.
    bool unreadable;
    // Stores `mine` and makes the problem; false when it cannot be made on this machine.
    std::function<bool(PreferenceFile&, const PlistDictionary& mine)> make;
    std::function<void(PreferenceFile&)> mend;
};

const Problem kProblems[] = {
    {"a folder in the file's place", true,
     [](PreferenceFile& file, const PlistDictionary&) { return fs::create_directory(file.file()); },
     [](PreferenceFile& file) { fs::remove(file.file()); }},
    {"a read-only folder", false,
     [](PreferenceFile& file, const PlistDictionary& mine) {
         file.store(mine);
         fs::permissions(file.folder, fs::perms::owner_read | fs::perms::owner_exec);
         return true;
     },
     [](PreferenceFile& file) { fs::permissions(file.folder, fs::perms::owner_all); }},
    {"an unreadable file", true,
     [](PreferenceFile& file, const PlistDictionary& mine) {
         file.store(mine);
         fs::permissions(file.file(), fs::perms::none);
         return true;
     },
     [](PreferenceFile& file) {
         fs::permissions(file.file(), fs::perms::owner_read | fs::perms::owner_write);
     }},
    {"a full disk", false,
     [](PreferenceFile& file, const PlistDictionary& mine) {
         if (::mount("tmpfs", file.folder.c_str(), "tmpfs", 0, "size=64k") != 0)
             return false;
         file.store(mine);
         std::ofstream filler(file.folder / "filler", std::ios::binary);
         const std::string block(4096, 'f');
         while (filler.write(block.data(), block.size()) && filler.flush()) {
         }
         return true;
     },
     [](PreferenceFile& file) { fs::remove(file.folder / "filler"); }},
};

void typeAtEnd(QPlainTextEdit* field, const QString& text) {
    field->setFocus();
    QTest::keyClick(field, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(field, text);
}

void wheel(QWidget* widget, int delta) {
    QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

}  // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT

private slots:
    void returnInstallsOnlyWhileTheButtonOffersTo() {
        Settings settings;
        auto* button = settings.control<QPushButton>("installOrUninstallButton");
        auto* field = settings.control<QPlainTextEdit>("commandField");
        auto* openTypes = settings.control<QComboBox>("openTypes");
        settings.app->window().show();
        QVERIFY(QTest::qWaitForWindowActive(&settings.app->window()));
        QCOMPARE(button->text(), kInstallTitle);
        QVERIFY(button->isDefault());
        // Each label's mnemonic reaches its control.
        for (auto [key, name] : {std::pair{Qt::Key_T, "terminals"},
                                 {Qt::Key_O, "openTypes"},
                                 {Qt::Key_C, "commandField"}}) {
            QTest::keyClick(&settings.app->window(), key, Qt::AltModifier);
            QCOMPARE(QApplication::focusWidget()->objectName(), name);
        }
        // In the command field Return is a line break, as typed; it installs nothing.
        QTest::keyClick(field, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(settings.stored(kTerminalCommand), PlistValue(kDefaultCommandTemplate + "\n"s));
        QCOMPARE(settings.buttonEntries(), 0);
        // While the installer waits for Finder, the button is off and a second press is refused.
        bool enabledDuringWait = true;
        settings.test.runLoop.setSliceHook([&](std::size_t) {
            enabledDuringWait = button->isEnabled();
            settings.app->delegate().handleInstallOrUninstall();
            settings.finderRuns();
        });
        openTypes->setFocus();
        QTest::keyClick(openTypes, Qt::Key_Return);
        QTRY_COMPARE(button->text(), kUninstallTitle);
        QVERIFY(!enabledDuringWait && button->isEnabled() && !button->isDefault());
        QCOMPARE(settings.buttonEntries(), 1);
        QCOMPARE(settings.count("Tasks.launch /usr/bin/killall"), 1u);

        // Return no longer installs; a bound on purpose, since nothing may change within it.
        QTest::keyClick(openTypes, Qt::Key_Return);
        QVERIFY(!QTest::qWaitFor([&] { return settings.buttonEntries() != 1; }, 300));

        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_COMPARE(button->text(), kInstallTitle);
        QCOMPARE(settings.buttonEntries(), 0);
        QVERIFY(settings.alert.shown().empty());

        // A refusal leaves the button as it was and says why.
        const PreferencesFailure failure{"/Users/u1/Library/Preferences/com.apple.finder.plist",
                                         "permission denied"};
        settings.test.preferences.setUnreadable(kFinderDomain, failure);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(button->text(), kInstallTitle);
        QCOMPARE(settings.alert.shown().size(), 1u);
        const AlertText& text = settings.alert.shown().front();
        QCOMPARE(text.messageText, "The Quaymark button could not be added to Finder's toolbar.");
        QVERIFY(text.informativeText.starts_with(
            "Finder's preferences could not be read, so nothing was changed: " + failure.message() +
            "\n"));
    }

    void terminalListShowsInstalledTerminals_data() {
        QTest::addColumn<std::vector<std::string>>("installed");
        QTest::addColumn<PlistValue>("identifier");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<PlistValue>("identifierAfter");
        QTest::addColumn<QString>("hint");
        const std::vector<std::string> terminalOnly = {kTerminalApp};
        const QString unchanged =
            "The terminal the toolbar button opens. Only installed terminals are listed.";
        // An identifier of "" stands for none stored.
        QTest::newRow("iTerm2 gone")
            << terminalOnly << PlistValue("com.googlecode.iterm2") << "Terminal"
            << PlistValue(kTerminalApp)
            << "iTerm2 is no longer installed, so the toolbar button now opens Terminal.";
        QTest::newRow("installed") << kFourTerminals << PlistValue("net.sourceforge.iTerm")
                                   << "iTerm" << PlistValue("net.sourceforge.iTerm") << unchanged;
        QTest::newRow("none") << kFourTerminals << PlistValue("") << "Terminal"
                              << PlistValue(kTerminalApp) << unchanged;
        QTest::newRow("an integer") << kFourTerminals << PlistValue::integer(7) << "Terminal"
                                    << PlistValue(kTerminalApp) << unchanged;
        // The catalogue's order puts iTerm before iTerm2, the list's order the other way.
        QTest::newRow("without Apple's Terminal")
            << std::vector<std::string>(kFourTerminals.begin() + 1, kFourTerminals.end())
            << PlistValue(kTerminalApp) << "iTerm" << PlistValue("net.sourceforge.iTerm")
            << "Terminal is no longer installed, so the toolbar button now opens iTerm.";
    }

    void terminalListShowsInstalledTerminals() {
        QFETCH(std::vector<std::string>, installed);
        QFETCH(PlistValue, identifier);
        Setup setup{.terminals = installed};
        if (identifier != PlistValue(""))
            setup.stored.set(kTerminalIdentifier, identifier);
        Settings settings(setup);

        auto* terminals = settings.control<QComboBox>("terminals");
        QStringList items;
        for (int index = 0; index < terminals->count(); ++index)
            items << terminals->itemText(index);
        QCOMPARE(items.size(), static_cast<int>(installed.size()));
        if (installed == kFourTerminals)
            QCOMPARE(items, (QStringList{"Terminal", "iTerm2", "iTerm", "xterm"}));
        QTEST(terminals->currentText(), "selected");
        QTEST(settings.stored(kTerminalIdentifier).value(), "identifierAfter");
        QTEST(settings.control<QLabel>("terminalsHint")->text(), "hint");
        // A repair waits for the launch's own synchronisation.
        QCOMPARE(settings.synchronisations(), 0u);
    }

    void xtermDisablesWhatItTakesNoneOf() {
        Settings settings(Setup{.terminals = {kTerminalApp, "/usr/X11R6/bin/xterm"},
                                .stored = {{kTerminalIdentifier, "com.googlecode.iterm2"}}});
        auto* terminals = settings.control<QComboBox>("terminals");
        auto* note = settings.control<QLabel>("xtermNote");
        auto* hint = settings.control<QLabel>("terminalsHint");
        QVERIFY(hint->text().startsWith("iTerm2 is no longer installed"));
        std::vector<QWidget*> unused = {settings.control<QComboBox>("openTypes"),
                                        settings.control<QPlainTextEdit>("commandField")};
        settings.app->window().show();
        QVERIFY(note->isHidden());
        // Picking a terminal stores it at once; xterm's note shows while it is chosen.
        terminals->setFocus();
        for (auto [key, stored, xterm] : {std::tuple{Qt::Key_End, "/usr/X11R6/bin/xterm", true},
                                          {Qt::Key_Home, kTerminalApp, false}}) {
            QTest::keyClick(terminals, key);
            QCOMPARE(settings.stored(kTerminalIdentifier), PlistValue(stored));
            QCOMPARE(note->isVisible(), xterm);
            // The user's own choice retires the note about the one that went away.
            QVERIFY(!hint->text().contains("no longer"));
            for (QWidget* control : unused)
                QCOMPARE(control->isEnabled(), !xterm);
        }
        // The values xterm does not use are kept for the next terminal.
        QCOMPARE(settings.stored(kTerminalCommand), std::nullopt);
        QCOMPARE(settings.stored(kUseWindow), std::nullopt);
        QCOMPARE(settings.synchronisations(), 2u);
    }

    void controlsStoreEveryChange() {
        // Without the defaults file "Use Window" reads NO, and a command of another type as the
        // one a click would type.
        Settings settings(
            Setup{.defaultsFile = false, .stored = {{kTerminalCommand, PlistValue::integer(3)}}});
        auto* openTypes = settings.control<QComboBox>("openTypes");
        auto* hint = settings.control<QLabel>("openTypesHint");
        auto* field = settings.control<QPlainTextEdit>("commandField");
        auto* restore = settings.control<QPushButton>("restoreCommandButton");
        QCOMPARE(openTypes->count(), 2);
        QCOMPARE(openTypes->currentText(), kNewTab);
        QCOMPARE(hint->text(), kNewTabHint);
        QCOMPARE(field->toPlainText(), kDefaultCommandTemplate);
        QVERIFY(!restore->isEnabled());

        // The wheel leaves both pop-ups alone, focused or not.
        for (auto* popUp : {openTypes, settings.control<QComboBox>("terminals")}) {
            int before = popUp->currentIndex();
            popUp->setFocus();
            for (int delta : {-120, 120, -120})
                wheel(popUp, delta);
            QCOMPARE(popUp->currentIndex(), before);
        }
        QCOMPARE(settings.synchronisations(), 0u);

        openTypes->setFocus();
        QTest::keyClick(openTypes, Qt::Key_Up);
        QCOMPARE(openTypes->currentText(), kNewWindow);
        QCOMPARE(hint->text(), kNewWindowHint);
        QCOMPARE(settings.stored(kUseWindow), PlistValue::boolean(true));
        QTest::keyClick(openTypes, Qt::Key_Down);
        QCOMPARE(hint->text(), kNewTabHint);
        QCOMPARE(settings.stored(kUseWindow), PlistValue::boolean(false));

        field->setFocus();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Delete);
        QCOMPARE(settings.stored(kTerminalCommand), PlistValue(""));
        QVERIFY(restore->isEnabled());
        QTest::keyClicks(field, kDefaultCommandTemplate);
        QCOMPARE(settings.stored(kTerminalCommand), PlistValue(kDefaultCommandTemplate));
        QVERIFY(!restore->isEnabled());
        // Every change is written out at once, keystroke by keystroke.
        QCOMPARE(settings.synchronisations(), 3 + std::string(kDefaultCommandTemplate).size());

        QTest::keyClick(field, Qt::Key_Space);
        QVERIFY(restore->isEnabled());
        QTest::mouseClick(restore, Qt::LeftButton);
        QCOMPARE(field->toPlainText(), kDefaultCommandTemplate);
        QVERIFY(!restore->isEnabled());
        QCOMPARE(settings.stored(kTerminalCommand), PlistValue(kDefaultCommandTemplate));
        QVERIFY(!settings.test.preferences.hasUnsynchronizedChanges(kPreferencesDomain));
        QVERIFY(settings.control<QLabel>("preferencesProblem")->isHidden());
        QTest::mouseClick(settings.control<QPushButton>("checkForUpdatesButton"), Qt::LeftButton);
        QCOMPARE(settings.test.calls.entries().back(), "Updater.checkForUpdates");
    }

    void unsavedSettingsAreSaidAndKept_data() {
        QTest::addColumn<int>("problem");
        for (int index = 0; index < static_cast<int>(std::size(kProblems)); ++index)
            QTest::newRow(kProblems[index].name) << index;
    }

    void unsavedSettingsAreSaidAndKept() {
        QFETCH(int, problem);
        const Problem& made = kProblems[problem];
        testing::TemporaryDirectory temporary;
        PreferenceFile file(temporary.path() / "Preferences");
        struct Unmount {
            ~Unmount() { ::umount2(folder.c_str(), MNT_DETACH); }
            fs::path folder;
        } unmount{file.folder};
        if (!made.make(file,
                       {{kTerminalCommand, "echo mine"}, {kUseWindow, PlistValue::boolean(true)}}))
            QSKIP("a small tmpfs cannot be mounted here, so a full disk cannot be made");
        const std::string before = file.snapshot();

        FilePreferences preferences(file.folder.string(), file.log,
                                    {.ownDomain = kPreferencesDomain});
        std::optional<testing::WithoutOverridingPermissions> asAUser(std::in_place);
        Settings settings(Setup{.preferences = &preferences});
        auto* line = settings.control<QLabel>("preferencesProblem");
        auto* field = settings.control<QPlainTextEdit>("commandField");
        auto* openTypes = settings.control<QComboBox>("openTypes");
        QCOMPARE(!line->isHidden(), made.unreadable);
        QCOMPARE(field->toPlainText(), made.unreadable ? kDefaultCommandTemplate : "echo mine");
        settings.app->delegate().applicationDidFinishLaunching();
        typeAtEnd(field, " && echo more");
        openTypes->setFocus();
        QTest::keyClick(openTypes, Qt::Key_Down);
        QVERIFY(!line->isHidden());
        QVERIFY2(line->text().contains(QString::fromStdString(file.file().string()) + ": "),
                 qPrintable(line->text()));
        asAUser.reset();
        QCOMPARE(file.snapshot(), before);

        made.mend(file);
        asAUser.emplace();
        typeAtEnd(field, "!");
        QVERIFY(line->isHidden());
        asAUser.reset();
        QCOMPARE(file.stored(kTerminalCommand), PlistValue(field->toPlainText().toStdString()));
        QVERIFY(field->toPlainText().endsWith(" && echo more!"));
        QCOMPARE(file.stored(kUseWindow), PlistValue::boolean(false));
        QCOMPARE(file.stored(kTerminalIdentifier), PlistValue(kTerminalApp));
    }

    void commandsKeepEveryCharacter_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("lines");
        // Seeded, so that a failure comes back; the seed is in the row's name.
        const unsigned seed = std::random_device{}();
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> character(0x20, 0x7e);
        QString megabyte(1 << 20, u' ');
        for (QChar& each : megabyte)
            each = QChar(character(random));
        QTest::addRow("1 MB, seed %u", seed) << megabyte << 1;
        QTest::newRow("line breaks")
            << QString::fromUtf8("cd %PATH%\n\necho \"two\u00a0lines\"\tdone\n") << 4;
    }

    void commandsKeepEveryCharacter() {
        QFETCH(QString, command);
        Settings settings(Setup{.stored = {{kTerminalCommand, command.toStdString()}}});
        auto* field = settings.control<QPlainTextEdit>("commandField");
        QTEST(field->blockCount(), "lines");
        typeAtEnd(field, "x");
        QCOMPARE(settings.stored(kTerminalCommand), PlistValue((command + "x").toStdString()));
        // Pasted over the whole text, it is stored as pasted.
        field->selectAll();
        field->insertPlainText(command);
        QCOMPARE(settings.stored(kTerminalCommand), PlistValue(command.toStdString()));
    }

    void theLocationAlertFitsItsLines() {
        QtAlert alert;
        const AlertText text = ApplicationsChecker::moveAlertText("/Users/u1/Applications");
        std::vector<QString> unfit;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            for (QLabel* label : QApplication::activeModalWidget()->findChildren<QLabel*>()) {
                for (const QString& line : label->text().split(u'\n')) {
                    if (label->fontMetrics().horizontalAdvance(line) >
                        label->contentsRect().width())
                        unfit.push_back(line);
                }
            }
            QApplication::activeModalWidget()->close();
        });
        alert.runModal(text);
        QCOMPARE(unfit, std::vector<QString>{});
    }

    void launchChecksTheLocationFirst_data() {
        QTest::addColumn<QString>("bundlePath");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("Applications") << "/Applications/Quaymark.app" << true;
        QTest::newRow("Utilities") << "/Applications/Utilities/Quaymark.app" << true;
        QTest::newRow("prefix only") << "/ApplicationsOld/Quaymark.app" << true;
        QTest::newRow("home") << "/Users/u1/Applications/Quaymark.app" << true;
        QTest::newRow("Downloads") << "/Users/u1/Downloads/Quaymark.app" << false;
        QTest::newRow("lower case") << "/applications/Quaymark.app" << false;
    }

    void launchChecksTheLocationFirst() {
        QFETCH(QString, bundlePath);
        QFETCH(bool, accepted);
        PlistValue earlier(PlistDate{1000.0});
        Settings settings(
            Setup{.bundlePath = bundlePath.toStdString(), .stored = {{kLastLaunchDate, earlier}}});
        // The user quits with Ctrl+Q once the window is up; a refused launch never shows it.
        QTimer::singleShot(200, &settings.app->window(), [&] {
            QTest::keyClick(&settings.app->window(), Qt::Key_Q, Qt::ControlModifier);
        });
        QTimer::singleShot(5000, &settings.app->window(), [&] { settings.qtRunLoop.stop(99); });
        QCOMPARE(settings.app->run(), 0);

        auto at = [&](const std::string& entry) { return settings.test.calls.indexOf(entry); };
        int icon = at("Workspace.setIconForFile " + bundlePath.toStdString() +
                      "/Contents/MacOS/QuaymarkHelper.app");
        int updateCheck = at("Updater.checkForUpdatesInBackground");
        if (accepted) {
            QVERIFY(settings.alert.shown().empty());
            QCOMPARE(settings.stored(kLastLaunchDate), PlistValue(settings.test.clock.now()));
            int sync = at("Preferences.appSynchronize com.brindlewood.Quaymark");
            QVERIFY(icon >= 0 && icon < sync && sync < updateCheck);
            return;
        }
        QCOMPARE(settings.alert.shown().size(), 1u);
        const AlertText& text = settings.alert.shown().front();
        QCOMPARE(text.messageText, "Please move Quaymark to\n /Applications folder");
        QCOMPARE(text.informativeText,
                 "If you don't have access to /Applications, move it to\n /Users/u1/Applications "
                 "folder.");
        QCOMPARE(text.buttons, std::vector<std::string>{"Quit"});
        QCOMPARE(settings.stored(kLastLaunchDate), earlier);
        QVERIFY(icon < 0 && updateCheck < 0 && !settings.app->window().isVisible());
        // terminate() came first, so the event loop ends at once.
        QTimer::singleShot(2000, &settings.app->window(), [&] { settings.qtRunLoop.stop(99); });
        QCOMPARE(settings.qtRunLoop.run(), 0);
    }

    void closingDuringAnInstallLetsItFinish() {
        Settings settings(Setup{.realWait = true});
        auto* button = settings.control<QPushButton>("installOrUninstallButton");
        QTimer::singleShot(50, button, [button] { QTest::mouseClick(button, Qt::LeftButton); });
        QTimer::singleShot(150, &settings.app->window(), &QWidget::close);
        QTimer::singleShot(300, button, [&] { settings.finderRuns(); });
        QCOMPARE(settings.app->run(), 0);
        // One full slice before the one look that finds Finder: the close cut nothing short.
        QCOMPARE(settings.count("Workspace.runningApplications"), 1u);
        QCOMPARE(settings.count("Workspace.activate com.apple.finder"), 1u);
        QCOMPARE(settings.buttonEntries(), 1);
    }
};

QTEST_MAIN(SettingsWindowTest)
#include "SettingsWindowTest.moc"
