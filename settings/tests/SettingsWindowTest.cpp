// The settings window driven through its controls, over the test doubles.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "QtApplication.h"
#include "QuaymarkPreferences.h"
#include "RecordingAlert.h"
#include "RecordingUpdater.h"
#include "SettingsApplication.h"
#include "TestPlatform.h"

using namespace quaymark;
using namespace quaymark::preference_key;
using namespace quaymark::settings_text;

namespace {

const char* kTerminalApp = "com.apple.Terminal";

struct Setup {
    std::string bundlePath = "/Applications/Quaymark.app";
    std::string home = "/Users/u1";
    bool defaultsFile = true;
    std::vector<std::string> terminals = {kTerminalApp};
    PlistDictionary stored;
    // The installer waits for Finder in Qt's event loop, in real time, instead of slices
    // that return at once.
};

// One settings application over a fresh test platform, its window loaded and filled.
struct Settings {
    explicit Settings(const Setup& setup) {
        test.mainBundle.setBundlePath(setup.bundlePath);
        test.fileManager.setHomeDirectory(setup.home);
        test.fileManager.addFolder(setup.bundlePath + "/Contents/MacOS/QuaymarkHelper.app");
        test.fileManager.addFile("/System/Library/CoreServices/SystemVersion.plist",
                                 PlistValue(PlistDictionary{{"ProductVersion", "10.9.5"}}));
        if (setup.defaultsFile) {
            test.mainBundle.addResource("defaults", "plist");
            test.fileManager.addFile(
                setup.bundlePath + "/Contents/Resources/defaults.plist",
                PlistValue(PlistDictionary{{kTerminalCommand, kDefaultCommandTemplate},
                                           {kUseWindow, PlistValue::boolean(true)}}));
        }
        for (const std::string& identifier : setup.terminals) {
            if (identifier.starts_with("/"))
                test.fileManager.addFile(identifier);
            else
                test.workspace.installApplication(identifier, "/Applications/" + identifier);
        }
        for (const auto& [key, value] : setup.stored)
            test.preferences.store(key, value, kPreferencesDomain);
        app = std::make_unique<SettingsApplication>(
            SettingsServices{platform, installer, alert, &updater});
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
    long count(const std::string& entry) {
        return std::count(test.calls.entries().begin(), test.calls.entries().end(), entry);
    }
    int buttonEntries() {
        std::optional<PlistValue> configuration =
            stored("NSToolbar Configuration Browser", "com.apple.finder");
        return configuration && configuration->asDictionary()
                   ? FinderToolBarController::buttonEntryCount(*configuration->asDictionary())
                   : 0;
    }

    TestPlatform test;
    RecordingAlert alert{test.calls};
    RecordingUpdater updater{test.calls};
    QtRunLoop qtRunLoop;
    QtApplication qtApplication{qtRunLoop};
    Platform platform{test.preferences, test.workspace, test.fileManager, test.mainBundle,
                      test.tasks,       test.scripting, test.appleScript, test.clock,
                      test.runLoop,     qtApplication,  test.log};
    FinderToolBarController installer{platform};
    std::unique_ptr<SettingsApplication> app;
};

}  // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT

private slots:
    void returnInstallsOnlyWhileTheButtonOffersTo();
    void terminalListShowsInstalledTerminals_data();
    void terminalListShowsInstalledTerminals();
    void commandFieldStoresEveryEdit();
    void openTypeStoresItsChoice();
    void launchChecksTheLocationFirst_data();
    void launchChecksTheLocationFirst();
    void closingDuringAnInstallLetsItFinish();
};

void SettingsWindowTest::returnInstallsOnlyWhileTheButtonOffersTo() {
    Settings settings({});
    auto* button = settings.control<QPushButton>("installOrUninstallButton");
    auto* field = settings.control<QLineEdit>("commandField");
    settings.app->window().show();
    QVERIFY(QTest::qWaitForWindowActive(&settings.app->window()));
    QCOMPARE(button->text(), kInstallTitle);
    // While the installer waits for Finder, the button is off and a second press is refused.
    bool enabledDuringWait = true;
    settings.test.runLoop.setSliceHook([&](std::size_t slice) {
        enabledDuringWait = button->isEnabled();
        settings.app->delegate().handleInstallOrUninstall();
        if (slice == 1)
            settings.test.workspace.addRunningApplication({4242, "com.apple.finder", "Finder"});
    });
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Return);
    QTRY_COMPARE(button->text(), kUninstallTitle);
    QVERIFY(!enabledDuringWait);
    QVERIFY(button->isEnabled());
    QCOMPARE(settings.buttonEntries(), 1);
    QCOMPARE(settings.count("Tasks.launch /usr/bin/killall"), 1);

    field->setFocus();
    QTest::keyClick(field, Qt::Key_Return);
    QTest::qWait(300);
    QCOMPARE(settings.buttonEntries(), 1);

    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_COMPARE(button->text(), kInstallTitle);
    QCOMPARE(settings.buttonEntries(), 0);
    QCOMPARE(settings.count("Tasks.launch /usr/bin/killall"), 2);
}

void SettingsWindowTest::terminalListShowsInstalledTerminals_data() {
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QVariant>("storedIdentifier");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("identifierAfter");
    QStringList all = {kTerminalApp, "net.sourceforge.iTerm", "com.googlecode.iterm2",
                       "/usr/X11R6/bin/xterm"};
    QStringList allNames = {"Terminal", "iTerm2", "iTerm", "xterm"};
    QTest::newRow("iTerm2 gone") << QStringList{kTerminalApp} << QVariant("com.googlecode.iterm2")
                                 << QStringList{"Terminal"} << "Terminal" << kTerminalApp;
    QTest::newRow("kept") << all << QVariant("net.sourceforge.iTerm") << allNames << "iTerm"
                          << "net.sourceforge.iTerm";
    QTest::newRow("none stored") << all << QVariant() << allNames << "Terminal" << kTerminalApp;
    QTest::newRow("not a string") << all << QVariant(7) << allNames << "Terminal" << kTerminalApp;
}

void SettingsWindowTest::terminalListShowsInstalledTerminals() {
    QFETCH(QStringList, installed);
    QFETCH(QVariant, storedIdentifier);
    Setup setup;
    setup.terminals.clear();
    for (const QString& identifier : installed)
        setup.terminals.push_back(identifier.toStdString());
    if (storedIdentifier.typeId() == QMetaType::Int)
        setup.stored.set(kTerminalIdentifier, PlistValue::integer(storedIdentifier.toInt()));
    else if (storedIdentifier.isValid())
        setup.stored.set(kTerminalIdentifier, storedIdentifier.toString().toStdString());
    Settings settings(setup);

    auto* terminals = settings.control<QComboBox>("terminals");
    QStringList items;
    for (int index = 0; index < terminals->count(); ++index)
        items << terminals->itemText(index);
    QTEST(items, "items");
    QTEST(terminals->currentText(), "selected");
    QFETCH(QString, identifierAfter);
    QCOMPARE(settings.stored(kTerminalIdentifier), PlistValue(identifierAfter.toStdString()));
    // A repair waits for the launch's own synchronisation.
    QVERIFY(!settings.test.preferences.synchronizeCalls().size());

    if (installed.size() < 2)
        return;
    // Picking a terminal stores it at once.
    terminals->setFocus();
    QTest::keyClick(terminals, Qt::Key_End);
    QCOMPARE(settings.stored(kTerminalIdentifier), PlistValue("/usr/X11R6/bin/xterm"));
    QCOMPARE(settings.test.preferences.synchronizeCalls().size(), 1u);
}

void SettingsWindowTest::commandFieldStoresEveryEdit() {
    Settings settings(Setup{.stored = {{kTerminalCommand, "ls"}}});
    auto* field = settings.control<QLineEdit>("commandField");
    auto* restore = settings.control<QPushButton>("restoreCommandButton");
    QCOMPARE(field->text(), "ls");
    QVERIFY(restore->isEnabled());

    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QCOMPARE(settings.stored(kTerminalCommand), PlistValue(""));
    QVERIFY(restore->isEnabled());

    QTest::keyClicks(field, kDefaultCommandTemplate);
    QCOMPARE(settings.stored(kTerminalCommand), PlistValue(kDefaultCommandTemplate));
    QVERIFY(!restore->isEnabled());
    QCOMPARE(settings.test.preferences.synchronizeCalls().size(),
             1 + std::string(kDefaultCommandTemplate).size());

    QTest::keyClick(field, Qt::Key_Space);
    QVERIFY(restore->isEnabled());
    QTest::mouseClick(restore, Qt::LeftButton);
    QCOMPARE(field->text(), kDefaultCommandTemplate);
    QVERIFY(!restore->isEnabled());
    QCOMPARE(settings.stored(kTerminalCommand), PlistValue(kDefaultCommandTemplate));
    QVERIFY(!settings.test.preferences.hasUnsynchronizedChanges(kPreferencesDomain));
}

void SettingsWindowTest::openTypeStoresItsChoice() {
    // Without the defaults file "Use Window" reads NO, and a command of another type as none.
    Settings settings(
        Setup{.defaultsFile = false, .stored = {{kTerminalCommand, PlistValue::integer(3)}}});
    auto* openTypes = settings.control<QComboBox>("openTypes");
    QCOMPARE(openTypes->count(), 2);
    QCOMPARE(openTypes->currentText(), kNewTab);
    QCOMPARE(settings.control<QLineEdit>("commandField")->text(), "");

    openTypes->setFocus();
    QTest::keyClick(openTypes, Qt::Key_Up);
    QCOMPARE(openTypes->currentText(), kNewWindow);
    QCOMPARE(settings.stored(kUseWindow), PlistValue::boolean(true));
    QTest::keyClick(openTypes, Qt::Key_Down);
    QCOMPARE(settings.stored(kUseWindow), PlistValue::boolean(false));
    QVERIFY(!settings.test.preferences.hasUnsynchronizedChanges(kPreferencesDomain));
}

void SettingsWindowTest::launchChecksTheLocationFirst_data() {
    QTest::addColumn<QString>("bundlePath");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("Applications") << "/Applications/Quaymark.app" << true;
    QTest::newRow("Utilities") << "/Applications/Utilities/Quaymark.app" << true;
    QTest::newRow("prefix only") << "/ApplicationsOld/Quaymark.app" << true;
    QTest::newRow("home") << "/Users/u1/Applications/Quaymark.app" << true;
    QTest::newRow("Downloads") << "/Users/u1/Downloads/Quaymark.app" << false;
    QTest::newRow("lower case") << "/applications/Quaymark.app" << false;
}

void SettingsWindowTest::launchChecksTheLocationFirst() {
    QFETCH(QString, bundlePath);
    QFETCH(bool, accepted);
    PlistValue earlier(PlistDate{1000.0});
    Settings settings(
        Setup{.bundlePath = bundlePath.toStdString(), .stored = {{kLastLaunchDate, earlier}}});
    // The user closes the window once it is up; a refused launch never shows it.
    QTimer::singleShot(200, &settings.app->window(), &QWidget::close);
    QCOMPARE(settings.app->run(), 0);

    const std::vector<std::string>& calls = settings.test.calls.entries();
    auto at = [&](const std::string& entry) { return settings.test.calls.indexOf(entry); };
    if (accepted) {
        QVERIFY(settings.alert.shown().empty());
        QCOMPARE(settings.stored(kLastLaunchDate), PlistValue(settings.test.clock.now()));
        int icon = at("Workspace.setIconForFile " + bundlePath.toStdString() +
                      "/Contents/MacOS/QuaymarkHelper.app");
        int sync = at("Preferences.appSynchronize com.brindlewood.Quaymark");
        QVERIFY(icon >= 0 && icon < sync && sync < at("Updater.checkForUpdatesInBackground"));
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
    QVERIFY(std::none_of(calls.begin(), calls.end(), [](const std::string& call) {
        return call.starts_with("Updater.") || call.starts_with("Workspace.setIconForFile");
    }));
    QVERIFY(!settings.app->window().isVisible());
    // terminate() came first, so the event loop ends at once.
    QTimer::singleShot(2000, &settings.app->window(), [&] { settings.qtRunLoop.stop(99); });
    QCOMPARE(settings.qtRunLoop.run(), 0);
}

void SettingsWindowTest::closingDuringAnInstallLetsItFinish() {
    Settings settings({});
    // The installer's wait runs Qt's own loop, one real second a slice.
    Platform platform = settings.platform;
    Platform onQt{platform.preferences, platform.workspace, platform.fileManager,
                  platform.mainBundle,  platform.tasks,     platform.scripting,
                  platform.appleScript, platform.clock,     settings.qtRunLoop,
                  platform.application, platform.log};
    FinderToolBarController installer(onQt);
    auto app = std::make_unique<SettingsApplication>(
        SettingsServices{onQt, installer, settings.alert, &settings.updater});
    auto* button = app->window().findChild<QPushButton*>("installOrUninstallButton");
    QVERIFY(button);
    QTimer::singleShot(50, button, [button] { QTest::mouseClick(button, Qt::LeftButton); });
    QTimer::singleShot(150, &app->window(), &QWidget::close);
    QTimer::singleShot(300, button, [&] {
        settings.test.workspace.addRunningApplication({4242, "com.apple.finder", "Finder"});
    });
    QElapsedTimer elapsed;
    elapsed.start();
    QCOMPARE(app->run(), 0);
    QVERIFY(elapsed.elapsed() >= 1000);
    // One full slice before the one look that finds Finder: the close cut nothing short.
    QCOMPARE(settings.count("Workspace.runningApplications"), 1);
    QCOMPARE(settings.count("Workspace.activate com.apple.finder"), 1);
    QCOMPARE(settings.buttonEntries(), 1);
}

QTEST_MAIN(SettingsWindowTest)
#include "SettingsWindowTest.moc"
