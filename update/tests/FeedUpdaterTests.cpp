#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <map>
#include <numeric>

#include "FeedServer.h"
#include "FeedUpdater.h"
#include "QtUpdateUserInterface.h"
#include "ReleaseNotesBrowser.h"
#include "SharedUpdater.h"
#include "TestPlatform.h"
#include "UserDefaults.h"

namespace quaymark {
namespace {

// Records what would be shown as short lines ("progress", "offer 2.0", "error", ...).
class RecordingUserInterface : public UpdateUserInterface {
public:
    void showCheckingProgress(std::function<void()> cancelCheck) override {
        shown.append("progress");
        cancel = std::move(cancelCheck);
    }
    void closeCheckingProgress() override { shown.append("close"); }
    void showUpdateAvailable(const UpdateOffer& offer,
                             std::function<void(UpdateChoice)> chooseOne) override {
        shown.append("offer " + QString::fromStdString(offer.item.displayVersion));
        notes = QString::fromStdString(offer.releaseNotesHtml);
        choose = std::move(chooseOne);
    }
    void showUpToDate(const std::string& version) override {
        shown.append("uptodate " + QString::fromStdString(version));
    }
    void showError(const std::string&) override { shown.append("error"); }
    bool openUrl(const std::string& url) override {
        shown.append("open " + QString::fromStdString(url));
        return true;
    }

    QStringList shown;
    QString notes;
    std::function<void()> cancel;
    std::function<void(UpdateChoice)> choose;
};

class RecordingDelegate : public SUUpdaterDelegate {
public:
    void updaterDidFindValidUpdate(SUUpdater&, const SUAppcastItem& update) override {
        verdict("found " + QString::fromStdString(update.version));
    }
    void updaterDidNotFindUpdate(SUUpdater&) override { verdict("none"); }
    void updaterDidFinishLoadingAppcast(SUUpdater&, const SUAppcast&) override {}

    void verdict(const QString& text) {
        verdicts.append(text);
        onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
    }
    QStringList verdicts;
    bool onMainThread = true;
};

QByteArray feedWith(const QByteArray& items) {
    return "<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>" +
           items + "</channel></rss>";
}

QByteArray item(const QByteArray& version, const QByteArray& extra = {}) {
    return "<item><description>Notes of " + version + "</description>" + extra +
           "<enclosure url=\"http://127.0.0.1/q-" + version + ".zip\" sparkle:version=\"" +
           version + "\"/></item>";
}

ScriptedResponse body(QByteArray text) {
    ScriptedResponse response;
    response.body = std::move(text);
    return response;
}

// A fresh server, platform and updater per test; the running version is 1.0 on 10.12.
struct Rig {
    Rig() {
        server.listen();
        bundle.info = {{"CFBundleVersion", "1.0"},
                       {"SUFeedURL", server.url("/newer.xml").toString().toStdString()}};
        test.fileManager.addFile("/System/Library/CoreServices/SystemVersion.plist",
                                 PlistValue(PlistDictionary{{"ProductVersion", "10.12"}}));
        server.script("/newer.xml", body(feedWith(item("0.9") + item("2.0") + item("1.5"))));
        server.script("/same.xml", body(feedWith(item("1.0.0"))));
        server.script("/older.xml", body(feedWith(item("0.9"))));
        server.script("/minimum.xml", body(feedWith(item("3.0",
                                                         "<sparkle:minimumSystemVersion>10.15"
                                                         "</sparkle:minimumSystemVersion>") +
                                                    item("1.5"))));
        server.script("/malformed.xml", body("<rss><channel><item>"));
        server.script("/linked.xml",
                      body(feedWith("<item><sparkle:releaseNotesLink>" + QByteArray("notes.html") +
                                    "</sparkle:releaseNotesLink><enclosure "
                                    "url=\"u\" sparkle:version=\"2.0\"/></item>")));
        server.script("/notes.html", body("<h1>Fetched notes</h1>"));
        server.script(
            "/local.xml",
            body(feedWith("<item><sparkle:releaseNotesLink>file:///etc/hostname</sparkle:"
                          "releaseNotesLink><enclosure sparkle:version=\"2.0\"/></item>")));
        ScriptedResponse redirect;
        redirect.status = 302;
        redirect.location = "/newer.xml";
        server.script("/redirect", redirect);
        redirect.location = "/loop";
        server.script("/loop", redirect);
        ScriptedResponse slow = body(feedWith(item("2.0")));
        slow.delay = std::chrono::milliseconds(2000);
        server.script("/slow", slow);
        ScriptedResponse trickled = body(feedWith(item("2.0")));
        trickled.trickleInterval = std::chrono::milliseconds(40);
        server.script("/trickle", trickled);
        ScriptedResponse silent;
        silent.neverAnswer = true;
        server.script("/silent", silent);
        ScriptedResponse huge;
        huge.generatedBodySize = 11 * 1024 * 1024;
        server.script("/huge", huge);
        huge.declareLength = false;
        server.script("/huge-undeclared", huge);
        updater.setDelegate(&delegate);
    }

    Platform platform() {
        Platform p = test.platform();
        return Platform{p.preferences, p.workspace,   p.fileManager, bundle,
                        p.tasks,       p.scripting,   p.appleScript, p.clock,
                        p.runLoop,     p.application, p.log};
    }
    void useFeed(const QString& path) {
        bundle.info["SUFeedURL"] = server.url(path).toString().toStdString();
    }
    std::optional<std::string> skippedVersion() {
        return UserDefaults(test.preferences, "com.brindlewood.Quaymark")
            .stringForKey("SUSkippedVersion");
    }
    void skip(const std::string& version) {
        UserDefaults defaults(test.preferences, "com.brindlewood.Quaymark");
        defaults.setObject("SUSkippedVersion", PlistValue(version));
        defaults.synchronize();
    }
    QString log() const {
        return QString::fromStdString(
            std::accumulate(test.log.lines().begin(), test.log.lines().end(), std::string()));
    }

    TestPlatform test;
    FakeBundle bundle{test.calls};
    FeedServer server;
    QNetworkAccessManager network;
    RecordingUserInterface ui;
    RecordingDelegate delegate;
    FeedUpdater updater{platform(), network, ui,
                        FeedUpdaterOptions{{std::chrono::milliseconds(250),
                                            std::chrono::milliseconds(600), 10 * 1024 * 1024, 4},
                                           "x86_64"}};
};

void request(FeedUpdater& updater, const QString& kind) {
    if (kind == "user")
        updater.checkForUpdates();
    else if (kind == "background")
        updater.checkForUpdatesInBackground();
    else
        updater.checkForUpdateInformation();
}

}  // namespace

class FeedUpdaterTests : public QObject {
    Q_OBJECT
private slots:
    void checksEndInOneVerdictAndTheRightWindows_data() {
        QTest::addColumn<QString>("feed");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("skipped");
        QTest::addColumn<QString>("verdicts");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("logged");
        const auto row = [](const char* name, QString feed, QString kind, QString skipped,
                            QString verdicts, QString shown, QString logged = {}) {
            QTest::newRow(name) << feed << kind << skipped << verdicts << shown << logged;
        };
        row("newer, background", "/newer.xml", "background", "", "found 2.0", "offer 2.0");
        row("newer, user", "/newer.xml", "user", "", "found 2.0", "progress|close|offer 2.0");
        row("newer, information", "/newer.xml", "info", "", "found 2.0", "");
        row("same, user", "/same.xml", "user", "", "none", "progress|close|uptodate 1.0");
        row("older, background", "/older.xml", "background", "", "none", "");
        row("skipped, background", "/newer.xml", "background", "2.0", "none", "");
        row("skipped, information", "/newer.xml", "info", "2.0", "none", "");
        row("skipped, user", "/newer.xml", "user", "2.0", "found 2.0", "progress|close|offer 2.0");
        row("older skipped, background", "/newer.xml", "background", "1.9", "found 2.0",
            "offer 2.0");
        row("minimum system", "/minimum.xml", "background", "", "found 1.5", "offer 1.5");
        row("notes by link", "/linked.xml", "background", "", "found 2.0", "offer 2.0");
        row("redirect", "/redirect", "info", "", "found 2.0", "");
        row("malformed", "/malformed.xml", "user", "", "", "progress|close|error", "well-formed");
        row("missing", "/missing.xml", "user", "", "", "progress|close|error", "404");
        row("redirect loop", "/loop", "user", "", "", "progress|close|error", "redirects");
        row("slow", "/slow", "info", "", "", "", "no data arrived");
        row("never answering", "/silent", "background", "", "", "", "no data arrived");
        row("trickling", "/trickle", "info", "", "", "", "took longer");
        row("huge", "/huge", "info", "", "", "", "larger than 10 MB");
        row("huge undeclared", "/huge-undeclared", "info", "", "", "", "larger than 10 MB");
        row("no feed address", "", "user", "", "", "progress|close|error", "names no update feed");
        row("local notes", "/local.xml", "background", "", "found 2.0", "offer 2.0");
        row("not http", "ftp://127.0.0.1/feed.xml", "user", "", "", "progress|close|error",
            "not an http");
    }
    void checksEndInOneVerdictAndTheRightWindows() {
        QFETCH(QString, feed);
        QFETCH(QString, kind);
        QFETCH(QString, skipped);
        Rig rig;
        if (feed.isEmpty())
            rig.bundle.info.erase("SUFeedURL");
        else if (feed.startsWith('/'))
            rig.useFeed(feed);
        else
            rig.bundle.info["SUFeedURL"] = feed.toStdString();
        if (!skipped.isEmpty())
            rig.skip(skipped.toStdString());
        request(rig.updater, kind);
        QVERIFY(rig.delegate.verdicts.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!rig.updater.isChecking(), 5000);
        // Anything late, such as a second verdict, would arrive within this pause.
        QTest::qWait(50);
        QFETCH(QString, verdicts);
        QFETCH(QString, shown);
        QCOMPARE(rig.delegate.verdicts.join('|'), verdicts);
        QVERIFY(rig.delegate.onMainThread);
        QCOMPARE(rig.ui.shown.join('|'), shown);
        QFETCH(QString, logged);
        QVERIFY2(logged.isEmpty() ? rig.log().isEmpty() : rig.log().contains(logged),
                 qPrintable(rig.log()));
        if (feed == "/linked.xml")
            QVERIFY(rig.ui.notes.contains("Fetched notes"));
        if (feed == "/local.xml")
            QVERIFY(rig.ui.notes.startsWith(
                "<p>The release notes could not be loaded: they name a file on this computer"));
    }

    void requestsDuringACheckJoinItAndKeepTheirOwnVerdicts() {
        Rig rig;
        rig.skip("2.0");
        rig.updater.checkForUpdateInformation();
        rig.updater.checkForUpdates();
        rig.updater.checkForUpdatesInBackground();
        QTRY_VERIFY(!rig.updater.isChecking());
        QTest::qWait(50);
        QCOMPARE(rig.server.requestCount("/newer.xml"), 1);
        QCOMPARE(rig.delegate.verdicts, QStringList({"none", "found 2.0", "none"}));
        QCOMPARE(rig.ui.shown, QStringList({"progress", "close", "offer 2.0"}));
    }

    void cancelEndsTheCheckWithoutVerdictOrWindow() {
        Rig rig;
        rig.useFeed("/silent");
        rig.updater.checkForUpdates();
        rig.updater.checkForUpdateInformation();
        QTRY_COMPARE(rig.server.requestCount("/silent"), 1);
        rig.ui.cancel();
        QVERIFY(!rig.updater.isChecking());
        QTest::qWait(400);
        QCOMPARE(rig.ui.shown, QStringList({"progress", "close"}));
        QVERIFY(rig.delegate.verdicts.isEmpty());
    }

    void choicesInstallOrRememberTheSkippedVersion() {
        Rig rig;
        rig.updater.checkForUpdatesInBackground();
        QTRY_VERIFY(rig.ui.choose != nullptr);
        rig.ui.choose(UpdateChoice::RemindLater);
        QCOMPARE(rig.skippedVersion(), std::nullopt);
        rig.ui.choose(UpdateChoice::Install);
        QCOMPARE(rig.ui.shown.last(), QString("open http://127.0.0.1/q-2.0.zip"));
        rig.ui.choose(UpdateChoice::Skip);
        QCOMPARE(rig.skippedVersion(), std::optional<std::string>("2.0"));
        rig.updater.checkForUpdatesInBackground();
        QTRY_VERIFY(!rig.updater.isChecking());
        QCOMPARE(rig.delegate.verdicts, QStringList({"found 2.0", "none"}));
    }

    void windowsShowTheOfferAndReportTheButtons() {
        QtUpdateUserInterface ui;
        SUAppcastItem offered;
        offered.displayVersion = "2.0 (Final)";
        std::vector<UpdateChoice> choices;
        ui.showUpdateAvailable({offered, "1.0",
                                "<p>Fixed <b>all</b></p><script>alert('x')</script><img "
                                "src='http://127.0.0.1:1/i.png'>"},
                               [&](UpdateChoice choice) { choices.push_back(choice); });
        QWidget* window = topLevel("updateAvailableWindow");
        QVERIFY(window != nullptr);
        QCOMPARE(window->findChild<QLabel*>("headlineLabel")->text(),
                 QString("A new version of Quaymark is available!"));
        QVERIFY(window->findChild<QLabel*>("versionLabel")
                    ->text()
                    .contains("2.0 (Final) is now available; you have 1.0"));
        auto* notes = window->findChild<ReleaseNotesBrowser*>("releaseNotesBrowser");
        // The image stays an empty placeholder: nothing was fetched for it.
        QCOMPARE(notes->toPlainText().remove(QChar(0xFFFC)).trimmed(), QString("Fixed all"));
        QVERIFY(
            notes->loadResource(QTextDocument::ImageResource, QUrl("file:///etc/passwd")).isNull());
        QCOMPARE(
            notes->loadResource(QTextDocument::ImageResource, QUrl("data:text/plain;base64,aGk="))
                .toByteArray(),
            QByteArray("hi"));
        QVERIFY(!notes->openLinks() && !notes->openExternalLinks());
        QTest::mouseClick(window->findChild<QPushButton*>("skipButton"), Qt::LeftButton);
        QCOMPARE(choices, std::vector<UpdateChoice>{UpdateChoice::Skip});
        QTRY_VERIFY(!QApplication::topLevelWidgets().contains(window));

        bool cancelled = false;
        ui.showCheckingProgress([&] { cancelled = true; });
        QWidget* progress = topLevel("checkingWindow");
        QCOMPARE(progress->findChild<QLabel*>("messageLabel")->text(),
                 QString("Checking for updates…"));
        QTest::mouseClick(progress->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
        QVERIFY(cancelled);

        ui.showUpToDate("1.0");
        QVERIFY(topLevel("upToDateWindow")
                    ->findChild<QLabel*>("messageLabel")
                    ->text()
                    .startsWith("You're up to date! Quaymark 1.0 is"));
        ui.showError("The update feed could not be loaded: the server answered 404 Not Found.");
        QWidget* error = topLevel("updateErrorWindow");
        QCOMPARE(
            error->findChild<QLabel*>("messageLabel")->text(),
            QString("The update feed could not be loaded: the server answered 404 Not Found."));
        QTRY_VERIFY(topLevel("upToDateWindow") == nullptr);
    }

    void sharedUpdaterIsOneObjectAndOpensTheDesktopBrowser() {
        Rig rig;
        SUUpdater& first = sharedUpdater(rig.platform());
        TestPlatform other;
        QCOMPARE(&sharedUpdater(other.platform()), &first);

        QDesktopServices::setUrlHandler("http", this, "urlOpened");
        QVERIFY(QtUpdateUserInterface().openUrl("http://127.0.0.1/q-2.0.zip"));
        QDesktopServices::unsetUrlHandler("http");
        QCOMPARE(_opened, QUrl("http://127.0.0.1/q-2.0.zip"));
    }

public slots:
    void urlOpened(const QUrl& url) { _opened = url; }

private:
    QUrl _opened;

    static QWidget* topLevel(const QString& name) {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == name && widget->isVisible())
                return widget;
        }
        return nullptr;
    }
};

}  // namespace quaymark

QTEST_MAIN(quaymark::FeedUpdaterTests)
#include "FeedUpdaterTests.moc"
