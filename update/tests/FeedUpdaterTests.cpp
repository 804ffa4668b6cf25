#include <QApplication>
#include <QDesktopServices>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <map>
#include <numeric>
#include <sstream>

#include "FeedServer.h"
#include "FeedUpdater.h"
#include "QtUpdateUserInterface.h"
#include "SharedUpdater.h"
#include "TestPlatform.h"
#include "UpdateArchives.h"
#include "UpdateCommand.h"
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
        shown.append("offer " + QString::fromStdString(offer.item.displayVersion) +
                     (offer.informational ? " informational" : "") +
                     (offer.critical ? " critical" : ""));
        notes = QString::fromStdString(offer.releaseNotesHtml);
        lastOffer = offer;
        choose = std::move(chooseOne);
    }
    void showUpToDate(const std::string& version) override {
        shown.append("uptodate " + QString::fromStdString(version));
    }
    void showError(const std::string& message) override {
        shown.append("error");
        errors.append(QString::fromStdString(message));
    }
    bool openUrl(const std::string& url) override {
        shown.append("open " + QString::fromStdString(url));
        return true;
    }

    QStringList shown;
    QStringList errors;
    UpdateOffer lastOffer;
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
            body(feedWith(
                "<item><sparkle:releaseNotesLink>file:///etc/hostname</sparkle:"
                "releaseNotesLink><enclosure url=\"u\" sparkle:version=\"2.0\"/></item>")));
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
    // Sets Quaymark's preferences from "key=value" words: channels=a,b; skip=<version>;
    // major=<version>@<subrelease>; group=<identifier>; remind=<version>@<seconds ago>.
    void prefer(const QString& words) {
        UserDefaults defaults(test.preferences, "com.brindlewood.Quaymark");
        for (const QString& word : words.split(' ', Qt::SkipEmptyParts)) {
            const QString key = word.section('=', 0, 0);
            const QString value = word.section('=', 1);
            if (key == "channels") {
                std::vector<std::string> channels;
                for (const QString& channel : value.split(','))
                    channels.push_back(channel.toStdString());
                defaults.setObject("Update Channels", PlistValue::stringArray(channels));
            } else if (key == "skip") {
                defaults.setObject("SUSkippedVersion", PlistValue(value.toStdString()));
            } else if (key == "major") {
                defaults.setObject("SUSkippedMajorVersion",
                                   PlistValue(value.section('@', 0, 0).toStdString()));
                defaults.setObject("SUSkippedMajorSubreleaseVersion",
                                   PlistValue(value.section('@', 1).toStdString()));
            } else if (key == "group") {
                defaults.setObject("SUUpdateGroupIdentifier",
                                   PlistValue::unsignedInteger(value.toULongLong()));
            } else if (key == "remind") {
                defaults.setObject("Update Reminder Version",
                                   PlistValue(value.section('@', 0, 0).toStdString()));
                defaults.setObject("Update Reminder Date",
                                   PlistValue(PlistDate{test.clock.now().sinceReferenceDate -
                                                        value.section('@', 1).toDouble()}));
            } else {
                QFAIL(qPrintable("unknown preference " + key));
            }
        }
        defaults.synchronize();
    }
    std::optional<PlistValue> preference(const std::string& key) {
        return UserDefaults(test.preferences, "com.brindlewood.Quaymark").objectForKey(key);
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

    void appcastRulesDecideWhatEachCheckOffers_data() {
        QTest::addColumn<QByteArray>("items");
        QTest::addColumn<QString>("preferences");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("verdicts");
        const QByteArray beta = item("2.0b1", "<sparkle:channel>beta</sparkle:channel>");
        const QByteArray informational =
            item("2.0", "<link>page.html</link><sparkle:informationalUpdate/>");
        const QByteArray critical = item("2.0", "<sparkle:criticalUpdate/>");
        const QByteArray major =
            item("2.5", "<sparkle:minimumAutoupdateVersion>2.0</sparkle:minimumAutoupdateVersion>");
        // Published when the test clock starts, each of the seven groups a day after the last.
        const QByteArray phased = item("2.0",
                                       "<pubDate>Thu, 01 Jan 2015 00:00:00 +0000</pubDate>"
                                       "<sparkle:phasedRolloutInterval>86400"
                                       "</sparkle:phasedRolloutInterval>");
        const auto row = [](const char* name, QByteArray items, QString preferences, QString kind,
                            QString shown, QString verdicts) {
            QTest::newRow(name) << items << preferences << kind << shown << verdicts;
        };
        row("beta not accepted", beta + item("1.5"), "", "background", "offer 1.5", "found 1.5");
        row("beta accepted", beta + item("1.5"), "channels=nightly,beta", "background",
            "offer 2.0b1", "found 2.0b1");
        row("informational", informational, "", "background", "offer 2.0 informational",
            "found 2.0");
        row("critical though skipped", critical, "skip=2.0", "background", "offer 2.0 critical",
            "found 2.0");
        row("skipped major train, user", major, "major=2.0@2.0", "user", "progress|close|offer 2.5",
            "found 2.5");
        row("phased, group 3 on day 0, background", phased, "group=10", "background", "", "none");
        row("phased, group 3 on day 0, information", phased, "group=10", "info", "", "none");
        row("phased, group 3 on day 0, user", phased, "group=10", "user",
            "progress|close|offer 2.0", "found 2.0");
        row("reminded an hour ago, information", item("2.0"), "remind=2.0@3600", "info", "",
            "none");
    }
    void appcastRulesDecideWhatEachCheckOffers() {
        QFETCH(QByteArray, items);
        QFETCH(QString, preferences);
        QFETCH(QString, kind);
        Rig rig;
        rig.server.script("/rules.xml", body(feedWith(items)));
        rig.useFeed("/rules.xml");
        rig.prefer(preferences);
        request(rig.updater, kind);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.updater.isChecking(), 5000);
        QFETCH(QString, shown);
        QFETCH(QString, verdicts);
        QCOMPARE(rig.ui.shown.join('|'), shown);
        QCOMPARE(rig.delegate.verdicts.join('|'), verdicts);
    }

    void choicesFollowTheOffersKind() {
        Rig rig;
        rig.server.script(
            "/informational.xml",
            body(feedWith(item("2.0",
                               "<link>info/2.0.html</link><sparkle:fullReleaseNotesLink>"
                               "/history.html</sparkle:fullReleaseNotesLink>"
                               "<sparkle:informationalUpdate/>"))));
        rig.useFeed("/informational.xml");
        rig.updater.checkForUpdatesInBackground();
        QTRY_VERIFY(rig.ui.choose != nullptr);
        // Links are relative to the feed.
        QCOMPARE(rig.ui.lastOffer.item.infoURL,
                 rig.server.url("/info/2.0.html").toString().toStdString());
        QCOMPARE(rig.ui.lastOffer.item.fullReleaseNotesURL,
                 rig.server.url("/history.html").toString().toStdString());
        rig.ui.choose(UpdateChoice::Install);
        QCOMPARE(rig.ui.shown, QStringList({"offer 2.0 informational"}));
        rig.ui.choose(UpdateChoice::LearnMore);
        QCOMPARE(rig.ui.shown.last(), "open " + rig.server.url("/info/2.0.html").toString());

        rig.server.script("/critical.xml",
                          body(feedWith(item("2.0", "<sparkle:criticalUpdate/>"))));
        rig.useFeed("/critical.xml");
        rig.ui.choose = nullptr;
        rig.updater.checkForUpdatesInBackground();
        QTRY_VERIFY(rig.ui.choose != nullptr);
        QVERIFY(rig.ui.lastOffer.critical);
        rig.ui.choose(UpdateChoice::Skip);
        QCOMPARE(rig.skippedVersion(), std::nullopt);

        rig.server.script("/package.xml",
                          body(feedWith("<item><enclosure url=\"http://127.0.0.1/Q.pkg\" "
                                        "sparkle:version=\"2.0\"/></item>")));
        rig.useFeed("/package.xml");
        rig.ui.choose = nullptr;
        rig.updater.checkForUpdatesInBackground();
        QTRY_VERIFY(rig.ui.choose != nullptr);
        const qsizetype opened = rig.ui.shown.filter("open ").size();
        rig.ui.choose(UpdateChoice::Install);
        QCOMPARE(rig.ui.shown.filter("open ").size(), opened);
        QCOMPARE(rig.ui.errors.size(), 1);
        QVERIFY2(rig.ui.errors.first().contains("\"package\""), qPrintable(rig.ui.errors.first()));
    }

    void skippingAMajorUpgradeSkipsItsTrain() {
        Rig rig;
        const auto offered = [&](const QByteArray& items) {
            rig.server.script("/major.xml", body(feedWith(items)));
            rig.useFeed("/major.xml");
            rig.ui.shown.clear();
            rig.updater.checkForUpdatesInBackground();
            [&] { QTRY_VERIFY_WITH_TIMEOUT(!rig.updater.isChecking(), 5000); }();
            return rig.ui.shown.join('|');
        };
        const QByteArray major =
            "<sparkle:minimumAutoupdateVersion>2.0</sparkle:minimumAutoupdateVersion>";
        QCOMPARE(offered(item("2.0", major)), QString("offer 2.0"));
        rig.ui.choose(UpdateChoice::Skip);
        QCOMPARE(rig.preference("SUSkippedMajorVersion"), PlistValue("2.0"));
        QCOMPARE(rig.preference("SUSkippedMajorSubreleaseVersion"), PlistValue("2.0"));
        QCOMPARE(rig.skippedVersion(), std::nullopt);
        QCOMPARE(offered(item("2.4", major)), QString());
        QCOMPARE(offered(item("3.0",
                              "<sparkle:minimumAutoupdateVersion>3.0"
                              "</sparkle:minimumAutoupdateVersion>")),
                 QString("offer 3.0"));
        // A minor update of the running version's own train is still offered, and skipped
        // as a minor one.
        QCOMPARE(offered(item("2.4", major) + item("1.1")), QString("offer 1.1"));
        rig.ui.choose(UpdateChoice::Skip);
        QCOMPARE(rig.skippedVersion(), std::optional<std::string>("1.1"));
        QCOMPARE(rig.preference("SUSkippedMajorVersion"), PlistValue("2.0"));
    }

    void remindMeLaterQuietsBackgroundChecksForADay() {
        Rig rig;
        rig.updater.checkForUpdatesInBackground();
        QTRY_VERIFY(rig.ui.choose != nullptr);
        rig.ui.choose(UpdateChoice::RemindLater);
        QCOMPARE(rig.preference("Update Reminder Version"), PlistValue("2.0"));
        QCOMPARE(rig.preference("Update Reminder Date"), PlistValue(rig.test.clock.now()));
        rig.test.clock.advance(86399);
        rig.updater.checkForUpdatesInBackground();
        QTRY_VERIFY(!rig.updater.isChecking());
        rig.updater.checkForUpdates();
        QTRY_VERIFY(!rig.updater.isChecking());
        rig.test.clock.advance(1);
        rig.updater.checkForUpdatesInBackground();
        QTRY_VERIFY(!rig.updater.isChecking());
        QCOMPARE(rig.ui.shown,
                 QStringList({"offer 2.0", "progress", "close", "offer 2.0", "offer 2.0"}));
        QCOMPARE(rig.delegate.verdicts,
                 QStringList({"found 2.0", "none", "found 2.0", "found 2.0"}));
    }

    void phasedRolloutGroupIsChosenOnceAndKept() {
        Rig rig;
        QCOMPARE(rig.preference("SUUpdateGroupIdentifier"), std::nullopt);
        rig.updater.checkForUpdatesInBackground();
        QTRY_VERIFY(!rig.updater.isChecking());
        const std::optional<PlistValue> first = rig.preference("SUUpdateGroupIdentifier");
        QVERIFY(first && first->asUnsignedInteger());
        QVERIFY(*first->asUnsignedInteger() <= 0xFFFFFFFFu);
        rig.updater.checkForUpdateInformation();
        QTRY_VERIFY(!rig.updater.isChecking());
        QCOMPARE(rig.preference("SUUpdateGroupIdentifier"), first);
    }

    void failuresSayWhatFailedAndWhatToDo_data() {
        QTest::addColumn<QString>("feed");
        QTest::newRow("malformed") << "/malformed.xml";
        QTest::newRow("missing") << "/missing.xml";
        QTest::newRow("no feed") << "";
    }
    void failuresSayWhatFailedAndWhatToDo() {
        QFETCH(QString, feed);
        Rig rig;
        if (feed.isEmpty())
            rig.bundle.info.erase("SUFeedURL");
        else
            rig.useFeed(feed);
        rig.updater.checkForUpdates();
        QTRY_VERIFY(!rig.updater.isChecking());
        QCOMPARE(rig.ui.errors.size(), 1);
        const QString message = rig.ui.errors.first();
        QVERIFY2(!message.contains(".."), qPrintable(message));
        // Two sentences: what failed, then what the user can do.
        QVERIFY2(message.endsWith('.') && message.count(". ") == 1, qPrintable(message));
    }

    void checkForUpdatesCallsAnInformationalReleaseNews() {
        Rig rig;
        rig.server.script("/informational.xml",
                          body(feedWith(item("2.0",
                                             "<link>http://127.0.0.1/2.0.html</link>"
                                             "<sparkle:informationalUpdate/>"))));
        std::ostringstream out, err;
        const int status = runUpdateCheck(
            rig.platform(), rig.server.url("/informational.xml").toString().toStdString(), out, err,
            FeedUpdaterOptions{{}, "x86_64"});
        QCOMPARE(status, 0);
        QCOMPARE(QString::fromStdString(out.str()),
                 QString("Quaymark 2.0 has been announced (this is 1.0); there is nothing to "
                         "install, see http://127.0.0.1/2.0.html.\n"));
        QVERIFY(err.str().empty());

        std::ostringstream critical;
        rig.server.script("/critical.xml",
                          body(feedWith(item("2.0", "<sparkle:criticalUpdate/>"))));
        QCOMPARE(
            runUpdateCheck(rig.platform(), rig.server.url("/critical.xml").toString().toStdString(),
                           critical, err, FeedUpdaterOptions{{}, "x86_64"}),
            0);
        QCOMPARE(QString::fromStdString(critical.str()),
                 QString("Quaymark 2.0 is available (this is 1.0); it is a critical update.\n"));
    }

    void onlyFeedsAndNotesSignedByTheKeyAreReadWhenTheBundleRequiresIt_data() {
        QTest::addColumn<bool>("required");
        QTest::addColumn<QString>("feed");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("verdicts");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("notes");
        QTest::addColumn<QString>("logged");
        const auto row = [](const char* name, bool required, QString feed, QString kind,
                            QString verdicts, QString shown, QString notes = {},
                            QString logged = {}) {
            QTest::newRow(name) << required << feed << kind << verdicts << shown << notes << logged;
        };
        const QString notShown =
            "<p>The release notes could not be loaded: they are not "
            "signed.</p>";
        row("signed", true, "/signed.xml", "user", "found 2.0", "progress|close|offer 2.0",
            "Notes of 2.0");
        row("one byte changed, user", true, "/altered.xml", "user", "", "progress|close|error", {},
            "The update feed was refused because it is not signed as this application requires: "
            "its signature does not verify with the application's public key (SUPublicEDKey)");
        row("one byte changed, background", true, "/altered.xml", "background", "", "", {},
            "its signature does not verify");
        row("unsigned", true, "/unsigned.xml", "info", "", "", {}, "it has no signing block");
        row("signed notes", true, "/signed-notes.xml", "background", "found 2.0", "offer 2.0",
            "Fetched notes");
        row("unsigned notes", true, "/unsigned-notes.xml", "background", "found 2.0", "offer 2.0",
            notShown);
        row("notes changed after signing", true, "/changed-notes.xml", "background", "found 2.0",
            "offer 2.0",
            "<p>The release notes could not be loaded: their signature does not verify");
        row("not required, unsigned", false, "/unsigned.xml", "user", "found 2.0",
            "progress|close|offer 2.0", "Notes of 2.0");
        row("not required, signed", false, "/signed.xml", "background", "found 2.0", "offer 2.0",
            "Notes of 2.0");
        // Without the requirement nothing is checked, as the framework checks nothing.
        row("not required, one byte changed", false, "/altered.xml", "background", "found 3.0",
            "offer 3.0", "Notes of 2.0");
        row("not required, unsigned notes", false, "/unsigned-notes.xml", "background", "found 2.0",
            "offer 2.0", "Fetched notes");
    }
    void onlyFeedsAndNotesSignedByTheKeyAreReadWhenTheBundleRequiresIt() {
        QFETCH(bool, required);
        QFETCH(QString, feed);
        QFETCH(QString, kind);
        Rig rig;
        const testing::SigningKey key;
        rig.bundle.info["SUPublicEDKey"] = key.publicKeyBase64();
        if (required)
            rig.bundle.info["SURequireSignedFeed"] = PlistValue::boolean(true);
        const auto signedBody = [&](const QByteArray& document) {
            return body(
                QByteArray::fromStdString(testing::signedFeed(document.toStdString(), key)));
        };
        const QByteArray notesFile =
            "<!-- sparkle-sign-warning: signed -->\n<h1>Fetched notes</h1>";
        const auto linked = [&](const QByteArray& link) {
            return feedWith("<item>" + link +
                            "<enclosure url=\"u\" sparkle:version=\"2.0\"/></item>");
        };
        const QByteArray notesSignature =
            QByteArray::fromStdString(key.signBase64(notesFile.toStdString()));
        rig.server.script("/signed.xml", signedBody(feedWith(item("2.0"))));
        QByteArray altered = signedBody(feedWith(item("2.0"))).body;
        altered.replace("sparkle:version=\"2.0\"", "sparkle:version=\"3.0\"");
        rig.server.script("/altered.xml", body(altered));
        rig.server.script("/unsigned.xml", body(feedWith(item("2.0"))));
        rig.server.script("/notes.html", body(notesFile));
        rig.server.script(
            "/signed-notes.xml",
            signedBody(linked("<sparkle:releaseNotesLink sparkle:edSignature=\"" + notesSignature +
                              "\">notes.html</sparkle:releaseNotesLink>")));
        rig.server.script("/unsigned-notes.xml",
                          signedBody(linked("<sparkle:releaseNotesLink>notes.html"
                                            "</sparkle:releaseNotesLink>")));
        rig.server.script("/changed.html",
                          body(QByteArray(notesFile).replace("Fetched", "Changed")));
        rig.server.script(
            "/changed-notes.xml",
            signedBody(linked("<sparkle:releaseNotesLink sparkle:edSignature=\"" + notesSignature +
                              "\">changed.html</sparkle:releaseNotesLink>")));
        rig.useFeed(feed);
        request(rig.updater, kind);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.updater.isChecking(), 5000);
        QTest::qWait(50);
        QFETCH(QString, verdicts);
        QFETCH(QString, shown);
        QFETCH(QString, notes);
        QFETCH(QString, logged);
        QCOMPARE(rig.delegate.verdicts.join('|'), verdicts);
        QCOMPARE(rig.ui.shown.join('|'), shown);
        QVERIFY2(notes.isEmpty() ? rig.ui.notes.isEmpty() : rig.ui.notes.contains(notes),
                 qPrintable(rig.ui.notes));
        QVERIFY2(logged.isEmpty() ? rig.log().isEmpty() : rig.log().contains(logged),
                 qPrintable(rig.log()));
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
};

}  // namespace quaymark

QTEST_MAIN(quaymark::FeedUpdaterTests)
#include "FeedUpdaterTests.moc"
