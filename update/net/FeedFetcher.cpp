#include "FeedFetcher.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace quaymark {
namespace {

std::string megabytes(qint64 bytes) {
    return std::to_string(bytes / (1024 * 1024)) + " MB";
}

}  // namespace

FeedFetcher::FeedFetcher(QNetworkAccessManager& network, FetchLimits limits, QObject* parent)
    : QObject(parent), _network(network), _limits(limits) {
    _stallTimer.setSingleShot(true);
    _overallTimer.setSingleShot(true);
    _pendingFailure.setSingleShot(true);
    connect(&_stallTimer, &QTimer::timeout, this, [this] {
        fail("no data arrived for " + std::to_string(_limits.stallTimeout.count()) + " ms");
    });
    connect(&_overallTimer, &QTimer::timeout, this, [this] {
        fail("the transfer took longer than " + std::to_string(_limits.overallTimeout.count()) +
             " ms");
    });
    // Failures known before any transfer still reach the caller from the event loop, so
    // that fetch() never calls back into a caller that is still setting up.
    connect(&_pendingFailure, &QTimer::timeout, this,
            [this] { complete(Result<QByteArray>::failure(_pendingReason)); });
}

FeedFetcher::~FeedFetcher() {
    detachReply();
}

void FeedFetcher::fetch(const QUrl& url, Completion completion) {
    cancel();
    _completion = std::move(completion);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != "http" && scheme != "https" && scheme != "file")) {
        _pendingReason = "the address \"" + url.toString().toStdString() +
                         "\" is not an http, https or file URL";
        _pendingFailure.start(0);
        return;
    }
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(_limits.maximumRedirects);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    _reply = _network.get(request);
    connect(_reply, &QNetworkReply::readyRead, this, &FeedFetcher::received);
    connect(_reply, &QNetworkReply::metaDataChanged, this, [this] {
        bool known = false;
        const qint64 announced =
            _reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && announced > _limits.maximumBytes)
            fail("the document is larger than " + megabytes(_limits.maximumBytes));
    });
    // Redirects and headers count as signs of life, as bytes do.
    connect(_reply, &QNetworkReply::redirected, this, [this] { _stallTimer.start(); });
    connect(_reply, &QNetworkReply::finished, this, &FeedFetcher::finished);
    _stallTimer.start(_limits.stallTimeout);
    _overallTimer.start(_limits.overallTimeout);
}

void FeedFetcher::cancel() {
    detachReply();
    _pendingFailure.stop();
    _completion = nullptr;
}

void FeedFetcher::received() {
    if (_reply == nullptr)
        return;
    _stallTimer.start();
    _body += _reply->readAll();
    if (_body.size() > _limits.maximumBytes)
        fail("the document is larger than " + megabytes(_limits.maximumBytes));
}

void FeedFetcher::finished() {
    if (_reply == nullptr)
        return;
    _body += _reply->readAll();
    const QVariant status = _reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() >= 400) {
        const QString reason =
            _reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        fail("the server answered " + std::to_string(status.toInt()) +
             (reason.isEmpty() ? "" : " " + reason.toStdString()));
        return;
    }
    switch (_reply->error()) {
        case QNetworkReply::NoError:
            break;
        case QNetworkReply::TooManyRedirectsError:
            fail("more than " + std::to_string(_limits.maximumRedirects) + " redirects");
            return;
        case QNetworkReply::InsecureRedirectError:
            fail("a redirect led from https to plain http");
            return;
        default:
            fail(_reply->errorString().toStdString());
            return;
    }
    if (_body.size() > _limits.maximumBytes) {
        fail("the document is larger than " + megabytes(_limits.maximumBytes));
        return;
    }
    QByteArray body = std::move(_body);
    complete(Result<QByteArray>::success(std::move(body)));
}

void FeedFetcher::fail(const std::string& reason) {
    complete(Result<QByteArray>::failure(reason));
}

void FeedFetcher::complete(Result<QByteArray> result) {
    detachReply();
    // The callback may start the next fetch on this object, so nothing of this one remains.
    Completion completion = std::exchange(_completion, nullptr);
    if (completion)
        completion(std::move(result));
}

void FeedFetcher::detachReply() {
    _stallTimer.stop();
    _overallTimer.stop();
    _body.clear();
    if (QNetworkReply* reply = _reply.data()) {
        _reply = nullptr;
        reply->disconnect(this);
        // abort() reports synchronously, which the disconnect above keeps from reaching us.
        reply->abort();
        reply->deleteLater();
    }
}

}  // namespace quaymark
