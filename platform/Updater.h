// The update framework's contract: one updater per process, a delegate, and three checks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quaymark {

// One release offered by the update feed.
struct SUAppcastItem {
    std::string title;
    // The machine-readable version, compared with the bundle's "CFBundleVersion".
    std::string version;
    // The version shown to people; the machine-readable one when the feed gives none.
    std::string displayVersion;
    // Release notes given inline (HTML), and a link to release notes kept elsewhere.
    std::string itemDescription;
    std::string releaseNotesURL;
    // The base64 Ed25519 signature of the linked notes' bytes (the link's sparkle:edSignature);
    // empty when the feed gives none.
    std::string releaseNotesSignature;
    // The page of the whole version history ("Version History"); empty when the feed gives none.
    std::string fullReleaseNotesURL;
    // The item's web page (its <link>): what an informational update offers instead of an
    // archive.
    std::string infoURL;
    std::string enclosureURL;
    std::uint64_t enclosureLength = 0;
    // The archive's MIME type as the feed states it.
    std::string enclosureType;
    // The base64 Ed25519 signature of the enclosure; empty when the feed gives none.
    std::string edSignature;
    // The system the enclosure is for ("macos" when the feed names none); an item whose only
    // enclosures are for other systems keeps one of theirs, so that it is never chosen here.
    std::string os = "macos";
    // What the archive holds: "application" (an archived bundle), "package" or
    // "interactive-package" (installer packages); only the first is installed here.
    std::string installationType = "application";
    std::string minimumSystemVersion;
    std::string maximumSystemVersion;
    std::vector<std::string> hardwareRequirements;
    // The RFC 822 date the release was published; phased rollout counts from it.
    std::string pubDate;
    // The channel the item is published on ("beta"); empty for the default channel, which
    // every installation follows.
    std::string channel;
    // Nothing to install: the item's page is offered instead. With versions listed, the item
    // is informational only for running versions equal to one of `informationalVersions` or
    // below one of `informationalBelowVersions`; an installable update for the others.
    bool informationalUpdate = false;
    std::vector<std::string> informationalVersions;
    std::vector<std::string> informationalBelowVersions;
    // A critical update may not be skipped; with `criticalVersion`, it is critical only for
    // running versions below that one.
    bool criticalUpdate = false;
    std::string criticalVersion;
    // Running versions below this one take the item as a major upgrade.
    std::string minimumAutoupdateVersion;
    // A skipped major upgrade whose last skipped release is below this version no longer
    // hides the item.
    std::string ignoreSkippedUpgradesBelowVersion;
    // Seconds between the phased rollout's groups, counted from `pubDate`.
    std::optional<std::int64_t> phasedRolloutInterval;
};

// A feed as loaded: its items in feed order.
struct SUAppcast {
    std::string title;
    std::vector<SUAppcastItem> items;
};

class SUUpdater;

// Receives the verdicts of checkForUpdateInformation (and of any check while it is set). Every
// callback arrives on the main thread; a check that reaches a verdict delivers exactly one of
// the first two.
class SUUpdaterDelegate {
public:
    virtual ~SUUpdaterDelegate() = default;
    virtual void updaterDidFindValidUpdate(SUUpdater& updater, const SUAppcastItem& update) = 0;
    virtual void updaterDidNotFindUpdate(SUUpdater& updater) = 0;
    virtual void updaterDidFinishLoadingAppcast(SUUpdater& updater, const SUAppcast& appcast) = 0;
};

// Every check returns at once; its outcome arrives later on the main thread. A check that
// fails (no feed, a network error, a feed that cannot be read) reaches no verdict.
class SUUpdater {
public:
    virtual ~SUUpdater() = default;
    // A silent check: shows the update window only when a newer, not skipped version exists.
    virtual void checkForUpdatesInBackground() = 0;
    // A check the user asked for: shows its progress and whatever it finds, errors included.
    virtual void checkForUpdates() = 0;
    // A check without any window that installs nothing and reports to the delegate.
    virtual void checkForUpdateInformation() = 0;
    // Callbacks go to the delegate set last; nullptr stops them. The caller keeps the
    // delegate alive while it is set.
    virtual void setDelegate(SUUpdaterDelegate* delegate) = 0;
};

}  // namespace quaymark
