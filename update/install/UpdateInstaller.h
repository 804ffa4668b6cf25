// Installing a release in place of the running application: download, signature check,
// unpacking, checks of the new bundle, the exchange, and the relaunch.
#pragma once

#include <QFile>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>

#include "ArchiveUnpacker.h"
#include "FeedFetcher.h"
#include "Platform.h"
#include "UpdateUserInterface.h"
#include "Updater.h"

class QNetworkAccessManager;

namespace quaymark {

struct UpdateInstallerOptions {
    // An archive is large and may come slowly, so the overall bound is far above a feed's.
    FetchLimits limits{.stallTimeout = std::chrono::seconds(30),
                       .overallTimeout = std::chrono::minutes(30),
                       .maximumBytes = 500ll * 1024 * 1024,
                       .maximumRedirects = 8};
    UnpackLimits unpackLimits{};
    // The real path of the bundle to replace; empty means the one this program runs from.
    std::string applicationPath{};
    // Starts the new version once it is in place; false when it could not be started. By
    // default launch services start a new instance of the bundle.
    std::function<bool(const std::string& executable)> relaunch{};
    // Ends this process once the new version runs; by default the application terminates.
    std::function<void()> quit{};
};

// One installation at a time, on the main thread. Every refusal is logged, shown in one line
// through the interface's error window, and leaves the installed application as it was.
class UpdateInstaller : public QObject {
    Q_OBJECT
public:
    using Completion = std::function<void(std::optional<std::string> failure)>;

    UpdateInstaller(Platform platform, QNetworkAccessManager& network, UpdateUserInterface& ui,
                    UpdateInstallerOptions options = {});
    ~UpdateInstaller() override;

    // Starts installing `item`; ignored while an installation runs. `completion`, if given,
    // runs once from the event loop: with nothing after the new version was started, or
    // with the reason it was not (also when the user cancelled).
    void install(const SUAppcastItem& item, Completion completion = nullptr);
    bool isInstalling() const { return _reply != nullptr || _pendingFailure.isActive(); }

private:
    void received();
    void downloaded();
    std::optional<std::string> installDownload();
    void cancel();
    void fail(const std::string& reason);
    // The user who cancelled needs no window saying so.
    enum class Tell { User, LogOnly };
    void finish(std::optional<std::string> failure, Tell tell = Tell::User);
    void stopTransfer();
    std::string applicationPath() const;

    Platform _platform;
    QNetworkAccessManager& _network;
    UpdateUserInterface& _ui;
    UpdateInstallerOptions _options;
    SUAppcastItem _item;
    Completion _completion;
    std::string _folder;
    std::unique_ptr<QFile> _archive;
    QPointer<QNetworkReply> _reply;
    std::uint64_t _received = 0;
    QTimer _stallTimer;
    QTimer _overallTimer;
    QTimer _pendingFailure;
    std::string _pendingReason;
};

}  // namespace quaymark
