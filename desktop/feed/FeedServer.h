// A small HTTP/1.1 server on 127.0.0.1 that serves an update feed and its files from a folder,
// with scripted answers for paths a test wants to misbehave.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>
#include <chrono>

class QTcpServer;
class QTcpSocket;

namespace quaymark {

// How the server answers one path; the fields combine (a delayed, trickled redirect is fine).
struct ScriptedResponse {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/xml";
    // Sent as the Location header when not empty.
    QByteArray location;
    // Silence before the answer starts.
    std::chrono::milliseconds delay{0};
    // When not zero, the body goes out one byte per interval.
    std::chrono::milliseconds trickleInterval{0};
    // When not zero, a body of this many bytes is sent instead of `body`, as fast as the
    // client reads it.
    qint64 generatedBodySize = 0;
    // When false, no Content-Length is sent and the body ends where the connection closes.
    bool declareLength = true;
    // The request is read and never answered; the connection stays open.
    bool neverAnswer = false;
};

// One request per connection; answers GET and HEAD. Files are served from the folder, never
// from outside it: ".." segments are refused and symbolic links must stay inside.
class FeedServer : public QObject {
    Q_OBJECT
public:
    // `folder` may be empty: then only scripted paths are served.
    explicit FeedServer(QString folder = {}, QObject* parent = nullptr);
    ~FeedServer() override;

    // Listens on 127.0.0.1; port 0 picks a free one. False when the port cannot be had.
    bool listen(quint16 port = 0);
    quint16 port() const;
    // "http://127.0.0.1:<port><path>".
    QUrl url(const QString& path = "/") const;

    // Answers requests for `path` (without query) as scripted, before any file.
    void script(const QString& path, ScriptedResponse response);
    // How many requests for `path` arrived, answered or not.
    int requestCount(const QString& path) const { return _requestCounts.value(path); }
    // Requests for `path` wait, their connections open, until releaseHeld(): a test can then
    // act while a client is known to be waiting for that file.
    void hold(const QString& path);
    // Answers every waiting request as it would have been answered, and holds nothing more.
    void releaseHeld();

signals:
    // A request for a held path arrived and waits.
    void requestHeld(const QString& path);

private:
    struct HeldRequest {
        QPointer<QTcpSocket> socket;
        bool headOnly = false;
        QString path;
    };

    void accept();
    void readRequest(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const QByteArray& method, const QString& path);
    void serve(QTcpSocket* socket, bool headOnly, const QString& path);
    void respond(QTcpSocket* socket, bool headOnly, const ScriptedResponse& response);
    ScriptedResponse fileResponse(const QString& path) const;

    QTcpServer* _server;
    QString _folder;
    QHash<QString, ScriptedResponse> _scripts;
    QHash<QString, int> _requestCounts;
    QSet<QString> _held;
    QList<HeldRequest> _waiting;
};

}  // namespace quaymark
