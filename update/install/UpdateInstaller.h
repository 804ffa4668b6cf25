// Installing a release in place of the running application: download, signature check,
// unpacking, checks of the new bundle, the exchange, and the relaunch.
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include "ArchiveUnpacker.h"
#include "BundleReplacement.h"
#include "Downloader.h"
#include "FileLock.h"
#include "Platform.h"
#include "UpdateUserInterface.h"
#include "Updater.h"

class QNetworkAccessManager;

namespace quaymark {

struct UpdateInstallerOptions {
    // An archive is large and may come slowly, so the overall bound is far above a feed's.
    DownloadLimits limits{.stallTimeout = std::chrono::seconds(30),
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

// One installation at a time per bundle, across processes. It runs from the main thread: the
// download streams to disk there, while the signature check, unpacking and the exchange run
// on a worker thread, so the window keeps answering. Every refusal is logged, shown in one
// line through the interface's error window, and leaves the installed application as it was.
class UpdateInstaller : public QObject {
    Q_OBJECT
public:
    using Completion = std::function<void(std::optional<std::string> failure)>;

    UpdateInstaller(Platform platform, QNetworkAccessManager& network, UpdateUserInterface& ui,
                    UpdateInstallerOptions options = {});
    // Waits for the worker, which stops at its next block once told to.
    ~UpdateInstaller() override;

    // Starts installing `item`; ignored while an installation runs. `completion`, if given,
    // runs once from the event loop: with nothing after the new version was started, or
    // with the reason it was not (also when the user cancelled, or another process is
    // updating the same bundle).
    void install(const SUAppcastItem& item, Completion completion = nullptr);
    bool isInstalling() const { return _stage != Stage::Idle; }

private:
    enum class Stage { Idle, Starting, Downloading, Working };
    // The user who cancelled needs no window saying so.
    enum class Tell { User, LogOnly };

    void downloaded(Result<std::uint64_t> archive);
    void worked(std::optional<std::string> failure);
    void cancel();
    void finish(std::optional<std::string> failure, Tell tell = Tell::User);
    void releaseFolder();
    // Runs `work` on the main thread, from its event loop.
    void post(std::function<void()> work);
    std::string applicationPath() const;

    Platform _platform;
    UpdateUserInterface& _ui;
    UpdateInstallerOptions _options;
    Downloader _downloader;
    Stage _stage = Stage::Idle;
    SUAppcastItem _item;
    Completion _completion;
    std::optional<FileLock> _bundleLock;
    std::optional<UpdateFolder> _folder;
    std::thread _worker;
    std::atomic<bool> _cancelled = false;
    QTimer _pendingFailure;
    std::string _pendingReason;
};

}  // namespace quaymark
