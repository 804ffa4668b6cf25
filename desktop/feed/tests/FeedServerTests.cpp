#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

#include "FeedServer.h"

namespace quaymark {

class FeedServerTests : public QObject {
    Q_OBJECT
private slots:
    void servesOnlyTheFolder_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected");  // the status line and, after '|', the body
        QTest::newRow("file") << QByteArray("GET /appcast.xml?x=1") << QByteArray("200 OK|<rss/>");
        QTest::newRow("head") << QByteArray("HEAD /appcast.xml") << QByteArray("200 OK|");
        QTest::newRow("nested") << QByteArray("GET /sub/a%20b.zip") << QByteArray("200 OK|zip");
        QTest::newRow("link inside")
            << QByteArray("GET /inside.xml") << QByteArray("200 OK|<rss/>");
        QTest::newRow("link out") << QByteArray("GET /outside")
                                  << QByteArray("404 Not Found|Not Found\n");
        QTest::newRow("dot dot") << QByteArray("GET /../secret")
                                 << QByteArray("404 Not Found|Not Found\n");
        QTest::newRow("encoded dot dot") << QByteArray("GET /sub/%2e%2e/%2e%2e/secret")
                                         << QByteArray("404 Not Found|Not Found\n");
        QTest::newRow("absolute") << QByteArray("GET //etc/hostname")
                                  << QByteArray("404 Not Found|Not Found\n");
        QTest::newRow("folder") << QByteArray("GET /sub")
                                << QByteArray("404 Not Found|Not Found\n");
        QTest::newRow("missing") << QByteArray("GET /nothing.xml")
                                 << QByteArray("404 Not Found|Not Found\n");
        QTest::newRow("post") << QByteArray("POST /appcast.xml")
                              << QByteArray("405 Method Not Allowed|Method Not Allowed\n");
        QTest::newRow("scripted") << QByteArray("GET /gone")
                                  << QByteArray("503 Service Unavailable|later");
    }
    void servesOnlyTheFolder() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        QTemporaryDir root;
        const QString served = root.filePath("served");
        QVERIFY(QDir().mkpath(served + "/sub"));
        write(root.filePath("secret"), "secret");
        write(served + "/appcast.xml", "<rss/>");
        write(served + "/sub/a b.zip", "zip");
        QVERIFY(QFile::link(root.filePath("secret"), served + "/outside"));
        QVERIFY(QFile::link(served + "/appcast.xml", served + "/inside.xml"));
        FeedServer server(served);
        ScriptedResponse gone;
        gone.status = 503;
        gone.body = "later";
        server.script("/gone", gone);
        QVERIFY(server.listen());

        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server.port());
        socket.write(request + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QTRY_COMPARE(socket.state(), QAbstractSocket::UnconnectedState);
        const QByteArray response = socket.readAll();
        const QByteArray statusLine = response.left(response.indexOf("\r\n")).mid(9);
        const QByteArray responseBody = response.mid(response.indexOf("\r\n\r\n") + 4);
        QCOMPARE(statusLine + "|" + responseBody, expected);
        if (request.startsWith("HEAD"))
            QVERIFY(response.contains("Content-Length: 6\r\n"));
    }

    void programPrintsItsAddressAndEndsOnTerminate() {
        QTemporaryDir root;
        write(root.filePath("appcast.xml"), "<rss/>");
        QProcess program;
        program.start(QUAYMARK_FEED_SERVER, {root.path()});
        QVERIFY(program.waitForReadyRead(5000));
        const QString address = QString::fromUtf8(program.readLine()).trimmed();
        QVERIFY2(QRegularExpression("^http://127\\.0\\.0\\.1:\\d+/$").match(address).hasMatch(),
                 qPrintable(address));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, QUrl(address).port());
        socket.write("GET /appcast.xml HTTP/1.1\r\n\r\n");
        QTRY_COMPARE(socket.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(socket.readAll().endsWith("\r\n\r\n<rss/>"));
        program.terminate();
        QVERIFY(program.waitForFinished(5000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }

    // The held path waits while others are answered, until the signal; later requests for it
    // are answered at once.
    void programHoldsAPathUntilTheReleaseSignal() {
        QTemporaryDir root;
        write(root.filePath("appcast.xml"), "<rss/>");
        write(root.filePath("archive.zip"), "zip");
        QProcess program;
        program.start(QUAYMARK_FEED_SERVER,
                      {root.path(), "--hold", "/archive.zip", "--hold", "/late.zip"});
        QVERIFY(program.waitForReadyRead(5000));
        const quint16 port = QUrl(QString::fromUtf8(program.readLine()).trimmed()).port();
        const auto get = [port](QTcpSocket& socket, const QByteArray& path) {
            socket.connectToHost(QHostAddress::LocalHost, port);
            socket.write("GET " + path + " HTTP/1.1\r\n\r\n");
        };

        QTcpSocket held;
        get(held, "/archive.zip");
        QTRY_VERIFY(program.canReadLine());
        QCOMPARE(program.readLine(), QByteArray("held /archive.zip\n"));
        QTcpSocket other;
        get(other, "/appcast.xml");
        QTRY_COMPARE(other.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(other.readAll().endsWith("\r\n\r\n<rss/>"));
        QCOMPARE(held.state(), QAbstractSocket::ConnectedState);
        QCOMPARE(held.bytesAvailable(), 0);

        QCOMPARE(::kill(static_cast<pid_t>(program.processId()), SIGUSR1), 0);
        QTRY_COMPARE(held.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(held.readAll().startsWith("HTTP/1.1 200 OK\r\n"));
        QTcpSocket again;
        get(again, "/archive.zip");
        QTRY_COMPARE(again.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(again.readAll().endsWith("\r\n\r\nzip"));
        QTcpSocket late;  // held only until the signal, like the path that had a request
        get(late, "/late.zip");
        QTRY_COMPARE(late.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(late.readAll().startsWith("HTTP/1.1 404 Not Found\r\n"));
        QCOMPARE(program.readAll(), QByteArray());
        program.terminate();
        QVERIFY(program.waitForFinished(5000));
        QCOMPARE(program.exitCode(), 0);
    }

    void programRefusesUnknownOptions_data() {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("no value") << QStringList{"--hold"};
        QTest::newRow("relative hold") << QStringList{"--hold", "archive.zip"};
        QTest::newRow("bad port") << QStringList{"--port", "http"};
        QTest::newRow("unknown") << QStringList{"--slow", "/archive.zip"};
    }
    void programRefusesUnknownOptions() {
        QFETCH(QStringList, options);
        QTemporaryDir root;
        QProcess program;
        program.start(QUAYMARK_FEED_SERVER, QStringList{root.path()} + options);
        QVERIFY(program.waitForFinished(5000));
        QCOMPARE(program.exitCode(), 2);
        QVERIFY(program.readAllStandardError().startsWith("usage: quaymark-feed-server"));
    }

private:
    static void write(const QString& path, const QByteArray& contents) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }
};

}  // namespace quaymark

QTEST_GUILESS_MAIN(quaymark::FeedServerTests)
#include "FeedServerTests.moc"
