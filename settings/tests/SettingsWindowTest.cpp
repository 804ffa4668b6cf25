// The settings window driven through its controls, over the test doubles.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "QtHost.h"
#include "QuaymarkPreferences.h"
#include "RecordingAlert.h"
#include "RecordingUpdater.h"
#include "SettingsApplication.h"
#include "TestPlatform.h"

Q_DECLARE_METATYPE(quaymark::PlistValue)

using namespace quaymark;
using namespace quaymark::finder_toolbar;
using namespace quaymark::preference_key;
using namespace quaymark::settings_text;

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
};

// One settings application over a fresh test platform, its window loaded and filled; the
// home folder is /Users/u1.
struct Settings {
    explicit Settings(const Setup& setup = {})
        : platform(withEventLoop(test.platform(),
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

}  // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT

private slots:
    void returnInstallsOnlyWhileTheButtonOffersTo() {
        Settings settings;
        auto* button = settings.control<QPushButton>("installOrUninstallButton");
        auto* field = settings.control<QLineEdit>("commandField");
        settings.app->window().show();
        QVERIFY(QTest::qWaitForWindowActive(&settings.app->window()));
        QCOMPARE(button->text(), kInstallTitle);
        // Each label's mnemonic reaches its control.
        for (auto [key, name] : {std::pair{Qt::Key_T, "terminals"},
                                 {Qt::Key_O, "openTypes"},
                                 {Qt::Key_C, "commandField"}}) {
            QTest::keyClick(&settings.app->window(), key, Qt::AltModifier);
            QCOMPARE(QApplication::focusWidget()->objectName(), name);
        }
        // While the installer waits for Finder, the button is off and a second press is refused.
        bool enabledDuringWait = true;
        settings.test.runLoop.setSliceHook([&](std::size_t) {
            enabledDuringWait = button->isEnabled();
            settings.app->delegate().handleInstallOrUninstall();
            settings.finderRuns();
        });
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Return);
        QTRY_COMPARE(button->text(), kUninstallTitle);
        QVERIFY(!enabledDuringWait && button->isEnabled());
        QCOMPARE(settings.buttonEntries(), 1);
        QCOMPARE(settings.count("Tasks.launch /usr/bin/killall"), 1u);

        field->setFocus();
        QTest::keyClick(field, Qt::Key_Return);
        QTest::qWait(300);
        QCOMPARE(settings.buttonEntries(), 1);

        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_COMPARE(button->text(), kInstallTitle);
        QCOMPARE(settings.buttonEntries(), 0);
    }

    void terminalListShowsInstalledTerminals_data() {
        QTest::addColumn<bool>("onlyTerminal");
        QTest::addColumn<PlistValue>("identifier");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<PlistValue>("identifierAfter");
        // An identifier of "" stands for none stored.
        QTest::newRow("iTerm2 gone") << true << PlistValue("com.googlecode.iterm2") << "Terminal"
                                     << PlistValue(kTerminalApp);
        QTest::newRow("installed") << false << PlistValue("net.sourceforge.iTerm") << "iTerm"
                                   << PlistValue("net.sourceforge.iTerm");
        QTest::newRow("none") << false << PlistValue("") << "Terminal" << PlistValue(kTerminalApp);
        QTest::newRow("an integer")
            << false << PlistValue::integer(7) << "Terminal" << PlistValue(kTerminalApp);
    }

    void terminalListShowsInstalledTerminals() {
        QFETCH(bool, onlyTerminal);
        QFETCH(PlistValue, identifier);
        Setup setup{.terminals =
                        onlyTerminal ? std::vector<std::string>{kTerminalApp} : kFourTerminals};
        if (identifier != PlistValue(""))
            setup.stored.set(kTerminalIdentifier, identifier);
        Settings settings(setup);

        auto* terminals = settings.control<QComboBox>("terminals");
        QStringList items;
        for (int index = 0; index < terminals->count(); ++index)
            items << terminals->itemText(index);
        QCOMPARE(items, (onlyTerminal ? QStringList{"Terminal"}
                                      : QStringList{"Terminal", "iTerm2", "iTerm", "xterm"}));
        QTEST(terminals->currentText(), "selected");
        QTEST(settings.stored(kTerminalIdentifier).value(), "identifierAfter");
        // A repair waits for the launch's own synchronisation.
        QCOMPARE(settings.synchronisations(), 0u);

        // Picking a terminal stores it at once.
        terminals->setFocus();
        QTest::keyClick(terminals, Qt::Key_End);
        if (!onlyTerminal) {
            QCOMPARE(settings.stored(kTerminalIdentifier), PlistValue("/usr/X11R6/bin/xterm"));
            QCOMPARE(settings.synchronisations(), 1u);
        }
    }

    void controlsStoreEveryChange() {
        // Without the defaults file "Use Window" reads NO, and a command of another type as the
        // one a click would type.
        Settings settings(
            Setup{.defaultsFile = false, .stored = {{kTerminalCommand, PlistValue::integer(3)}}});
        auto* openTypes = settings.control<QComboBox>("openTypes");
        auto* field = settings.control<QLineEdit>("commandField");
        auto* restore = settings.control<QPushButton>("restoreCommandButton");
        QCOMPARE(openTypes->count(), 2);
        QCOMPARE(openTypes->currentText(), kNewTab);
        QCOMPARE(field->text(), kDefaultCommandTemplate);
        QVERIFY(!restore->isEnabled());

        openTypes->setFocus();
        QTest::keyClick(openTypes, Qt::Key_Up);
        QCOMPARE(openTypes->currentText(), kNewWindow);
        QCOMPARE(settings.stored(kUseWindow), PlistValue::boolean(true));
        QTest::keyClick(openTypes, Qt::Key_Down);
        QCOMPARE(settings.stored(kUseWindow), PlistValue::boolean(false));

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
        QCOMPARE(field->text(), kDefaultCommandTemplate);
        QVERIFY(!restore->isEnabled());
        QCOMPARE(settings.stored(kTerminalCommand), PlistValue(kDefaultCommandTemplate));
        QVERIFY(!settings.test.preferences.hasUnsynchronizedChanges(kPreferencesDomain));
        QTest::mouseClick(settings.control<QPushButton>("checkForUpdatesButton"), Qt::LeftButton);
        QCOMPARE(settings.test.calls.entries().back(), "Updater.checkForUpdates");
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
