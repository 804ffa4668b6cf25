#include "Downloader.h"

#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <cstdio>

namespace quaymark {
namespace {

// Bytes taken from the reply per read, and what the network layer may hold for us beyond
// that: the archive goes to disk in pieces this size, never whole through memory.
constexpr qint64 kChunkBytes = 256 * 1024;
constexpr qint64 kReadBufferBytes = 1024 * 1024;

const char* const kNetworkAdvice = "Check the network connection, then try again.";
const char* const kLaterAdvice =
    "Try again later; if this keeps happening, tell the application's developer.";
const char* const kAddressAdvice = "Tell the application's developer, who must correct it.";
const char* const kDiskAdvice = "Make room on the disk, then try again.";

std::string sizeText(std::uint64_t bytes) {
    constexpr std::uint64_t kMegabyte = 1024 * 1024;
    if (bytes >= kMegabyte && bytes % kMegabyte == 0)
        return std::to_string(bytes / kMegabyte) + " MB";
    return std::to_string(bytes) + " bytes";
}

}  // namespace

std::string httpStatusText(int status) {
    static const std::pair<int, const char*> kPhrases[] = {
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {402, "Payment Required"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {406, "Not Acceptable"},
        {407, "Proxy Authentication Required"},
        {408, "Request Timeout"},
        {409, "Conflict"},
        {410, "Gone"},
        {411, "Length Required"},
        {412, "Precondition Failed"},
        {413, "Content Too Large"},
        {414, "URI Too Long"},
        {415, "Unsupported Media Type"},
        {416, "Range Not Satisfiable"},
        {417, "Expectation Failed"},
        {421, "Misdirected Request"},
        {422, "Unprocessable Content"},
        {425, "Too Early"},
        {426, "Upgrade Required"},
        {428, "Precondition Required"},
        {429, "Too Many Requests"},
        {431, "Request Header Fields Too Large"},
        {451, "Unavailable For Legal Reasons"},
        {500, "Internal Server Error"},
        {501, "Not Implemented"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
        {505, "HTTP Version Not Supported"},
        {511, "Network Authentication Required"},
    };
    for (const auto& [code, phrase] : kPhrases)
        if (code == status)
            return std::to_string(code) + " " + phrase;
    return "status " + std::to_string(status);
}

std::string secondsText(std::chrono::milliseconds duration) {
    const long long ms = duration.count();
    if (ms % 1000 == 0)
        return std::to_string(ms / 1000) + (ms == 1000 ? " second" : " seconds");
    char text[32];
    std::snprintf(text, sizeof text, "%g seconds", static_cast<double>(ms) / 1000.0);
    return text;
}

Downloader::Downloader(QNetworkAccessManager& network, DownloadLimits limits, QObject* parent)
    : QObject(parent), _network(network), _limits(limits) {
    _stallTimer.setSingleShot(true);
    _overallTimer.setSingleShot(true);
    _pendingFailure.setSingleShot(true);
    connect(&_stallTimer, &QTimer::timeout, this, [this] {
        fail("no data arrived for " + secondsText(_limits.stallTimeout), kNetworkAdvice);
    });
    connect(&_overallTimer, &QTimer::timeout, this, [this] {
        fail("the transfer took longer than " + secondsText(_limits.overallTimeout),
             kNetworkAdvice);
    });
    // Failures known before any transfer still reach the caller from the event loop, so
    // that fetch() never calls back into a caller that is still setting up.
    connect(&_pendingFailure, &QTimer::timeout, this, [this] { complete(_pendingFailureText); });
}

Downloader::~Downloader() {
    detachReply();
}

void Downloader::fetch(const QUrl& url, Completion completion) {
    fetch(DownloadRequest{.url = url}, std::move(completion));
}

void Downloader::fetch(const DownloadRequest& request, Completion completion) {
    cancel();
    _completion = std::move(completion);
    start(request);
}

void Downloader::download(const DownloadRequest& request, const std::string& path,
                          Progress progress, FileCompletion completion) {
    cancel();
    _fileCompletion = std::move(completion);
    _progress = std::move(progress);
    _file = std::make_unique<QFile>(QString::fromStdString(path));
    if (!_file->open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        _request = request;
        _pendingFailureText = request.subject + " could not be saved in " + path + ": " +
                              _file->errorString().toStdString() + ". " + kDiskAdvice;
        _pendingFailure.start(0);
        return;
    }
    start(request);
}

void Downloader::start(const DownloadRequest& request) {
    _request = request;
    _received = 0;
    const QUrl& url = request.url;
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != "http" && scheme != "https" && scheme != "file")) {
        _pendingFailureText = request.subject + " could not be loaded: its address \"" +
                              url.toString().toStdString() +
                              "\" is not an http, https or file URL. " + kAddressAdvice;
        _pendingFailure.start(0);
        return;
    }
    QNetworkRequest networkRequest(url);
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                QNetworkRequest::NoLessSafeRedirectPolicy);
    networkRequest.setMaximumRedirectsAllowed(_limits.maximumRedirects);
    networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                                QNetworkRequest::AlwaysNetwork);
    _reply = _network.get(networkRequest);
    // The network thread stops reading the socket once this much waits for us, so a fast
    // server cannot fill memory while the event loop is busy.
    _reply->setReadBufferSize(kReadBufferBytes);
    connect(_reply, &QNetworkReply::readyRead, this, &Downloader::received);
    connect(_reply, &QNetworkReply::metaDataChanged, this, [this] {
        bool known = false;
        const qint64 announced =
            _reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (!known)
            return;
        if (_request.expectedLength > 0 &&
            static_cast<std::uint64_t>(announced) > _request.expectedLength)
            return fail("the server announces " + std::to_string(announced) +
                            " bytes, longer than the " + std::to_string(_request.expectedLength) +
                            " bytes the feed states",
                        kLaterAdvice);
        if (announced > _limits.maximumBytes)
            fail("it is larger than " + sizeText(static_cast<std::uint64_t>(_limits.maximumBytes)),
                 kLaterAdvice);
    });
    // Redirects and headers count as signs of life, as bytes do.
    connect(_reply, &QNetworkReply::redirected, this, [this] { _stallTimer.start(); });
    connect(_reply, &QNetworkReply::finished, this, &Downloader::finished);
    _stallTimer.start(_limits.stallTimeout);
    _overallTimer.start(_limits.overallTimeout);
}

void Downloader::cancel() {
    detachReply();
    _pendingFailure.stop();
    _completion = nullptr;
    _fileCompletion = nullptr;
    _progress = nullptr;
    _body.clear();
    _file.reset();
}

void Downloader::received() {
    if (_reply == nullptr)
        return;
    _stallTimer.start();
    // In pieces, so that each is judged against the bounds before the next is taken.
    while (_reply != nullptr && _reply->bytesAvailable() > 0)
        if (!take(_reply->read(kChunkBytes)))
            return;
    if (_reply != nullptr && _progress) {
        bool known = false;
        const qint64 total =
            _reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        _progress(_received,
                  known && total > 0 ? static_cast<std::uint64_t>(total) : _request.expectedLength);
    }
}

bool Downloader::take(const QByteArray& bytes) {
    _received += static_cast<std::uint64_t>(bytes.size());
    if (_request.expectedLength > 0 && _received > _request.expectedLength) {
        fail("more than the " + std::to_string(_request.expectedLength) +
                 " bytes the feed states arrived",
             kLaterAdvice);
        return false;
    }
    if (_received > static_cast<std::uint64_t>(_limits.maximumBytes)) {
        fail("it is larger than " + sizeText(static_cast<std::uint64_t>(_limits.maximumBytes)),
             kLaterAdvice);
        return false;
    }
    if (_file == nullptr) {
        _body += bytes;
    } else if (_file->write(bytes) != bytes.size()) {
        fail("it could not be saved: " + _file->errorString().toStdString(), kDiskAdvice);
        return false;
    }
    return true;
}

void Downloader::finished() {
    if (_reply == nullptr)
        return;
    received();
    if (_reply == nullptr)
        return;
    const QVariant status = _reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() >= 400)
        return fail("the server answered " + httpStatusText(status.toInt()), kLaterAdvice);
    switch (_reply->error()) {
        case QNetworkReply::NoError:
            break;
        case QNetworkReply::TooManyRedirectsError:
            return fail("the server sent more than " + std::to_string(_limits.maximumRedirects) +
                            " redirects",
                        kLaterAdvice);
        case QNetworkReply::InsecureRedirectError:
            return fail("a redirect led from https to plain http", kLaterAdvice);
        default:
            return fail(_reply->errorString().toStdString(), kNetworkAdvice);
    }
    if (_request.expectedLength > 0 && _received != _request.expectedLength)
        return fail("it is incomplete: " + std::to_string(_received) + " of the " +
                        std::to_string(_request.expectedLength) + " bytes the feed states arrived",
                    kNetworkAdvice);
    if (_file != nullptr && !_file->flush())
        return fail("it could not be saved: " + _file->errorString().toStdString(), kDiskAdvice);
    complete(std::nullopt);
}

void Downloader::fail(const std::string& reason, const std::string& advice) {
    complete(_request.subject + " could not be loaded: " + reason + ". " + advice);
}

void Downloader::complete(std::optional<std::string> failure) {
    detachReply();
    const std::uint64_t received = _received;
    QByteArray body = std::exchange(_body, {});
    if (_file != nullptr)
        _file->close();
    _file.reset();
    _progress = nullptr;
    // The callback may start the next download on this object, so nothing of this one remains.
    if (Completion completion = std::exchange(_completion, nullptr)) {
        completion(failure ? Result<QByteArray>::failure(*failure)
                           : Result<QByteArray>::success(std::move(body)));
    } else if (FileCompletion fileCompletion = std::exchange(_fileCompletion, nullptr)) {
        fileCompletion(failure ? Result<std::uint64_t>::failure(*failure)
                               : Result<std::uint64_t>::success(received));
    }
}

void Downloader::detachReply() {
    _stallTimer.stop();
    _overallTimer.stop();
    if (QNetworkReply* reply = _reply.data()) {
        _reply = nullptr;
        reply->disconnect(this);
        // abort() reports synchronously, which the disconnect above keeps from reaching us.
        reply->abort();
        reply->deleteLater();
    }
}

}  // namespace quaymark
