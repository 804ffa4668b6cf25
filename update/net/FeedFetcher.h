// Fetching one document (a feed or release notes) over http, https or file, within bounds.
#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <functional>

#include "Result.h"

class QNetworkAccessManager;

namespace quaymark {

// Bounds that keep any server, however it behaves, from holding a fetch for long.
struct FetchLimits {
    // The fetch fails when no bytes have arrived for this long.
    std::chrono::milliseconds stallTimeout{20'000};
    // The fetch fails when it has not finished after this long, however steadily bytes come.
    std::chrono::milliseconds overallTimeout{60'000};
    // Documents larger than this are refused, announced or not.
    qint64 maximumBytes = 10 * 1024 * 1024;
    // Redirects followed before the fetch fails; a redirect loop ends here too.
    int maximumRedirects = 8;
};

// One fetch at a time on the thread that owns the object (the main thread). The callback
// runs there, from the event loop, never from inside fetch() itself.
class FeedFetcher : public QObject {
    Q_OBJECT
public:
    using Completion = std::function<void(Result<QByteArray>)>;

    FeedFetcher(QNetworkAccessManager& network, FetchLimits limits, QObject* parent = nullptr);
    ~FeedFetcher() override;

    // Starts fetching `url`; a fetch still running is abandoned and its callback never runs.
    // The callback gets the body, or one line saying why there is none: an unsupported
    // scheme, a network or HTTP error, a time limit or the size limit.
    void fetch(const QUrl& url, Completion completion);
    // Abandons the running fetch, if any; its callback never runs.
    void cancel();

private:
    void received();
    void finished();
    void fail(const std::string& reason);
    void complete(Result<QByteArray> result);
    void detachReply();

    QNetworkAccessManager& _network;
    FetchLimits _limits;
    QPointer<QNetworkReply> _reply;
    QByteArray _body;
    Completion _completion;
    QTimer _stallTimer;
    QTimer _overallTimer;
    QTimer _pendingFailure;
    std::string _pendingReason;
};

}  // namespace quaymark
