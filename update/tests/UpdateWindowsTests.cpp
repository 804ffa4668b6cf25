#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTranslator>
#include <algorithm>
#include <set>

#include "QtUpdateUserInterface.h"
#include "ReleaseNotesBrowser.h"

namespace quaymark {
namespace {

// In the order of UpdateChoice.
QString nameOf(UpdateChoice choice) {
    return QStringList{"install", "learn more", "remind later", "skip"}.at(int(choice));
}

UpdateOffer offerOf(const std::string& version, const std::string& history = {}) {
    UpdateOffer offer;
    offer.item.version = version;
    offer.item.displayVersion = version;
    offer.item.fullReleaseNotesURL = history;
    offer.currentVersion = "1.0";
    offer.releaseNotesHtml = "<p>Notes of " + version + "</p>";
    return offer;
}

// The windows with an opener that records what it is handed and the choices as names.
struct Windows {
    void offer(const UpdateOffer& offer) {
        ui.showUpdateAvailable(offer, [this](UpdateChoice choice) { chosen << nameOf(choice); });
    }

    QStringList opened;
    bool openerAnswers = true;
    QStringList chosen;
    QtUpdateUserInterface ui{[this](const QUrl& url) {
        opened << url.toString();
        return openerAnswers;
    }};
};

QList<QWidget*> shownWindows(const QString& name) {
    QList<QWidget*> shown;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == name && widget->isVisible())
            shown << widget;
    }
    return shown;
}

QWidget* shownWindow(const QString& name) {
    const QList<QWidget*> shown = shownWindows(name);
    return shown.size() == 1 ? shown.first() : nullptr;
}

template <typename T = QPushButton>
T* control(QWidget* window, const char* name) {
    return window == nullptr ? nullptr : window->findChild<T*>(name);
}

QString textOf(QWidget* window) {
    return control<QLabel>(window, "messageLabel")->text();
}

// Presses the key where the keyboard focus is, as a person would, after giving the focus to
// the control named `focus` (or leaving it where the window puts it).
bool pressKey(QWidget* window, Qt::Key key, const char* focus = nullptr) {
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        return false;
    if (focus != nullptr)
        control<QWidget>(window, focus)->setFocus();
    QWidget* target = QApplication::focusWidget();
    QTest::keyClick(target != nullptr && target->window() == window ? target : window, key);
    return true;
}

// Answers a window as a person would: "click" on its `button`, "escape", or "close" with the
// title bar's button.
bool answer(QWidget* window, const QString& how, const char* button) {
    if (how == "escape")
        return pressKey(window, Qt::Key_Escape);
    if (how == "click")
        QTest::mouseClick(control(window, button), Qt::LeftButton);
    else
        window->close();
    return true;
}

// Marks every text it translates and notes the contexts it was asked for.
class MarkingTranslator : public QTranslator {
public:
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char*, int) const override {
        contexts.insert(context);
        return "[" + QString::fromUtf8(source) + "]";
    }
    mutable std::set<std::string> contexts;
};

}  // namespace

class UpdateWindowsTests : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        // Every window the updater closed is gone once the loop has run; none is left behind.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void offersShowTheButtonsTheirKindAllows_data() {
        QTest::addColumn<bool>("informational");
        QTest::addColumn<bool>("critical");
        QTest::addColumn<QString>("history");
        QTest::addColumn<QString>("buttons");  // "default: every shown button"
        QTest::addColumn<QString>("question");
        const QString download = "Would you like to download it now?";
        const QString read = "Would you like to read about it on the web?";
        const QString critical = "It is a critical update and cannot be skipped. ";
        const auto row = [](const char* name, bool informational, bool isCritical, QString history,
                            QString buttons, QString question) {
            QTest::newRow(name) << informational << isCritical << history << buttons << question;
        };
        row("update", false, false, "", "install: install remindLater skip", download);
        row("critical", false, true, "", "install: install remindLater", critical + download);
        row("informational", true, false, "", "learnMore: learnMore remindLater skip", read);
        row("critical informational", true, true, "", "learnMore: learnMore remindLater",
            critical + read);
        row("with history", false, false, "https://127.0.0.1/history",
            "install: install remindLater skip versionHistory", download);
        row("history that is a file", false, false, "file:///usr/bin/xterm",
            "install: install remindLater skip", download);
    }
    void offersShowTheButtonsTheirKindAllows() {
        QFETCH(bool, informational);
        QFETCH(bool, critical);
        QFETCH(QString, history);
        QFETCH(QString, buttons);
        QFETCH(QString, question);
        Windows windows;
        UpdateOffer offer = offerOf("2.0 (Final)", history.toStdString());
        offer.informational = informational;
        offer.critical = critical;
        windows.offer(offer);
        QWidget* window = shownWindow("updateAvailableWindow");
        QVERIFY(window != nullptr);
        QCOMPARE(window->windowTitle(), QString("Software Update"));
        QCOMPARE(control<QLabel>(window, "versionLabel")->text(),
                 "Quaymark 2.0 (Final) is now available; you have 1.0. " + question);
        QStringList shown, defaults;
        for (QPushButton* button : window->findChildren<QPushButton*>()) {
            if (button->isVisible())
                shown << button->objectName().remove("Button");
            if (button->isVisible() && button->isDefault())
                defaults << button->objectName().remove("Button");
        }
        shown.sort();
        QCOMPARE(defaults.join(' ') + ": " + shown.join(' '), buttons);
    }

    void returnPressesTheDefaultButtonWhereverTheFocusIs_data() {
        QTest::addColumn<bool>("informational");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QString>("choice");
        for (const char* focus : {"", "releaseNotesBrowser", "skipButton", "remindLaterButton"}) {
            const char* where = *focus != '\0' ? focus : "the window's choice";
            QTest::addRow("update, focus on %s", where) << false << focus << "install";
            QTest::addRow("informational, focus on %s", where) << true << focus << "learn more";
        }
    }
    void returnPressesTheDefaultButtonWhereverTheFocusIs() {
        QFETCH(bool, informational);
        QFETCH(QString, focus);
        Windows windows;
        UpdateOffer offer = offerOf("2.0");
        offer.informational = informational;
        windows.offer(offer);
        QPointer<QWidget> window = shownWindow("updateAvailableWindow");
        QVERIFY(pressKey(window, Qt::Key_Return,
                         focus.isEmpty() ? nullptr : focus.toLatin1().constData()));
        QFETCH(QString, choice);
        QCOMPARE(windows.chosen, QStringList{choice});
        QTRY_VERIFY(window.isNull());
        QVERIFY(windows.opened.isEmpty());
    }

    void escapeOrClosingTheWindowRemindsLaterOnce_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("Escape") << "escape";
        QTest::newRow("the title bar's close button") << "close";
        QTest::newRow("Remind Me Later") << "click";
    }
    void escapeOrClosingTheWindowRemindsLaterOnce() {
        QFETCH(QString, how);
        Windows windows;
        UpdateOffer offer = offerOf("2.0");
        offer.critical = true;
        windows.offer(offer);
        QPointer<QWidget> window = shownWindow("updateAvailableWindow");
        QVERIFY(answer(window, how, "remindLaterButton"));
        QCOMPARE(windows.chosen, QStringList{"remind later"});
        QVERIFY(!window->isVisible());
        // Whatever reaches the window before it is deleted chooses nothing more.
        QTest::keyClick(window, Qt::Key_Escape);
        control(window, "installButton")->click();
        window->close();
        QCOMPARE(windows.chosen, QStringList{"remind later"});
        QTRY_VERIFY(window.isNull());
    }

    void versionHistoryOpensItsPageAndLeavesTheChoiceOpen() {
        Windows windows;
        windows.offer(offerOf("2.0", "https://127.0.0.1/history"));
        QWidget* window = shownWindow("updateAvailableWindow");
        QTest::mouseClick(control(window, "versionHistoryButton"), Qt::LeftButton);
        windows.openerAnswers = false;
        QTest::mouseClick(control(window, "versionHistoryButton"), Qt::LeftButton);
        QCOMPARE(windows.opened,
                 QStringList({"https://127.0.0.1/history", "https://127.0.0.1/history"}));
        QVERIFY(windows.chosen.isEmpty());
        QCOMPARE(shownWindow("updateAvailableWindow"), window);
        QTest::mouseClick(control(window, "skipButton"), Qt::LeftButton);
        QCOMPARE(windows.chosen, QStringList{"skip"});
        QCOMPARE(windows.opened.size(), 2);
    }

    void aSecondOfferReplacesTheFirstAndAChoiceMayShowTheNext() {
        Windows windows;
        QStringList first;
        windows.ui.showUpdateAvailable(offerOf("2.0", "https://127.0.0.1/history"),
                                       [&](UpdateChoice choice) { first << nameOf(choice); });
        QPointer<QWidget> window = shownWindow("updateAvailableWindow");
        windows.ui.showUpdateAvailable(offerOf("2.1"), [&](UpdateChoice choice) {
            windows.chosen << nameOf(choice);
            windows.offer(offerOf("2.2"));
        });
        QCOMPARE(shownWindow("updateAvailableWindow"), window.data());
        QVERIFY(control<QLabel>(window, "versionLabel")->text().contains("2.1 is now available"));
        QVERIFY(!control(window, "versionHistoryButton")->isVisible());
        QTest::mouseClick(control(window, "installButton"), Qt::LeftButton);
        QCOMPARE(windows.chosen, QStringList{"install"});
        QVERIFY(first.isEmpty());
        // The answered window goes; the offer its choice made stays.
        QTRY_VERIFY(window.isNull());
        QWidget* next = shownWindow("updateAvailableWindow");
        QVERIFY(next != nullptr);
        QVERIFY(control<QLabel>(next, "versionLabel")->text().contains("2.2 is now available"));
    }

    void progressWindowsCancelOnceInEveryStep_data() {
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("how");
        // Step -1 is the check for updates.
        const std::pair<int, const char*> steps[] = {
            {-1, "Checking for updates…"},
            {int(InstallStep::Downloading), "Downloading update…"},
            {int(InstallStep::Verifying), "Verifying update…"},
            {int(InstallStep::Extracting), "Extracting update…"},
            {int(InstallStep::Installing), "Installing update…"}};
        for (const auto& [step, text] : steps) {
            for (const char* how : {"click", "escape", "close"})
                QTest::addRow("%s, %s", text, how) << step << text << how;
        }
    }
    void progressWindowsCancelOnceInEveryStep() {
        QFETCH(int, step);
        QFETCH(QString, text);
        QFETCH(QString, how);
        Windows windows;
        int cancelled = 0;
        if (step < 0) {
            windows.ui.showCheckingProgress([&] { ++cancelled; });
        } else {
            windows.ui.showInstallProgress([&] { ++cancelled; });
            windows.ui.setInstallStep(static_cast<InstallStep>(step));
        }
        QPointer<QWidget> window = shownWindow(step < 0 ? "checkingWindow" : "installWindow");
        QCOMPARE(window->windowTitle(), QString("Software Update"));
        QCOMPARE(textOf(window), text);
        for (int press = 0; press < 2; ++press)
            QVERIFY(answer(window, how, "cancelButton"));
        QCOMPARE(cancelled, 1);
        // The work closes the window once it has stopped; until then the window says so.
        QVERIFY(window->isVisible());
        QCOMPARE(textOf(window), QString("Cancelling…"));
        QVERIFY(!control(window, "cancelButton")->isEnabled());
        windows.ui.setInstallProgress(1024, 2048);
        QCOMPARE(textOf(window), QString("Cancelling…"));
        if (step < 0)
            windows.ui.closeCheckingProgress();
        else
            windows.ui.closeInstallProgress();
        QTRY_VERIFY(window.isNull());
        QCOMPARE(cancelled, 1);
    }

    void theInstallWindowShowsBytesOnlyWhileDownloadingAndCancelAfterEachNewStep() {
        Windows windows;
        int cancelled = 0;
        windows.ui.showInstallProgress([&] { ++cancelled; });
        QWidget* window = shownWindow("installWindow");
        auto* bar = control<QProgressBar>(window, "progressBar");
        windows.ui.setInstallProgress(1536 * 1024, 3 * 1024 * 1024);
        QCOMPARE(textOf(window), QString("Downloading update… 1.5 of 3.0 MB"));
        QCOMPARE(bar->maximum(), 3072);
        QCOMPARE(bar->value(), 1536);
        windows.ui.setInstallProgress(5 * 1024 * 1024 + 1, 0);
        QCOMPARE(textOf(window), QString("Downloading update… 5.0 MB"));
        windows.ui.setInstallStep(InstallStep::Verifying);
        windows.ui.setInstallProgress(3 * 1024 * 1024, 3 * 1024 * 1024);
        QCOMPARE(textOf(window), QString("Verifying update…"));
        QCOMPARE(bar->maximum(), 0);
        // The same step again keeps the cancel; the next one offers Cancel anew.
        QTest::mouseClick(control(window, "cancelButton"), Qt::LeftButton);
        windows.ui.setInstallStep(InstallStep::Verifying);
        QCOMPARE(textOf(window), QString("Cancelling…"));
        windows.ui.setInstallStep(InstallStep::Installing);
        QCOMPARE(textOf(window), QString("Installing update…"));
        QTest::mouseClick(control(window, "cancelButton"), Qt::LeftButton);
        QCOMPARE(cancelled, 2);
    }

    void aNewInstallationWindowCancelsOnlyItsOwnInstallation() {
        Windows windows;
        int first = 0;
        int second = 0;
        windows.ui.showInstallProgress([&] { ++first; });
        QPointer<QWidget> replaced = shownWindow("installWindow");
        // As the installer does, the cancel closes the window at once.
        windows.ui.showInstallProgress([&] {
            ++second;
            windows.ui.closeInstallProgress();
        });
        QTRY_VERIFY(replaced.isNull());
        windows.ui.setInstallStep(InstallStep::Extracting);
        QPointer<QWidget> window = shownWindow("installWindow");
        window->close();
        QCOMPARE(first, 0);
        QCOMPARE(second, 1);
        QTRY_VERIFY(window.isNull());
        windows.ui.setInstallStep(InstallStep::Installing);
        QVERIFY(shownWindows("installWindow").isEmpty());
    }

    void releaseNotesReachNothingBeyondThemselves() {
        Windows windows;
        UpdateOffer offer = offerOf("2.0");
        offer.releaseNotesHtml =
            "<p>Fixed <b>all</b></p><script>alert('x')</script><img "
            "src='http://127.0.0.1:1/i.png'>";
        windows.offer(offer);
        auto* notes = control<ReleaseNotesBrowser>(shownWindow("updateAvailableWindow"),
                                                   "releaseNotesBrowser");
        // The image stays an empty placeholder: nothing was fetched for it.
        QCOMPARE(notes->toPlainText().remove(QChar(0xFFFC)).trimmed(), QString("Fixed all"));
        QVERIFY(
            notes->loadResource(QTextDocument::ImageResource, QUrl("file:///etc/passwd")).isNull());
        QCOMPARE(
            notes->loadResource(QTextDocument::ImageResource, QUrl("data:text/plain;base64,aGk="))
                .toByteArray(),
            QByteArray("hi"));
        QVERIFY(!notes->openLinks() && !notes->openExternalLinks());
    }

    void messagesCloseWithReturnOrEscapeAndReplaceEachOther_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("key");
        for (const char* kind : {"upToDateWindow", "updateErrorWindow"}) {
            QTest::addRow("%s, Return", kind) << kind << int(Qt::Key_Return);
            QTest::addRow("%s, Escape", kind) << kind << int(Qt::Key_Escape);
        }
    }
    void messagesCloseWithReturnOrEscapeAndReplaceEachOther() {
        QFETCH(QString, kind);
        QFETCH(int, key);
        Windows windows;
        windows.ui.showError("The first message.");
        windows.ui.showUpToDate("1.0");
        if (kind == "updateErrorWindow")
            windows.ui.showError("The update could not be read. Try again later.");
        QTRY_COMPARE(
            int(shownWindows("upToDateWindow").size() + shownWindows("updateErrorWindow").size()),
            1);
        QPointer<QWidget> window = shownWindow(kind);
        QCOMPARE(window->windowTitle(),
                 QString(kind == "upToDateWindow" ? "You're up to date!" : "Update Error!"));
        QCOMPARE(textOf(window), QString(kind == "upToDateWindow"
                                             ? "You're up to date! Quaymark 1.0 is currently the "
                                               "newest version available."
                                             : "The update could not be read. Try again later."));
        QVERIFY(pressKey(window, static_cast<Qt::Key>(key)));
        QTRY_VERIFY(window.isNull());
    }

    // Through a translator that marks what it translates: every title, label and button of
    // every window in each state comes from Quaymark's own contexts, every control has a name a
    // screen reader can say, and no window blocks the rest of the application.
    void everyWindowIsTranslatedNamedAndNotModal() {
        MarkingTranslator translator;
        QVERIFY(QCoreApplication::installTranslator(&translator));
        Windows windows;
        // Every window in every state it can show, one of each at a time.
        UpdateOffer informational = offerOf("2.0", "https://127.0.0.1/history");
        informational.informational = true;
        windows.offer(informational);
        windows.ui.showCheckingProgress([] {});
        windows.ui.showUpToDate("1.0");
        windows.ui.showInstallProgress([] {});
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QStringList texts;
        QStringList unnamed;
        int windowCount = 0;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (!window->isVisible())
                continue;
            ++windowCount;
            QCOMPARE(window->windowModality(), Qt::NonModal);
            texts << window->windowTitle();
            for (QWidget* widget : window->findChildren<QWidget*>()) {
                auto* label = qobject_cast<QLabel*>(widget);
                auto* button = qobject_cast<QAbstractButton*>(widget);
                if (!widget->isVisible() ||
                    (label == nullptr && button == nullptr && !qobject_cast<QTextEdit*>(widget) &&
                     !qobject_cast<QProgressBar*>(widget)))
                    continue;
                texts << (label != nullptr    ? label->text()
                          : button != nullptr ? button->text()
                                              : "[]");
                QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
                if (accessible == nullptr || accessible->text(QAccessible::Name).isEmpty())
                    unnamed << window->objectName() + "/" + widget->objectName();
            }
        }
        QCOMPARE(windowCount, 4);
        QCOMPARE(unnamed, QStringList());
        for (InstallStep step : {InstallStep::Verifying, InstallStep::Extracting,
                                 InstallStep::Installing, InstallStep::Downloading}) {
            windows.ui.setInstallStep(step);
            texts << textOf(shownWindow("installWindow"));
        }
        windows.ui.setInstallProgress(1, 2);
        texts << textOf(shownWindow("installWindow"));
        windows.offer(offerOf("2.0", "https://127.0.0.1/history"));
        texts << control(shownWindow("updateAvailableWindow"), "installButton")->text();
        // The error's own text is the updater's, told in the window as it is given.
        windows.ui.showError("The feed could not be read.");
        texts << shownWindow("updateErrorWindow")->windowTitle();
        QCoreApplication::removeTranslator(&translator);
        for (const QString& text : texts)
            QVERIFY2(text.startsWith('[') && text.endsWith(']'), qPrintable(text));
        QVERIFY(texts.size() > 20);
        QVERIFY(!translator.contexts.contains("QObject"));
    }
};

}  // namespace quaymark

QTEST_MAIN(quaymark::UpdateWindowsTests)
#include "UpdateWindowsTests.moc"
