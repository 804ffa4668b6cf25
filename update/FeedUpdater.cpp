#include "FeedUpdater.h"

#include <QPointer>
#include <algorithm>
#include <random>

#include "AppcastReader.h"
#include "BundleInfo.h"
#include "FeedSignature.h"
#include "QuaymarkPreferences.h"
#include "UserDefaults.h"
#include "VersionComparator.h"

namespace quaymark {
namespace {

constexpr const char* kFeedUrlKey = "SUFeedURL";
constexpr const char* kPublicKeyKey = "SUPublicEDKey";
constexpr const char* kRequireSignedFeedKey = "SURequireSignedFeed";
constexpr const char* kSystemVersionFile = "/System/Library/CoreServices/SystemVersion.plist";
// The framework's own names for what it stores of skipped releases and of the installation's
// phased rollout group.
constexpr const char* kSkippedMinorVersionKey = "SUSkippedVersion";
constexpr const char* kSkippedMajorVersionKey = "SUSkippedMajorVersion";
constexpr const char* kSkippedMajorSubreleaseVersionKey = "SUSkippedMajorSubreleaseVersion";
constexpr const char* kUpdateGroupIdentifierKey = "SUUpdateGroupIdentifier";
// How long background checks keep quiet about a release after "Remind Me Later".
constexpr double kReminderSeconds = 24 * 60 * 60;

// The cause as the end of a sentence: its own final period is kept, never doubled.
std::string sentenceEnd(const std::string& cause) {
    if (!cause.empty() && (cause.back() == '.' || cause.back() == '!' || cause.back() == '?'))
        return cause;
    return cause + ".";
}

// A link of the feed, relative to the feed; empty when it is not a web page, or is a file of
// this machine named by a feed from the network.
std::string resolvedLink(const QUrl& feedUrl, const std::string& link) {
    if (link.empty())
        return link;
    const QUrl url = feedUrl.resolved(QUrl(QString::fromStdString(link)));
    const bool web = url.scheme() == "http" || url.scheme() == "https";
    if (!web && !(url.isLocalFile() && feedUrl.isLocalFile()))
        return std::string();
    return url.toString().toStdString();
}

std::string stringOr(const UserDefaults& defaults, const char* key) {
    return defaults.stringForKey(key).value_or(std::string());
}

}  // namespace

struct FeedUpdater::Check {
    std::uint64_t serial = 0;
    std::vector<Request> requests;
    bool progressShown = false;
    QUrl feedUrl;
    std::string currentVersion;
    std::string currentDisplayVersion;
    // The release each kind of request is told of. The user sees every release that suits;
    // background checks (with or without a window) leave out skipped releases, those not yet
    // rolled out to this installation, and for a day the one the user asked to be reminded
    // of later.
    std::optional<SUAppcastItem> forUser;
    std::optional<SUAppcastItem> forBackground;
    // The notes fetched for the release of this version; any other release shows its own
    // description.
    std::string releaseNotesVersion;
    std::string releaseNotesHtml;

    bool has(Request kind) const {
        return std::find(requests.begin(), requests.end(), kind) != requests.end();
    }
    const std::optional<SUAppcastItem>& verdictFor(Request kind) const {
        return kind == Request::UserInitiated ? forUser : forBackground;
    }
    // The release the update window offers: the user's own when the user asked.
    const SUAppcastItem* shown() const {
        if (has(Request::UserInitiated))
            return forUser ? &*forUser : nullptr;
        if (has(Request::Background) && forBackground)
            return &*forBackground;
        return nullptr;
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
                               fail(
                                   "The application names no update feed. Reinstall it to "
                                   "restore its feed.");
                           else if (!hasVersion)
                               fail(
                                   "The application's own version is unknown. Reinstall it "
                                   "to restore its version.");
                           else
                               feedArrived(std::move(feed));
                       });
}

void FeedUpdater::feedArrived(Result<QByteArray> fetched) {
    const Result<QByteArray> feed = trustedFeed(std::move(fetched));
    if (!feed)
        return fail(feed.error());
    const Result<SUAppcast> appcast = readAppcast(feed.value());
    if (!appcast)
        return fail("The update feed could not be read: " + sentenceEnd(appcast.error()) +
                    " Try again later, and tell the publisher if this persists.");
    if (_delegate != nullptr)
        _delegate->updaterDidFinishLoadingAppcast(*this, appcast.value());
    if (!_check)
        return;

    SelectionContext context{
        _check->currentVersion, RunningSystem{systemVersion(), _options.architecture},
        allowedChannels(),      std::nullopt,
        std::nullopt,           _platform.clock.now()};
    _check->forUser = bestItem(appcast.value(), context);
    context.phasedUpdateGroup = phasedUpdateGroup(updateGroupIdentifier());
    context.skipped = skippedUpdate();
    _check->forBackground = bestItem(appcast.value(), context);
    if (_check->forBackground && isRemindedOfLater(*_check->forBackground))
        _check->forBackground.reset();

    const SUAppcastItem* shown = _check->shown();
    if (shown != nullptr && shown->itemDescription.empty() && !shown->releaseNotesURL.empty()) {
        _check->releaseNotesVersion = shown->version;
        // Relative links are relative to the feed; a feed from the network may not make the
        // window show a file of this machine.
        const QUrl notesUrl =
            _check->feedUrl.resolved(QUrl(QString::fromStdString(shown->releaseNotesURL)));
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

void FeedUpdater::releaseNotesArrived(Result<QByteArray> fetched) {
    const Result<QByteArray> notes = trustedReleaseNotes(std::move(fetched));
    if (notes) {
        _check->releaseNotesHtml = QString::fromUtf8(notes.value()).toStdString();
    } else {
        // The offer stands without its notes; the window says why they are missing.
        _check->releaseNotesHtml =
            "<p>" + QString::fromStdString(notes.error()).toHtmlEscaped().toStdString() + "</p>";
    }
    finish();
}

Result<QByteArray> FeedUpdater::trustedFeed(Result<QByteArray> fetched) const {
    // A failed fetch already says what failed and what to do.
    if (!fetched)
        return fetched;
    // A feed to a bundle that does not ask for signatures is read whole: a signing block
    // after the document is an XML comment the reader passes over.
    if (!infoBool(_platform.mainBundle, kRequireSignedFeedKey))
        return fetched;
    const Result<std::string> content =
        verifiedFeedContent(std::string_view(fetched.value().constData(), fetched.value().size()),
                            infoString(_platform.mainBundle, kPublicKeyKey).value_or(""));
    if (!content)
        return Result<QByteArray>::failure(
            "The update feed was refused because it is not signed as this application requires: " +
            sentenceEnd(content.error()) +
            " Check again later, and tell the developers if this persists.");
    return Result<QByteArray>::success(QByteArray::fromStdString(content.value()));
}

Result<QByteArray> FeedUpdater::trustedReleaseNotes(Result<QByteArray> fetched) const {
    if (!fetched || !infoBool(_platform.mainBundle, kRequireSignedFeedKey))
        return fetched;
    const Result<void> checked =
        checkReleaseNotes(std::string_view(fetched.value().constData(), fetched.value().size()),
                          _check->shown()->releaseNotesSignature,
                          infoString(_platform.mainBundle, kPublicKeyKey).value_or(""));
    return checked ? fetched
                   : Result<QByteArray>::failure("The release notes could not be loaded: " +
                                                 sentenceEnd(checked.error()));
}

void FeedUpdater::finish() {
    // Taken out first: a delegate or window may start the next check from inside a callback.
    const std::unique_ptr<Check> check = std::move(_check);
    if (check->progressShown)
        _ui.closeCheckingProgress();
    if (const SUAppcastItem* shown = check->shown()) {
        const ItemState state = resolveItemState(*shown, check->currentVersion);
        UpdateOffer offer{*shown, check->currentDisplayVersion,
                          shown->version == check->releaseNotesVersion ? check->releaseNotesHtml
                                                                       : shown->itemDescription};
        offer.item.infoURL = resolvedLink(check->feedUrl, shown->infoURL);
        offer.item.fullReleaseNotesURL = resolvedLink(check->feedUrl, shown->fullReleaseNotesURL);
        offer.informational = state.informational;
        offer.critical = state.critical;
        _ui.showUpdateAvailable(offer, [self = QPointer<FeedUpdater>(this), offer,
                                        hostVersion = check->currentVersion](UpdateChoice choice) {
            if (self)
                self->choose(offer, hostVersion, choice);
        });
    } else if (check->has(Request::UserInitiated)) {
        _ui.showUpToDate(check->currentDisplayVersion);
    }
    for (const Request kind : check->requests) {
        // Read anew for every verdict: a callback may replace or clear the delegate.
        if (_delegate == nullptr)
            continue;
        if (const std::optional<SUAppcastItem>& item = check->verdictFor(kind))
            _delegate->updaterDidFindValidUpdate(*this, *item);
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

void FeedUpdater::choose(const UpdateOffer& offer, const std::string& hostVersion,
                         UpdateChoice choice) {
    const SUAppcastItem& item = offer.item;
    UserDefaults defaults(_platform.preferences, kPreferencesDomain);
    switch (choice) {
        case UpdateChoice::Install:
            if (offer.informational) {
                // The window offers no Install for it; there is no archive to install.
                _platform.log.log("Version " + item.version + " is information only");
            } else if (const Result<void> installable = checkInstallable(item); !installable) {
                _platform.log.log(installable.error());
                _ui.showError(installable.error());
            } else if (_options.install) {
                _options.install(item);
            } else if (!_ui.openUrl(item.enclosureURL)) {
                _platform.log.log("Nothing could open the update at " + item.enclosureURL);
            }
            break;
        case UpdateChoice::LearnMore:
            if (!_ui.openUrl(item.infoURL))
                _platform.log.log("Nothing could open the update's page at " + item.infoURL);
            break;
        case UpdateChoice::Skip: {
            if (offer.critical) {
                // The window offers no Skip for it: the user may not decline it.
                _platform.log.log("The critical update " + item.version + " cannot be skipped");
                break;
            }
            const SkippedUpdate skipped = skipUpdate(item, hostVersion, skippedUpdate());
            const auto store = [&](const char* key, const std::string& value) {
                defaults.setObject(key,
                                   value.empty() ? std::nullopt : std::optional<PlistValue>(value));
            };
            store(kSkippedMinorVersionKey, skipped.minorVersion);
            store(kSkippedMajorVersionKey, skipped.majorVersion);
            store(kSkippedMajorSubreleaseVersionKey, skipped.majorSubreleaseVersion);
            if (!defaults.synchronize())
                _platform.log.log("The skipped version " + item.version + " could not be saved");
            break;
        }
        case UpdateChoice::RemindLater:
            defaults.setObject(preference_key::kUpdateReminderVersion, PlistValue(item.version));
            defaults.setObject(preference_key::kUpdateReminderDate,
                               PlistValue(_platform.clock.now()));
            if (!defaults.synchronize())
                _platform.log.log("The reminder for version " + item.version +
                                  " could not be saved");
            break;
    }
}

SkippedUpdate FeedUpdater::skippedUpdate() const {
    const UserDefaults defaults(_platform.preferences, kPreferencesDomain);
    return SkippedUpdate{stringOr(defaults, kSkippedMinorVersionKey),
                         stringOr(defaults, kSkippedMajorVersionKey),
                         stringOr(defaults, kSkippedMajorSubreleaseVersionKey)};
}

std::vector<std::string> FeedUpdater::allowedChannels() const {
    const std::optional<PlistValue> value = UserDefaults(_platform.preferences, kPreferencesDomain)
                                                .objectForKey(preference_key::kUpdateChannels);
    const PlistArray* array = value ? value->asArray() : nullptr;
    std::vector<std::string> channels;
    if (array == nullptr)
        return channels;
    for (const PlistValue& entry : *array) {
        // Anything but a name is ignored, as a channel nobody publishes on would be.
        if (const std::string* name = entry.asString())
            channels.push_back(*name);
    }
    return channels;
}

std::uint32_t FeedUpdater::updateGroupIdentifier() {
    UserDefaults defaults(_platform.preferences, kPreferencesDomain);
    const std::optional<PlistValue> stored = defaults.objectForKey(kUpdateGroupIdentifierKey);
    if (const std::optional<std::uint64_t> identifier =
            stored ? stored->asUnsignedInteger() : std::nullopt)
        return static_cast<std::uint32_t>(*identifier);
    // Chosen once per installation and kept, so that the installation stays in its group.
    std::random_device entropy;
    const std::uint32_t identifier = std::uniform_int_distribution<std::uint32_t>()(entropy);
    defaults.setObject(kUpdateGroupIdentifierKey, PlistValue::unsignedInteger(identifier));
    if (!defaults.synchronize())
        _platform.log.log("The phased rollout group could not be saved");
    return identifier;
}

bool FeedUpdater::isRemindedOfLater(const SUAppcastItem& item) const {
    const UserDefaults defaults(_platform.preferences, kPreferencesDomain);
    const std::optional<std::string> version =
        defaults.stringForKey(preference_key::kUpdateReminderVersion);
    const std::optional<PlistValue> date =
        defaults.objectForKey(preference_key::kUpdateReminderDate);
    const std::optional<PlistDate> when = date ? date->asDate() : std::nullopt;
    if (!version || !when || compareVersions(*version, item.version) != 0)
        return false;
    // A reminder dated in the future (the clock was set back) silences nothing.
    const double elapsed = _platform.clock.now().timeIntervalSince(*when);
    return elapsed >= 0 && elapsed < kReminderSeconds;
}

std::string FeedUpdater::systemVersion() const {
    const std::optional<PlistValue> plist =
        _platform.fileManager.propertyListWithContentsOfFile(kSystemVersionFile);
    const PlistDictionary* dictionary = plist ? plist->asDictionary() : nullptr;
    const PlistValue* version = dictionary ? dictionary->find("ProductVersion") : nullptr;
    return version && version->asString() ? *version->asString() : std::string();
}

}  // namespace quaymark
