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
#include "RecordingUserInterface.h"
#include "SharedUpdater.h"
#include "TestPlatform.h"
#include "UpdateArchives.h"
#include "UpdateCommand.h"
#include "UserDefaults.h"

namespace quaymark {
namespace {

using namespace std::chrono_literals;

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

// An item offering `version` with `extra` elements; its notes are its description unless
// `extra` links them.
QByteArray item(const QByteArray& version, const QByteArray& extra = {}) {
    const QByteArray notes = extra.contains("releaseNotesLink")
                                 ? QByteArray()
                                 : "<description>Notes of " + version + "</description>";
    return "<item>" + notes + extra + "<enclosure url=\"http://127.0.0.1/q-" + version +
           ".zip\" sparkle:version=\"" + version + "\"/></item>";
}

QByteArray notesLink(const QByteArray& link, const QByteArray& signature = {}) {
    return "<sparkle:releaseNotesLink" +
           (signature.isEmpty() ? "" : " sparkle:edSignature=\"" + signature + "\"") + ">" + link +
           "</sparkle:releaseNotesLink>";
}

// A response with `text` as its body, changed by `change`.
ScriptedResponse body(QByteArray text, void (*change)(ScriptedResponse&) = nullptr) {
    ScriptedResponse response;
    response.body = std::move(text);
    if (change != nullptr)
        change(response);
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
        serve("/newer.xml", item("0.9") + item("2.0") + item("1.5"));
        signFeeds();
        server.script("/malformed.xml", body("<rss><channel><item>"));
        server.script("/redirect",
                      body({}, [](auto& r) { r.status = 302, r.location = "/newer.xml"; }));
        server.script("/slow", body(feedWith(item("2.0")), [](auto& r) { r.delay = 2000ms; }));
        server.script("/trickle",
                      body(feedWith(item("2.0")), [](auto& r) { r.trickleInterval = 40ms; }));
        server.script("/huge", body({}, [](auto& r) { r.generatedBodySize = 11 << 20; }));
        updater.setDelegate(&delegate);
    }

    // Feeds signed with the bundle's key, altered after signing, or linking notes that are
    // signed, unsigned, or changed after signing.
    void signFeeds() {
        bundle.info["SUPublicEDKey"] = signingKey.publicKeyBase64();
        const auto signedFeed = [this](const QByteArray& items) {
            return body(QByteArray::fromStdString(
                testing::signedFeed(feedWith(items).toStdString(), signingKey)));
        };
        const QByteArray notes = "<!-- sparkle-sign-warning: signed -->\n<h1>Fetched notes</h1>";
        const QByteArray signature =
            QByteArray::fromStdString(signingKey.signBase64(notes.toStdString()));
        server.script("/notes.html", body(notes));
        server.script("/changed.html", body(QByteArray(notes).replace("Fetched", "Changed")));
        server.script("/signed.xml", signedFeed(item("2.0")));
        ScriptedResponse altered = signedFeed(item("2.0"));
        altered.body.replace("sparkle:version=\"2.0\"", "sparkle:version=\"3.0\"");
        server.script("/altered.xml", altered);
        server.script("/signed-notes.xml",
                      signedFeed(item("2.0", notesLink("notes.html", signature))));
        server.script("/unsigned-notes.xml", signedFeed(item("2.0", notesLink("notes.html"))));
        server.script("/changed-notes.xml",
                      signedFeed(item("2.0", notesLink("changed.html", signature))));
    }
    Platform platform() {
        Platform p = test.platform();
        return Platform{p.preferences, p.workspace,   p.fileManager, bundle,
                        p.tasks,       p.scripting,   p.appleScript, p.clock,
                        p.runLoop,     p.application, p.log};
    }
    void serve(const QString& path, const QByteArray& items) {
        server.script(path, body(feedWith(items)));
    }
    void useFeed(const QString& path) {
        bundle.info["SUFeedURL"] = server.url(path).toString().toStdString();
    }
    // Sets Quaymark's preferences from "key=value" words: channels=a,b; skip=<version>;
    // major=<version>@<subrelease>; group=<identifier>; remind=<version>@<seconds ago>; and
    // "signed" makes the bundle require signed feeds.
    void prefer(const QString& words) {
        UserDefaults defaults(test.preferences, "com.brindlewood.Quaymark");
        for (const QString& word : words.split(' ', Qt::SkipEmptyParts)) {
            const QString key = word.section('=', 0, 0);
            const QString value = word.section('=', 1);
            const auto set = [&](const std::string& name, PlistValue setting) {
                defaults.setObject(name, std::move(setting));
            };
            const auto part = [&](int n) { return value.section('@', n, n).toStdString(); };
            if (key == "signed") {
                bundle.info["SURequireSignedFeed"] = PlistValue::boolean(true);
            } else if (key == "channels") {
                std::vector<std::string> channels;
                for (const QString& channel : value.split(','))
                    channels.push_back(channel.toStdString());
                set("Update Channels", PlistValue::stringArray(channels));
            } else if (key == "skip") {
                set("SUSkippedVersion", PlistValue(part(0)));
            } else if (key == "major") {
                set("SUSkippedMajorVersion", PlistValue(part(0)));
                set("SUSkippedMajorSubreleaseVersion", PlistValue(part(1)));
            } else if (key == "group") {
                set("SUUpdateGroupIdentifier", PlistValue::unsignedInteger(value.toULongLong()));
            } else if (key == "remind") {
                set("Update Reminder Version", PlistValue(part(0)));
                set("Update Reminder Date",
                    PlistValue(
                        PlistDate{test.clock.now().sinceReferenceDate - std::stod(part(1))}));
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
    const testing::SigningKey signingKey;
    FeedServer server;
    QNetworkAccessManager network;
    testing::RecordingUserInterface ui;
    RecordingDelegate delegate;
    FeedUpdater updater{platform(), network, ui,
                        FeedUpdaterOptions{{250ms, 600ms, 10 * 1024 * 1024, 4}, "x86_64"}};
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
    // Each row: the feed (a path on the server, another address, nothing, or the items of a
    // feed served for the row), Quaymark's preferences, the kind of check, and what it ends in.
    void checksOfferWhatTheRulesAllowInOneVerdict_data() {
        QTest::addColumn<QByteArray>("feed");
        QTest::addColumn<QString>("preferences");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("verdicts");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<QString>("notes");
        const auto row = [](const char* name, QByteArray feed, QString preferences, QString kind,
                            QString verdicts, QString shown, QString logged = {},
                            QString notes = {}) {
            QTest::newRow(name) << feed << preferences << kind << verdicts << shown << logged
                                << notes;
        };
        const QByteArray newer = "/newer.xml";
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
        const QString offered = "progress|close|offer ";
        row("newer, background", newer, "", "background", "found 2.0", "offer 2.0");
        row("newer, user", newer, "", "user", "found 2.0", offered + "2.0");
        row("newer, information", newer, "", "info", "found 2.0", "");
        row("same, user", item("1.0.0"), "", "user", "none", "progress|close|uptodate 1.0");
        row("older, background", item("0.9"), "", "background", "none", "");
        row("skipped, background", newer, "skip=2.0", "background", "none", "");
        row("skipped, information", newer, "skip=2.0", "info", "none", "");
        row("skipped, user", newer, "skip=2.0", "user", "found 2.0", offered + "2.0");
        row("older skipped, background", newer, "skip=1.9", "background", "found 2.0", "offer 2.0");
        row("minimum system",
            item("3.0", "<sparkle:minimumSystemVersion>10.15</sparkle:minimumSystemVersion>") +
                item("1.5"),
            "", "background", "found 1.5", "offer 1.5");
        row("notes by link", item("2.0", notesLink("notes.html")), "", "background", "found 2.0",
            "offer 2.0", "", "Fetched notes");
        row("local notes", item("2.0", notesLink("file:///etc/hostname")), "", "background",
            "found 2.0", "offer 2.0", "",
            "<p>The release notes could not be loaded: they name a file on this computer");
        row("redirect", "/redirect", "", "info", "found 2.0", "");
        row("malformed", "/malformed.xml", "", "user", "", "progress|close|error", "well-formed");
        row("missing", "/missing.xml", "", "user", "", "progress|close|error", "404");
        row("no feed address", "", "", "user", "", "progress|close|error", "names no update feed");
        row("slow", "/slow", "", "info", "", "", "no data arrived");
        row("trickling", "/trickle", "", "info", "", "", "took longer");
        row("huge", "/huge", "", "info", "", "", "larger than 10 MB");
        row("beta not accepted", beta + item("1.5"), "", "background", "found 1.5", "offer 1.5");
        row("beta accepted", beta + item("1.5"), "channels=nightly,beta", "background",
            "found 2.0b1", "offer 2.0b1");
        row("informational", informational, "", "background", "found 2.0",
            "offer 2.0 informational");
        row("critical though skipped", critical, "skip=2.0", "background", "found 2.0",
            "offer 2.0 critical");
        row("skipped major train, background", major, "major=2.0@2.0", "background", "none", "");
        row("skipped major train, user", major, "major=2.0@2.0", "user", "found 2.5",
            offered + "2.5");
        row("phased, group 3 on day 0, background", phased, "group=10", "background", "none", "");
        row("phased, group 3 on day 0, information", phased, "group=10", "info", "none", "");
        row("phased, group 3 on day 0, user", phased, "group=10", "user", "found 2.0",
            offered + "2.0");
        row("reminded an hour ago, information", item("2.0"), "remind=2.0@3600", "info", "none",
            "");
        const QString notLoaded = "<p>The release notes could not be loaded: ";
        row("signed", "/signed.xml", "signed", "user", "found 2.0", offered + "2.0", "",
            "Notes of 2.0");
        row("one byte changed, user", "/altered.xml", "signed", "user", "", "progress|close|error",
            "The update feed was refused because it is not signed as this application requires: "
            "its signature does not verify with the application's public key (SUPublicEDKey)");
        row("one byte changed, background", "/altered.xml", "signed", "background", "", "",
            "its signature does not verify");
        row("unsigned", item("2.0"), "signed", "info", "", "", "it has no signing block");
        row("signed notes", "/signed-notes.xml", "signed", "background", "found 2.0", "offer 2.0",
            "", "Fetched notes");
        row("unsigned notes", "/unsigned-notes.xml", "signed", "background", "found 2.0",
            "offer 2.0", "", notLoaded + "they are not signed.</p>");
        row("notes changed after signing", "/changed-notes.xml", "signed", "background",
            "found 2.0", "offer 2.0", "", notLoaded + "their signature does not verify");
        // Without the requirement nothing is checked, as the framework checks nothing, and the
        // signing block is a comment that is passed over.
        row("not required, signed", "/signed.xml", "", "background", "found 2.0", "offer 2.0", "",
            "Notes of 2.0");
        row("not required, one byte changed", "/altered.xml", "", "background", "found 3.0",
            "offer 3.0", "", "Notes of 2.0");
        row("not required, unsigned notes", "/unsigned-notes.xml", "", "background", "found 2.0",
            "offer 2.0", "", "Fetched notes");
    }
    void checksOfferWhatTheRulesAllowInOneVerdict() {
        QFETCH(QByteArray, feed);
        QFETCH(QString, preferences);
        QFETCH(QString, kind);
        Rig rig;
        if (feed.isEmpty()) {
            rig.bundle.info.erase("SUFeedURL");
        } else if (feed.startsWith('/')) {
            rig.useFeed(QString(feed));
        } else {
            rig.serve("/feed.xml", feed);
            rig.useFeed("/feed.xml");
        }
        rig.prefer(preferences);
        request(rig.updater, kind);
        QVERIFY(rig.delegate.verdicts.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!rig.updater.isChecking(), 5000);
        // The verdicts and windows come as the check ends. A pause on purpose, since nothing may
        // follow: anything late, such as a second verdict, would arrive within it.
        QTest::qWait(50);
        QFETCH(QString, verdicts);
        QFETCH(QString, shown);
        QFETCH(QString, logged);
        QFETCH(QString, notes);
        QCOMPARE(rig.delegate.verdicts.join('|'), verdicts);
        QVERIFY(rig.delegate.onMainThread);
        QCOMPARE(rig.ui.shown.join('|'), shown);
        QVERIFY2(logged.isEmpty() ? rig.log().isEmpty() : rig.log().contains(logged),
                 qPrintable(rig.log()));
        QVERIFY2(rig.ui.notes.contains(notes), qPrintable(rig.ui.notes));
        // Two sentences: what failed, then what the user can do.
        for (const QString& message : rig.ui.errors)
            QVERIFY2(message.endsWith('.') && message.count(". ") == 1 && !message.contains(".."),
                     qPrintable(message));
    }

    void choicesFollowTheOffersKind() {
        Rig rig;
        rig.serve("/informational.xml",
                  item("2.0",
                       "<link>info/2.0.html</link><sparkle:fullReleaseNotesLink>/history.html"
                       "</sparkle:fullReleaseNotesLink><sparkle:informationalUpdate/>"));
        const auto offer = [&rig](const QString& feed) {
            rig.useFeed(feed);
            rig.ui.choose = nullptr;
            rig.updater.checkForUpdatesInBackground();
            return QTest::qWaitFor([&rig] { return rig.ui.choose != nullptr; }, 5000);
        };
        QVERIFY(offer("/informational.xml"));
        // Links are relative to the feed.
        QCOMPARE(rig.ui.lastOffer.item.infoURL,
                 rig.server.url("/info/2.0.html").toString().toStdString());
        QCOMPARE(rig.ui.lastOffer.item.fullReleaseNotesURL,
                 rig.server.url("/history.html").toString().toStdString());
        rig.ui.choose(UpdateChoice::Install);
        QCOMPARE(rig.ui.shown, QStringList({"offer 2.0 informational"}));
        rig.ui.choose(UpdateChoice::LearnMore);
        QCOMPARE(rig.ui.shown.last(), "open " + rig.server.url("/info/2.0.html").toString());

        rig.serve("/critical.xml", item("2.0", "<sparkle:criticalUpdate/>"));
        QVERIFY(offer("/critical.xml"));
        QVERIFY(rig.ui.lastOffer.critical);
        rig.ui.choose(UpdateChoice::Skip);
        QCOMPARE(rig.preference("SUSkippedVersion"), std::nullopt);

        rig.serve(
            "/package.xml",
            "<item><enclosure url=\"http://127.0.0.1/Q.pkg\" sparkle:version=\"2.0\"/></item>");
        QVERIFY(offer("/package.xml"));
        const qsizetype opened = rig.ui.shown.filter("open ").size();
        rig.ui.choose(UpdateChoice::Install);
        QCOMPARE(rig.ui.shown.filter("open ").size(), opened);
        QCOMPARE(rig.ui.errors.size(), 1);
        QVERIFY2(rig.ui.errors.first().contains("\"package\""), qPrintable(rig.ui.errors.first()));
    }

    void choicesInstallOrRememberTheSkippedVersion() {
        Rig rig;
        rig.updater.checkForUpdatesInBackground();
        QTRY_VERIFY(rig.ui.choose != nullptr);
        rig.ui.choose(UpdateChoice::Install);
        QCOMPARE(rig.ui.shown.last(), QString("open http://127.0.0.1/q-2.0.zip"));
        rig.ui.choose(UpdateChoice::Skip);
        QCOMPARE(rig.preference("SUSkippedVersion"), PlistValue("2.0"));
        rig.updater.checkForUpdatesInBackground();
        QTRY_VERIFY(!rig.updater.isChecking());
        QCOMPARE(rig.delegate.verdicts, QStringList({"found 2.0", "none"}));

        // Skipping a major upgrade stores its train, as the framework does.
        rig.serve("/major.xml", item("2.5",
                                     "<sparkle:minimumAutoupdateVersion>2.0"
                                     "</sparkle:minimumAutoupdateVersion>"));
        rig.useFeed("/major.xml");
        rig.updater.checkForUpdatesInBackground();
        QTRY_COMPARE(rig.delegate.verdicts.last(), QString("found 2.5"));
        rig.ui.choose(UpdateChoice::Skip);
        QCOMPARE(rig.preference("SUSkippedMajorVersion"), PlistValue("2.0"));
        QCOMPARE(rig.preference("SUSkippedMajorSubreleaseVersion"), PlistValue("2.5"));
        QCOMPARE(rig.preference("SUSkippedVersion"), PlistValue("2.0"));
    }

    void remindMeLaterQuietsBackgroundChecksForADay() {
        Rig rig;
        rig.updater.checkForUpdatesInBackground();
        QTRY_VERIFY(rig.ui.choose != nullptr);
        rig.ui.choose(UpdateChoice::RemindLater);
        QCOMPARE(rig.preference("SUSkippedVersion"), std::nullopt);
        QCOMPARE(rig.preference("Update Reminder Version"), PlistValue("2.0"));
        QCOMPARE(rig.preference("Update Reminder Date"), PlistValue(rig.test.clock.now()));
        for (const auto& [seconds, kind] :
             {std::pair{86399, "background"}, {0, "user"}, {1, "background"}}) {
            rig.test.clock.advance(seconds);
            request(rig.updater, kind);
            QTRY_VERIFY(!rig.updater.isChecking());
        }
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

    void checkForUpdatesNamesInformationalAndCriticalReleases() {
        Rig rig;
        const auto check = [&rig](const QByteArray& extra) {
            rig.serve("/feed.xml", item("2.0", extra));
            std::ostringstream out, err;
            const int status =
                runUpdateCheck(rig.platform(), rig.server.url("/feed.xml").toString().toStdString(),
                               out, err, FeedUpdaterOptions{{}, "x86_64"});
            return QString::number(status) + " " + QString::fromStdString(out.str() + err.str());
        };
        QCOMPARE(check("<link>http://127.0.0.1/2.0.html</link><sparkle:informationalUpdate/>"),
                 QString("0 Quaymark 2.0 has been announced (this is 1.0); there is nothing to "
                         "install, see http://127.0.0.1/2.0.html.\n"));
        QCOMPARE(check("<sparkle:criticalUpdate/>"),
                 QString("0 Quaymark 2.0 is available (this is 1.0); it is a critical update.\n"));
    }

    void requestsDuringACheckJoinItAndKeepTheirOwnVerdicts() {
        Rig rig;
        rig.prefer("skip=2.0");
        rig.updater.checkForUpdateInformation();
        rig.updater.checkForUpdates();
        rig.updater.checkForUpdatesInBackground();
        QTRY_VERIFY(!rig.updater.isChecking());
        // A pause on purpose, since nothing may follow: a second request would come within it.
        QTest::qWait(50);
        QCOMPARE(rig.server.requestCount("/newer.xml"), 1);
        QCOMPARE(rig.delegate.verdicts, QStringList({"none", "found 2.0", "none"}));
        QCOMPARE(rig.ui.shown, QStringList({"progress", "close", "offer 2.0"}));
    }

    void cancelEndsTheCheckWithoutVerdictOrWindow() {
        Rig rig;
        rig.server.script("/silent", body({}, [](auto& r) { r.neverAnswer = true; }));
        rig.useFeed("/silent");
        rig.updater.checkForUpdates();
        rig.updater.checkForUpdateInformation();
        QTRY_COMPARE(rig.server.requestCount("/silent"), 1);
        rig.ui.cancel();
        QVERIFY(!rig.updater.isChecking());
        // A bound on purpose: no window or verdict may come after the cancel.
        QVERIFY(!QTest::qWaitFor(
            [&] { return rig.ui.shown.size() > 2 || !rig.delegate.verdicts.isEmpty(); }, 400));
        QCOMPARE(rig.ui.shown, QStringList({"progress", "close"}));
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
