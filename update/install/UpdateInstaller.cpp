#include "UpdateInstaller.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <filesystem>

#include "BundleInfo.h"
#include "BundleReplacement.h"
#include "Signature.h"

namespace quaymark {
namespace {

constexpr const char* kPublicKeyKey = "SUPublicEDKey";

std::string infoText(Bundle& bundle, const std::string& key) {
    return infoString(bundle, key).value_or("");
}

std::string megabytes(qint64 bytes) {
    return std::to_string(bytes / (1024 * 1024)) + " MB";
}

}  // namespace

UpdateInstaller::UpdateInstaller(Platform platform, QNetworkAccessManager& network,
                                 UpdateUserInterface& ui, UpdateInstallerOptions options)
    : _platform(platform), _network(network), _ui(ui), _options(std::move(options)) {
    _stallTimer.setSingleShot(true);
    _overallTimer.setSingleShot(true);
    _pendingFailure.setSingleShot(true);
    connect(&_stallTimer, &QTimer::timeout, this, [this] {
        fail("The download stopped: no data arrived for " +
             std::to_string(_options.limits.stallTimeout.count()) + " ms.");
    });
    connect(&_overallTimer, &QTimer::timeout, this, [this] {
        fail("The download took longer than " +
             std::to_string(_options.limits.overallTimeout.count()) + " ms.");
    });
    connect(&_pendingFailure, &QTimer::timeout, this, [this] { fail(_pendingReason); });
}

UpdateInstaller::~UpdateInstaller() {
    stopTransfer();
    if (!_folder.empty()) {
        std::error_code ignored;  // a folder left behind is removed by the next update
        std::filesystem::remove_all(_folder, ignored);
    }
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

void UpdateInstaller::install(const SUAppcastItem& item, Completion completion) {
    if (isInstalling())
        return;
    _item = item;
    _completion = std::move(completion);
    _received = 0;
    _ui.showInstallProgress([self = QPointer<UpdateInstaller>(this)] {
        if (self)
            self->cancel();
    });
    // Refusals known before the download still arrive from the event loop, like all others.
    const auto refuseSoon = [this](std::string reason) {
        _pendingReason = std::move(reason);
        _pendingFailure.start(0);
    };
    const std::string application = applicationPath();
    if (std::filesystem::path(application).extension() != ".app")
        return refuseSoon("The running program is not inside an application bundle.");
    if (infoText(_platform.mainBundle, kPublicKeyKey).empty())
        return refuseSoon(
            "Updates cannot be installed: the application has no public key "
            "(SUPublicEDKey) to check their signature with.");
    if (item.edSignature.empty())
        return refuseSoon("The update is not signed.");
    if (item.enclosureLength == 0)
        return refuseSoon("The update feed does not state the archive's length.");
    const int leftovers = removeLeftoverUpdateFolders(application);
    if (leftovers > 0)
        _platform.log.log("Removed " + std::to_string(leftovers) +
                          " folders an interrupted update left behind");
    Result<std::string> folder = makeUpdateFolder(application);
    if (!folder)
        return refuseSoon(folder.error());
    _folder = std::move(folder).value();
    _archive = std::make_unique<QFile>(QString::fromStdString(_folder + "/archive"));
    if (!_archive->open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return refuseSoon("The update could not be saved in " + _folder + ".");
    const QUrl url(QString::fromStdString(item.enclosureURL));
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != "http" && scheme != "https"))
        return refuseSoon("The update's address \"" + item.enclosureURL +
                          "\" is not an http or https URL.");

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(_options.limits.maximumRedirects);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    _reply = _network.get(request);
    connect(_reply, &QNetworkReply::readyRead, this, &UpdateInstaller::received);
    connect(_reply, &QNetworkReply::redirected, this, [this] { _stallTimer.start(); });
    connect(_reply, &QNetworkReply::finished, this, &UpdateInstaller::downloaded);
    _stallTimer.start(_options.limits.stallTimeout);
    _overallTimer.start(_options.limits.overallTimeout);
}

void UpdateInstaller::received() {
    if (_reply == nullptr)
        return;
    _stallTimer.start();
    const QByteArray bytes = _reply->readAll();
    _received += static_cast<std::uint64_t>(bytes.size());
    if (_received > static_cast<std::uint64_t>(_options.limits.maximumBytes))
        return fail("The update is larger than " + megabytes(_options.limits.maximumBytes) + ".");
    if (_archive->write(bytes) != bytes.size())
        return fail("The update could not be saved: " + _archive->errorString().toStdString());
    bool known = false;
    const qint64 total = _reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    _ui.setInstallProgress(
        _received, known && total > 0 ? static_cast<std::uint64_t>(total) : _item.enclosureLength);
}

void UpdateInstaller::downloaded() {
    if (_reply == nullptr)
        return;
    received();
    if (_reply == nullptr)
        return;
    const QVariant status = _reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() >= 400)
        return fail("The update could not be downloaded: the server answered " +
                    std::to_string(status.toInt()) + ".");
    if (_reply->error() != QNetworkReply::NoError)
        return fail("The update could not be downloaded: " + _reply->errorString().toStdString() +
                    ".");
    stopTransfer();
    // The feed states the archive's length; anything else is a cut or swapped download.
    if (_received != _item.enclosureLength)
        return fail("The download is incomplete: " + std::to_string(_received) + " of " +
                    std::to_string(_item.enclosureLength) + " bytes arrived.");
    if (!_archive->flush())
        return fail("The update could not be saved: " + _archive->errorString().toStdString());
    _archive->close();
    finish(installDownload());
}

std::optional<std::string> UpdateInstaller::installDownload() {
    QFile archive(QString::fromStdString(_folder + "/archive"));
    if (!archive.open(QIODevice::ReadOnly))
        return "The downloaded update could not be read again.";
    const QByteArray bytes = archive.readAll();
    if (std::optional<std::string> refusal =
            signatureRefusal(std::string_view(bytes.constData(), bytes.size()), _item.edSignature,
                             infoText(_platform.mainBundle, kPublicKeyKey)))
        return refusal;

    const std::string application = applicationPath();
    if (std::optional<std::string> failure = installArchive(
            _platform.fileManager,
            {.applicationPath = application,
             .updateFolder = _folder,
             .archivePath = _folder + "/archive",
             .runningIdentifier = infoText(_platform.mainBundle, "CFBundleIdentifier"),
             .runningVersion = infoText(_platform.mainBundle, "CFBundleVersion"),
             .limits = _options.unpackLimits}))
        return failure;
    _folder.clear();

    // The toolbar item names the bundle's path, which has not changed; the new version
    // refreshes the item's icon itself when it finishes launching.
    // Launched as a new instance, since this one still runs until the new one has started;
    // launch services then know the new version as they knew the old.
    const std::string executable = application + "/" + bundleExecutables().front();
    const bool started = _options.relaunch
                             ? _options.relaunch(executable)
                             : _platform.workspace.launchNewInstanceOfApplication(application);
    if (!started)
        return "The new version is installed but could not be started; please open it again.";
    return std::nullopt;
}

void UpdateInstaller::cancel() {
    if (isInstalling())
        finish("The update was cancelled.", Tell::LogOnly);
}

void UpdateInstaller::fail(const std::string& reason) {
    finish(reason);
}

void UpdateInstaller::finish(std::optional<std::string> failure, Tell tell) {
    stopTransfer();
    _pendingFailure.stop();
    _archive.reset();
    if (!_folder.empty()) {
        std::error_code ignored;  // a folder left behind is removed by the next update
        std::filesystem::remove_all(_folder, ignored);
        _folder.clear();
    }
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

void UpdateInstaller::stopTransfer() {
    _stallTimer.stop();
    _overallTimer.stop();
    if (QNetworkReply* reply = _reply.data()) {
        _reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

}  // namespace quaymark
