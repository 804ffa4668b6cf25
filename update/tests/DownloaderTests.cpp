#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>

#include "Downloader.h"
#include "FeedServer.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Far more than any bound below: a server that, for the test, never stops sending.
constexpr qint64 kEndless = 1ll << 40;

ScriptedResponse generated(qint64 size, bool declareLength) {
    ScriptedResponse response;
    response.generatedBodySize = size;
    response.declareLength = declareLength;
    return response;
}

ScriptedResponse body(QByteArray bytes) {
    ScriptedResponse response;
    response.body = std::move(bytes);
    return response;
}

// A server with a path that never answers and one that redirects to itself.
struct Rig {
    explicit Rig(std::chrono::milliseconds stallTimeout = 5s)
        : downloader(network, {.stallTimeout = stallTimeout,
                               .overallTimeout = 10s,
                               .maximumBytes = 1024 * 1024,
                               .maximumRedirects = 2}) {
        server.listen();
        ScriptedResponse silent, loop;
        silent.neverAnswer = true;
        server.script("/silent", silent);
        loop.status = 302;
        loop.location = "/loop";
        server.script("/loop", loop);
    }

    // The outcome of one download into memory, or into a file when `toFile`.
    Result<QByteArray> run(const DownloadRequest& request, bool toFile) {
        std::optional<Result<QByteArray>> outcome;
        if (toFile) {
            downloader.download(
                request, file,
                [this](std::uint64_t received, std::uint64_t) { progress = received; },
                [&outcome](Result<std::uint64_t> written) {
                    outcome = written ? Result<QByteArray>::success(QByteArray::fromStdString(
                                            std::to_string(written.value())))
                                      : Result<QByteArray>::failure(written.error());
                });
        } else {
            downloader.fetch(
                request, [&outcome](Result<QByteArray> fetched) { outcome = std::move(fetched); });
        }
        if (!QTest::qWaitFor([&outcome] { return outcome.has_value(); }, 15'000))
            return Result<QByteArray>::failure("no outcome");
        return std::move(*outcome);
    }

    QTemporaryDir folder;
    const std::string file = folder.path().toStdString() + "/download";
    FeedServer server;
    QNetworkAccessManager network;
    Downloader downloader;
    std::uint64_t progress = 0;
};

class DownloaderTests : public QObject {
    Q_OBJECT
private slots:
    // Each row: what the server does, what the request states, and how the download ends.
    void downloadsEndAsTheirBoundsSay_data() {
        QTest::addColumn<bool>("toFile");
        QTest::addColumn<int>("expectedLength");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<qint64>("mostWritten");
        QTest::newRow("endless undeclared feed cut at the cap")
            << false << 0 << "larger than 1 MB" << qint64(0);
        QTest::newRow("endless undeclared archive cut at the cap")
            << true << 0 << "larger than 1 MB" << qint64(1024 * 1024);
        QTest::newRow("endless archive cut at the stated length")
            << true << 100'000 << "more than the 100000 bytes the feed states arrived"
            << qint64(100'000);
        QTest::newRow("announced length above the stated one")
            << true << 1000 << "the server announces 300000 bytes, longer than the 1000"
            << qint64(1000);
        QTest::newRow("short archive")
            << true << 400'000 << "incomplete: 300000 of the 400000" << qint64(300'000);
        QTest::newRow("archive of the stated length") << true << 300'000 << "" << qint64(300'000);
        QTest::newRow("feed within the cap") << false << 0 << "" << qint64(0);
    }
    void downloadsEndAsTheirBoundsSay() {
        QFETCH(bool, toFile);
        QFETCH(int, expectedLength);
        QFETCH(QString, outcome);
        QFETCH(qint64, mostWritten);
        Rig rig;
        const bool endless = QString(QTest::currentDataTag()).startsWith("endless");
        // The endless server would end only at the overall time-out, with another message.
        rig.server.script("/r", endless ? generated(kEndless, false) : generated(300'000, true));
        const Result<QByteArray> result =
            rig.run({.url = rig.server.url("/r"),
                     .subject = "The update",
                     .expectedLength = static_cast<std::uint64_t>(expectedLength)},
                    toFile);
        if (outcome.isEmpty()) {
            QVERIFY2(result, result.error().c_str());
            if (toFile) {
                QCOMPARE(result.value(), QByteArray("300000"));
                QCOMPARE(rig.progress, std::uint64_t(300'000));
            } else {
                QCOMPARE(result.value(), QByteArray(300'000, 'x'));
            }
        } else {
            QVERIFY(!result);
            QVERIFY2(result.error().find(outcome.toStdString()) != std::string::npos,
                     result.error().c_str());
            QVERIFY2(result.error().rfind("The update could not be loaded: ", 0) == 0,
                     result.error().c_str());
        }
        // Nothing past the bound reaches the disk: the bytes are judged as they come.
        if (toFile)
            QVERIFY(fs::file_size(rig.file) <= static_cast<std::uintmax_t>(mostWritten));
    }

    void failuresSayWhatFailedAndWhatToDo_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("message");
        QTest::newRow("404") << "/missing"
                             << "The update feed could not be loaded: the server answered 404 Not "
                                "Found. Try again later; if this keeps happening, tell the "
                                "application's developer.";
        QTest::newRow("silent") << "/silent"
                                << "The update feed could not be loaded: no data arrived for 0.3 "
                                   "seconds. Check the network connection, then try again.";
        QTest::newRow("redirect loop")
            << "/loop"
            << "The update feed could not be loaded: the server sent more than 2 redirects. Try "
               "again later; if this keeps happening, tell the application's developer.";
        QTest::newRow("not http") << "ftp://127.0.0.1/feed.xml"
                                  << "The update feed could not be loaded: its address "
                                     "\"ftp://127.0.0.1/feed.xml\" is not an http, https or file "
                                     "URL. Tell the application's developer, who must correct it.";
    }
    void failuresSayWhatFailedAndWhatToDo() {
        QFETCH(QString, path);
        QFETCH(QString, message);
        Rig rig(300ms);
        const Result<QByteArray> result =
            rig.run({.url = path.startsWith('/') ? rig.server.url(path) : QUrl(path),
                     .subject = "The update feed"},
                    false);
        QVERIFY(!result);
        QCOMPARE(QString::fromStdString(result.error()), message);
    }

    void textsOfDurationsAndStatuses() {
        QCOMPARE(secondsText(20'000ms), std::string("20 seconds"));
        QCOMPARE(secondsText(1'000ms), std::string("1 second"));
        QCOMPARE(secondsText(1'500ms), std::string("1.5 seconds"));
        QCOMPARE(httpStatusText(503), std::string("503 Service Unavailable"));
        QCOMPARE(httpStatusText(499), std::string("status 499"));
    }

    void aCancelledDownloadNeverCallsBack() {
        Rig rig;
        bool called = false;
        rig.downloader.fetch(rig.server.url("/silent"),
                             [&called](Result<QByteArray>) { called = true; });
        QTRY_COMPARE_WITH_TIMEOUT(rig.server.requestCount("/silent"), 1, 5000);
        rig.downloader.cancel();
        // A fresh fetch afterwards still reports, and only its own outcome.
        std::optional<Result<QByteArray>> second;
        rig.server.script("/s", body("fine"));
        rig.downloader.fetch(rig.server.url("/s"), [&second](Result<QByteArray> fetched) {
            second = std::move(fetched);
        });
        QTRY_VERIFY_WITH_TIMEOUT(second.has_value(), 5000);
        QCOMPARE(second->value(), QByteArray("fine"));
        QVERIFY(!called);
    }
};

}  // namespace
}  // namespace quaymark

QTEST_GUILESS_MAIN(quaymark::DownloaderTests)
#include "DownloaderTests.moc"
