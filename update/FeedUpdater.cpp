#include "FeedUpdater.h"

#include <QPointer>
#include <algorithm>

#include "AppcastReader.h"
#include "BundleInfo.h"
#include "QuaymarkPreferences.h"
#include "UserDefaults.h"
#include "VersionComparator.h"

namespace quaymark {
namespace {

constexpr const char* kFeedUrlKey = "SUFeedURL";
constexpr const char* kSkippedVersionKey = "SUSkippedVersion";
constexpr const char* kSystemVersionFile = "/System/Library/CoreServices/SystemVersion.plist";

}  // namespace

struct FeedUpdater::Check {
    std::uint64_t serial = 0;
    std::vector<Request> requests;
    bool progressShown = false;
    QUrl feedUrl;
    std::string currentVersion;
    std::string currentDisplayVersion;
    // The best suitable release, when it is newer than the running version.
    std::optional<SUAppcastItem> newer;
    bool newerIsSkipped = false;
    std::string releaseNotesHtml;

    bool has(Request kind) const {
        return std::find(requests.begin(), requests.end(), kind) != requests.end();
    }
    bool offersUpdate() const {
        return newer &&
               (has(Request::UserInitiated) || (has(Request::Background) && !newerIsSkipped));
    }
};

FeedUpdater::FeedUpdater(Platform platform, QNetworkAccessManager& network, UpdateUserInterface& ui,
                         FeedUpdaterOptions options)
    : _platform(platform),
      _ui(ui),
      _options(std::move(options)),
      _feedFetcher(network, _options.limits),
      _notesFetcher(network, _options.limits) {}

FeedUpdater::~FeedUpdater() = default;

void FeedUpdater::checkForUpdatesInBackground() {
    request(Request::Background);
}
void FeedUpdater::checkForUpdates() {
    request(Request::UserInitiated);
}
void FeedUpdater::checkForUpdateInformation() {
    request(Request::Information);
}
void FeedUpdater::setDelegate(SUUpdaterDelegate* delegate) {
    _delegate = delegate;
}

void FeedUpdater::request(Request kind) {
    static std::uint64_t serials = 0;
    const bool joining = _check != nullptr;
    if (!joining) {
        _check = std::make_unique<Check>();
        _check->serial = ++serials;
    }
    _check->requests.push_back(kind);
    if (kind == Request::UserInitiated && !_check->progressShown) {
        _check->progressShown = true;
        _ui.showCheckingProgress([self = QPointer<FeedUpdater>(this), serial = _check->serial] {
            if (self && self->_check && self->_check->serial == serial)
                self->cancel();
        });
    }
    if (joining)
        return;

    const std::optional<std::string> feedUrl = infoString(_platform.mainBundle, kFeedUrlKey);
    const std::optional<std::string> version = infoString(_platform.mainBundle, "CFBundleVersion");
    _check->currentVersion = version.value_or("");
    _check->currentDisplayVersion = infoString(_platform.mainBundle, "CFBundleShortVersionString")
                                        .value_or(_check->currentVersion);
    // Without an address the fetcher refuses the empty URL, so this failure too arrives
    // from the event loop, after the check was asked for.
    _check->feedUrl = feedUrl && version ? QUrl(QString::fromStdString(*feedUrl)) : QUrl();
    _feedFetcher.fetch({.url = _check->feedUrl, .subject = "The update feed"},
                       [this, hasAddress = feedUrl.has_value(),
                        hasVersion = version.has_value()](Result<QByteArray> feed) {
                           if (!hasAddress)
                               fail("The application names no update feed.");
                           else if (!hasVersion)
                               fail("The application's own version is unknown.");
                           else
                               feedArrived(std::move(feed));
                       });
}

void FeedUpdater::feedArrived(Result<QByteArray> feed) {
    if (!feed)
        return fail(feed.error());
    const Result<SUAppcast> appcast = readAppcast(feed.value());
    if (!appcast)
        return fail("The update feed could not be read: " + appcast.error() + ".");
    if (_delegate != nullptr)
        _delegate->updaterDidFinishLoadingAppcast(*this, appcast.value());
    if (!_check)
        return;

    const RunningSystem system{systemVersion(), _options.architecture};
    std::optional<SUAppcastItem> best = bestItem(appcast.value(), system);
    if (best && compareVersions(best->version, _check->currentVersion) > 0) {
        const std::optional<std::string> skipped = skippedVersion();
        // A release newer than the skipped one is offered again.
        _check->newerIsSkipped = skipped && compareVersions(best->version, *skipped) <= 0;
        _check->releaseNotesHtml = best->itemDescription;
        _check->newer = std::move(best);
    }
    const SUAppcastItem* newer = _check->newer ? &*_check->newer : nullptr;
    if (_check->offersUpdate() && newer->itemDescription.empty() &&
        !newer->releaseNotesURL.empty()) {
        // Relative links are relative to the feed; a feed from the network may not make the
        // window show a file of this machine.
        const QUrl notesUrl =
            _check->feedUrl.resolved(QUrl(QString::fromStdString(newer->releaseNotesURL)));
        if (notesUrl.isLocalFile() && !_check->feedUrl.isLocalFile()) {
            releaseNotesArrived(Result<QByteArray>::failure(
                "The release notes could not be loaded: they name a file on this computer, "
                "which a feed from the network may not show. The update can be installed "
                "without them."));
            return;
        }
        _notesFetcher.fetch(
            {.url = notesUrl, .subject = "The release notes"},
            [this](Result<QByteArray> notes) { releaseNotesArrived(std::move(notes)); });
        return;
    }
    finish();
}

void FeedUpdater::releaseNotesArrived(Result<QByteArray> notes) {
    if (notes) {
        _check->releaseNotesHtml = QString::fromUtf8(notes.value()).toStdString();
    } else {
        // The offer stands without its notes; the window says why they are missing.
        _check->releaseNotesHtml =
            "<p>" + QString::fromStdString(notes.error()).toHtmlEscaped().toStdString() + "</p>";
    }
    finish();
}

void FeedUpdater::finish() {
    // Taken out first: a delegate or window may start the next check from inside a callback.
    const std::unique_ptr<Check> check = std::move(_check);
    if (check->progressShown)
        _ui.closeCheckingProgress();
    if (check->offersUpdate()) {
        _ui.showUpdateAvailable(
            UpdateOffer{*check->newer, check->currentDisplayVersion, check->releaseNotesHtml},
            [self = QPointer<FeedUpdater>(this), item = *check->newer](UpdateChoice choice) {
                if (self)
                    self->choose(item, choice);
            });
    } else if (check->has(Request::UserInitiated)) {
        _ui.showUpToDate(check->currentDisplayVersion);
    }
    for (const Request kind : check->requests) {
        // Read anew for every verdict: a callback may replace or clear the delegate.
        if (_delegate == nullptr)
            continue;
        if (check->newer && (kind == Request::UserInitiated || !check->newerIsSkipped))
            _delegate->updaterDidFindValidUpdate(*this, *check->newer);
        else
            _delegate->updaterDidNotFindUpdate(*this);
    }
}

void FeedUpdater::fail(const std::string& reason) {
    const std::unique_ptr<Check> check = std::move(_check);
    _notesFetcher.cancel();
    _platform.log.log(reason);
    if (check->progressShown)
        _ui.closeCheckingProgress();
    if (check->has(Request::UserInitiated))
        _ui.showError(reason);
}

void FeedUpdater::cancel() {
    _feedFetcher.cancel();
    _notesFetcher.cancel();
    _check.reset();
    _ui.closeCheckingProgress();
}

void FeedUpdater::choose(const SUAppcastItem& item, UpdateChoice choice) {
    switch (choice) {
        case UpdateChoice::Install:
            if (_options.install)
                _options.install(item);
            else if (!_ui.openUrl(item.enclosureURL))
                _platform.log.log("Nothing could open the update at " + item.enclosureURL);
            break;
        case UpdateChoice::LearnMore:
            if (!_ui.openUrl(item.infoURL))
                _platform.log.log("Nothing could open the update's page at " + item.infoURL);
            break;
        case UpdateChoice::Skip: {
            UserDefaults defaults(_platform.preferences, kPreferencesDomain);
            defaults.setObject(kSkippedVersionKey, PlistValue(item.version));
            if (!defaults.synchronize())
                _platform.log.log("The skipped version " + item.version + " could not be saved");
            break;
        }
        case UpdateChoice::RemindLater:
            // The next check offers the same release again; nothing is stored.
            break;
    }
}

std::optional<std::string> FeedUpdater::skippedVersion() const {
    return UserDefaults(_platform.preferences, kPreferencesDomain).stringForKey(kSkippedVersionKey);
}

std::string FeedUpdater::systemVersion() const {
    const std::optional<PlistValue> plist =
        _platform.fileManager.propertyListWithContentsOfFile(kSystemVersionFile);
    const PlistDictionary* dictionary = plist ? plist->asDictionary() : nullptr;
    const PlistValue* version = dictionary ? dictionary->find("ProductVersion") : nullptr;
    return version && version->asString() ? *version->asString() : std::string();
}

}  // namespace quaymark
