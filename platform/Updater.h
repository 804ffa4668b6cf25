// The update framework's contract: one updater per process, a delegate, and three checks.
#pragma once

#include <cstdint>
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
    std::string minimumSystemVersion;
    std::string maximumSystemVersion;
    std::vector<std::string> hardwareRequirements;
    std::string pubDate;
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
