// Downloading one resource over http, https or file within bounds, into memory (a feed, release
// notes) or streamed into a file (an update archive).
#pragma once

#include <QByteArray>
#include <QFile>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Result.h"

class QNetworkAccessManager;

namespace quaymark {

// Bounds that keep any server, however it behaves, from holding a download for long.
struct DownloadLimits {
    // The download fails when no bytes have arrived for this long.
    std::chrono::milliseconds stallTimeout{20'000};
    // The download fails when it has not finished after this long, however steadily bytes come.
    std::chrono::milliseconds overallTimeout{60'000};
    // Resources larger than this are refused, announced or not, as soon as the bytes pass it.
    qint64 maximumBytes = 10 * 1024 * 1024;
    // Redirects followed before the download fails; a redirect loop ends here too.
    int maximumRedirects = 8;
};

struct DownloadRequest {
    QUrl url;
    // What is downloaded, as the failure texts name it: "The update feed", "The update".
    std::string subject = "The document";
    // The length the feed states; a resource passing it fails as the bytes arrive, one
    // falling short fails at the end. 0 when nothing is stated.
    std::uint64_t expectedLength = 0;
};

// One download at a time on the thread that owns the object (the main thread). Callbacks run
// there, from the event loop, never from inside fetch() or download() themselves. A failure
// reads as one sentence naming the subject and what failed, then one saying what the user can
// do, in seconds and with the HTTP status's reason phrase ("404 Not Found").
class Downloader : public QObject {
    Q_OBJECT
public:
    using Completion = std::function<void(Result<QByteArray>)>;
    // The number of bytes written to the file.
    using FileCompletion = std::function<void(Result<std::uint64_t>)>;
    // Bytes received so far and the total the server or the feed announced (0 when unknown).
    using Progress = std::function<void(std::uint64_t received, std::uint64_t total)>;

    Downloader(QNetworkAccessManager& network, DownloadLimits limits, QObject* parent = nullptr);
    ~Downloader() override;

    // Fetches `url` into memory; a download still running is abandoned and its callback never
    // runs. The callback gets the body or the failure: an unsupported scheme, a network or
    // HTTP error, a time limit or the size limit.
    void fetch(const QUrl& url, Completion completion);
    void fetch(const DownloadRequest& request, Completion completion);
    // Streams the resource into the new file `path` (which must not exist yet) as it arrives.
    // The callback gets the length written or the failure, as fetch() does, or that the file
    // could not be written; the file is left for the caller to remove.
    void download(const DownloadRequest& request, const std::string& path, Progress progress,
                  FileCompletion completion);
    // Abandons the running download, if any; its callback never runs.
    void cancel();

private:
    void start(const DownloadRequest& request);
    void received();
    void finished();
    bool take(const QByteArray& bytes);
    void fail(const std::string& reason, const std::string& advice);
    void complete(std::optional<std::string> failure);
    void detachReply();

    QNetworkAccessManager& _network;
    DownloadLimits _limits;
    DownloadRequest _request;
    QPointer<QNetworkReply> _reply;
    std::uint64_t _received = 0;
    QByteArray _body;
    std::unique_ptr<QFile> _file;
    Completion _completion;
    FileCompletion _fileCompletion;
    Progress _progress;
    QTimer _stallTimer;
    QTimer _overallTimer;
    QTimer _pendingFailure;
    std::string _pendingFailureText;
};

// "404 Not Found", or "status 499" for a code without a standard reason phrase. The server's
// own phrase is never shown: it is text the server chose.
std::string httpStatusText(int status);

// "20 seconds", "1 second", "0.5 seconds".
std::string secondsText(std::chrono::milliseconds duration);

}  // namespace quaymark
