#include "UpdateInstaller.h"

#include <QCoreApplication>
#include <QPointer>
#include <filesystem>

#include "AppcastSelection.h"
#include "BundleInfo.h"
#include "Signature.h"

namespace quaymark {
namespace {

constexpr const char* kPublicKeyKey = "SUPublicEDKey";

// What the user can do about an update the application refuses: nothing but wait for a good
// one, since the fault lies with the release or the feed.
std::string refused(const std::string& reason) {
    return reason +
           " The installed version stays as it is; if this keeps happening, tell the "
           "application's developer.";
}

std::string infoText(Bundle& bundle, const std::string& key) {
    return infoString(bundle, key).value_or("");
}

// The archive's address, once every check that can be made before the download has passed;
// otherwise why the update cannot be installed.
Result<QUrl> checkedArchiveAddress(const std::string& application, const SUAppcastItem& item,
                                   Bundle& mainBundle) {
    if (std::filesystem::path(application).extension() != ".app")
        return Result<QUrl>::failure(
            "The running program is not inside an application bundle, so it cannot be "
            "updated. Install it in an Applications folder, then check for updates again.");
    // The updater refuses these before it calls; checked here too for every other caller.
    if (const Result<void> installable = checkInstallable(item); !installable)
        return Result<QUrl>::failure(installable.error());
    if (infoText(mainBundle, kPublicKeyKey).empty())
        return Result<QUrl>::failure(
            refused("Updates cannot be installed: the application has no public key "
                    "(SUPublicEDKey) to check their signature with."));
    if (item.edSignature.empty())
        return Result<QUrl>::failure(refused("The update is not signed."));
    if (item.enclosureLength == 0)
        return Result<QUrl>::failure(
            refused("The update feed does not state the archive's length."));
    const QUrl url(QString::fromStdString(item.enclosureURL));
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != "http" && scheme != "https"))
        return Result<QUrl>::failure(refused("The update's address \"" + item.enclosureURL +
                                             "\" is not an http or https URL."));
    return Result<QUrl>::success(url);
}

}  // namespace

UpdateInstaller::UpdateInstaller(Platform platform, QNetworkAccessManager& network,
                                 UpdateUserInterface& ui, UpdateInstallerOptions options)
    : _platform(platform),
      _ui(ui),
      _options(std::move(options)),
      _downloader(network, _options.limits) {
    _pendingFailure.setSingleShot(true);
    connect(&_pendingFailure, &QTimer::timeout, this, [this] { finish(_pendingReason); });
}

UpdateInstaller::~UpdateInstaller() {
    _downloader.cancel();
    if (_worker.joinable()) {
        _cancelled = true;
        _worker.join();
    }
    releaseFolder();
}

std::string UpdateInstaller::applicationPath() const {
    if (!_options.applicationPath.empty())
        return _options.applicationPath;
    // <bundle>/Contents/MacOS/<executable>
    return std::filesystem::path(QCoreApplication::applicationFilePath().toStdString())
        .parent_path()
        .parent_path()
        .parent_path()
        .string();
}

void UpdateInstaller::post(std::function<void()> work) {
    // Queued to this object: should it be gone by then, the work is dropped with it.
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void UpdateInstaller::install(const SUAppcastItem& item, Completion completion) {
    if (isInstalling())
        return;
    _stage = Stage::Starting;
    _item = item;
    _completion = std::move(completion);
    _cancelled = false;
    _ui.showInstallProgress([self = QPointer<UpdateInstaller>(this)] {
        if (self)
            self->cancel();
    });
    _ui.setInstallStep(InstallStep::Downloading);
    // Refusals known before the download still arrive from the event loop, like all others.
    const auto refuseSoon = [this](std::string reason) {
        _pendingReason = std::move(reason);
        _pendingFailure.start(0);
    };
    const std::string application = applicationPath();
    Result<QUrl> url = checkedArchiveAddress(application, item, _platform.mainBundle);
    if (!url)
        return refuseSoon(url.error());

    // Held until the end, so that no other process downloads, unpacks or exchanges this
    // bundle meanwhile, nor clears away this one's folder.
    Result<FileLock> lock = lockBundleForUpdate(application);
    if (!lock)
        return refuseSoon(lock.error());
    _bundleLock = std::move(lock).value();
    const int leftovers = removeLeftoverUpdateFolders(application);
    if (leftovers > 0)
        _platform.log.log("Removed " + std::to_string(leftovers) +
                          " folders an interrupted update left behind");
    Result<UpdateFolder> folder = makeUpdateFolder(application);
    if (!folder)
        return refuseSoon(folder.error());
    _folder = std::move(folder).value();

    _stage = Stage::Downloading;
    _downloader.download(
        {.url = url.value(), .subject = "The update", .expectedLength = item.enclosureLength},
        _folder->path + "/archive",
        [this](std::uint64_t received, std::uint64_t total) {
            _ui.setInstallProgress(received, total);
        },
        [this](Result<std::uint64_t> archive) { downloaded(std::move(archive)); });
}

void UpdateInstaller::downloaded(Result<std::uint64_t> archive) {
    if (!archive)
        return finish(archive.error());
    _stage = Stage::Working;
    _ui.setInstallStep(InstallStep::Verifying);
    // Everything the worker needs is read here: the bundle and the options belong to the
    // main thread.
    ArchiveInstallation installation{
        .applicationPath = applicationPath(),
        .updateFolder = _folder->path,
        .archivePath = _folder->path + "/archive",
        .runningIdentifier = infoText(_platform.mainBundle, "CFBundleIdentifier"),
        .runningVersion = infoText(_platform.mainBundle, "CFBundleVersion"),
        .limits = _options.unpackLimits,
        .cancelled = &_cancelled,
        .unpacked = [this] { post([this] { _ui.setInstallStep(InstallStep::Installing); }); }};
    const std::string publicKey = infoText(_platform.mainBundle, kPublicKeyKey);
    _worker = std::thread([this, installation = std::move(installation), publicKey,
                           signature = _item.edSignature] {
        Result<void> outcome = checkFileSignature(installation.archivePath, signature, publicKey);
        if (outcome && _cancelled)
            outcome = Result<void>::failure(kUpdateCancelled);
        if (outcome) {
            post([this] { _ui.setInstallStep(InstallStep::Extracting); });
            outcome = installArchive(_platform.fileManager, installation);
        }
        std::optional<std::string> failure;
        if (!outcome)
            failure =
                outcome.error() == kUpdateCancelled ? outcome.error() : refused(outcome.error());
        post([this, failure] { worked(failure); });
    });
}

void UpdateInstaller::worked(std::optional<std::string> failure) {
    _worker.join();
    if (failure)
        return finish(failure, *failure == kUpdateCancelled ? Tell::LogOnly : Tell::User);
    // installArchive removed the folder with the old bundle in it.
    _folder.reset();

    // The toolbar item names the bundle's path, which has not changed; the new version
    // refreshes the item's icon itself when it finishes launching.
    // Launched as a new instance, since this one still runs until the new one has started;
    // launch services then know the new version as they knew the old.
    const std::string application = applicationPath();
    const std::string executable = application + "/" + bundleExecutables().front();
    const bool started = _options.relaunch
                             ? _options.relaunch(executable)
                             : _platform.workspace.launchNewInstanceOfApplication(application);
    if (!started)
        return finish(
            "The new version is installed but could not be started; please open it again.");
    finish(std::nullopt);
}

void UpdateInstaller::cancel() {
    switch (_stage) {
        case Stage::Idle:
            return;
        case Stage::Starting:
        case Stage::Downloading:
            _downloader.cancel();
            return finish(kUpdateCancelled, Tell::LogOnly);
        case Stage::Working:
            // The worker stops at its next block and reports the cancellation; the window
            // need not wait for that.
            _cancelled = true;
            _ui.closeInstallProgress();
            return;
    }
}

void UpdateInstaller::releaseFolder() {
    if (!_folder)
        return;
    std::error_code ignored;  // a folder left behind is removed by the next update
    std::filesystem::remove_all(_folder->path, ignored);
    _folder.reset();
}

void UpdateInstaller::finish(std::optional<std::string> failure, Tell tell) {
    _stage = Stage::Idle;
    _downloader.cancel();
    _pendingFailure.stop();
    releaseFolder();
    _bundleLock.reset();
    _ui.closeInstallProgress();
    if (failure) {
        _platform.log.log(*failure);
        if (tell == Tell::User)
            _ui.showError(*failure);
    }
    Completion completion = std::exchange(_completion, nullptr);
    if (completion)
        completion(failure);
    if (!failure) {
        if (_options.quit)
            _options.quit();
        else
            // The settings application runs its own loop, which QCoreApplication::quit()
            // would not end: the old version would stay beside the new one.
            _platform.application.terminate();
    }
}

}  // namespace quaymark
