#include "FeedServer.h"

#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <utility>

namespace quaymark {
namespace {

// A request head larger than this is refused rather than buffered without end.
constexpr qsizetype kMaximumRequestHead = 16 * 1024;
constexpr qint64 kGeneratedChunk = 64 * 1024;

QByteArray reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

QByteArray contentTypeOf(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == "xml" || suffix == "rss")
        return "application/xml";
    if (suffix == "html" || suffix == "htm")
        return "text/html; charset=utf-8";
    if (suffix == "zip")
        return "application/zip";
    return "application/octet-stream";
}

ScriptedResponse plain(int status) {
    ScriptedResponse response;
    response.status = status;
    response.body = reasonPhrase(status) + "\n";
    response.contentType = "text/plain";
    return response;
}

// Sends the generated body in chunks as the socket drains, so a huge body never sits in memory.
void sendGenerated(QTcpSocket* socket, qint64 remaining) {
    auto left = std::make_shared<qint64>(remaining);
    auto more = [socket, left] {
        if (*left == 0 || socket->bytesToWrite() > kGeneratedChunk)
            return;
        const qint64 size = std::min(*left, kGeneratedChunk);
        socket->write(QByteArray(size, 'x'));
        *left -= size;
        if (*left == 0)
            socket->disconnectFromHost();
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, more);
    more();
}

void trickle(QTcpSocket* socket, QByteArray body, std::chrono::milliseconds interval) {
    auto* timer = new QTimer(socket);
    auto sent = std::make_shared<qsizetype>(0);
    QObject::connect(timer, &QTimer::timeout, socket, [socket, timer, body, sent] {
        if (*sent >= body.size()) {
            timer->stop();
            socket->disconnectFromHost();
            return;
        }
        socket->write(body.mid((*sent)++, 1));
    });
    timer->start(interval);
}

}  // namespace

FeedServer::FeedServer(QString folder, QObject* parent)
    : QObject(parent), _server(new QTcpServer(this)), _folder(std::move(folder)) {
    connect(_server, &QTcpServer::newConnection, this, &FeedServer::accept);
}

FeedServer::~FeedServer() = default;

bool FeedServer::listen(quint16 port) {
    return _server->listen(QHostAddress::LocalHost, port);
}

quint16 FeedServer::port() const {
    return _server->serverPort();
}

QUrl FeedServer::url(const QString& path) const {
    return QUrl(QString("http://127.0.0.1:%1%2").arg(port()).arg(path));
}

void FeedServer::script(const QString& path, ScriptedResponse response) {
    _scripts.insert(path, std::move(response));
}

void FeedServer::hold(const QString& path) {
    _held.insert(path);
}

void FeedServer::releaseHeld() {
    _held.clear();
    for (const HeldRequest& waiting : std::exchange(_waiting, {})) {
        // A client that gave up meanwhile has taken its socket with it.
        if (waiting.socket)
            serve(waiting.socket, waiting.headOnly, waiting.path);
    }
}

void FeedServer::accept() {
    while (QTcpSocket* socket = _server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
    }
}

void FeedServer::readRequest(QTcpSocket* socket) {
    // One request per connection: once the head is complete the rest is ignored.
    if (socket->property("answered").toBool()) {
        socket->readAll();
        return;
    }
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0) {
        socket->setProperty("head", head);
        if (head.size() > kMaximumRequestHead) {
            socket->setProperty("answered", true);
            respond(socket, false, plain(400));
        }
        return;
    }
    socket->setProperty("answered", true);
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/1.")) {
        respond(socket, false, plain(400));
        return;
    }
    const QByteArray target = requestLine[1];
    const qsizetype query = target.indexOf('?');
    const QString path = QUrl::fromPercentEncoding(query < 0 ? target : target.left(query));
    answer(socket, requestLine[0], path);
}

void FeedServer::answer(QTcpSocket* socket, const QByteArray& method, const QString& path) {
    const bool headOnly = method == "HEAD";
    if (!headOnly && method != "GET") {
        respond(socket, false, plain(405));
        return;
    }
    _requestCounts[path] += 1;
    if (_held.contains(path)) {
        _waiting.append({socket, headOnly, path});
        emit requestHeld(path);
        return;
    }
    serve(socket, headOnly, path);
}

void FeedServer::serve(QTcpSocket* socket, bool headOnly, const QString& path) {
    const auto scripted = _scripts.constFind(path);
    const ScriptedResponse response = scripted != _scripts.cend() ? *scripted : fileResponse(path);
    if (response.neverAnswer)
        return;
    if (response.delay.count() > 0) {
        QTimer::singleShot(response.delay, socket, [this, socket, headOnly, response] {
            respond(socket, headOnly, response);
        });
        return;
    }
    respond(socket, headOnly, response);
}

void FeedServer::respond(QTcpSocket* socket, bool headOnly, const ScriptedResponse& response) {
    const qint64 length =
        response.generatedBodySize > 0 ? response.generatedBodySize : response.body.size();
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " " +
                      reasonPhrase(response.status) + "\r\n";
    if (response.declareLength)
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    head += "Content-Type: " + response.contentType + "\r\n";
    if (!response.location.isEmpty())
        head += "Location: " + response.location + "\r\n";
    head += "Connection: close\r\n\r\n";
    socket->write(head);
    if (headOnly) {
        socket->disconnectFromHost();
    } else if (response.generatedBodySize > 0) {
        sendGenerated(socket, response.generatedBodySize);
    } else if (response.trickleInterval.count() > 0) {
        trickle(socket, response.body, response.trickleInterval);
    } else {
        socket->write(response.body);
        // Closes once everything written has gone out.
        socket->disconnectFromHost();
    }
}

ScriptedResponse FeedServer::fileResponse(const QString& path) const {
    if (_folder.isEmpty() || !path.startsWith('/') || path.contains(QChar(0)))
        return plain(404);
    const QStringList segments = path.split('/');
    if (segments.contains("..") || segments.contains("."))
        return plain(404);
    const QString root = QFileInfo(_folder).canonicalFilePath();
    // The canonical path resolves every symbolic link, so a link that leads out of the
    // folder ends outside the root and is refused like a missing file.
    const QString file = QFileInfo(_folder + path).canonicalFilePath();
    if (root.isEmpty() || file.isEmpty() || !file.startsWith(root + '/') ||
        !QFileInfo(file).isFile())
        return plain(404);
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly))
        return plain(403);
    ScriptedResponse response;
    response.body = input.readAll();
    response.contentType = contentTypeOf(file);
    return response;
}

}  // namespace quaymark
