// The update framework's updater: reads the feed named by the main bundle, tells the delegate
// what it found and shows the user what a check calls for.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "AppcastSelection.h"
#include "FeedFetcher.h"
#include "Platform.h"
#include "UpdateUserInterface.h"
#include "Updater.h"

class QNetworkAccessManager;

namespace quaymark {

struct FeedUpdaterOptions {
    FetchLimits limits;
    std::string architecture = hostArchitecture();
    // Installs the release the user chose; when unset, its archive is handed to the browser.
    std::function<void(const SUAppcastItem&)> install{};
};

// Checks run one at a time on the main thread. A check asked for while one is running joins
// it instead of fetching again: the feed is read once, and each request still gets its own
// single verdict, judged by its own kind (only a user-initiated request offers a version
// the user skipped, one not yet rolled out to this installation, or one the user asked to be
// reminded of later within the last day). A user-initiated request that joins shows its progress at
// once and gets every outcome shown, so the user's window is never lost to a silent check. Cancel
// in the progress window abandons the check for every request it carries: no verdict, no further
// window.
class FeedUpdater : public QObject, public SUUpdater {
    Q_OBJECT
public:
    FeedUpdater(Platform platform, QNetworkAccessManager& network, UpdateUserInterface& ui,
                FeedUpdaterOptions options = {});
    ~FeedUpdater() override;

    void checkForUpdatesInBackground() override;
    void checkForUpdates() override;
    void checkForUpdateInformation() override;
    void setDelegate(SUUpdaterDelegate* delegate) override;

    bool isChecking() const { return _check != nullptr; }

private:
    enum class Request { Background, UserInitiated, Information };
    struct Check;

    void request(Request kind);
    void feedArrived(Result<QByteArray> feed);
    void releaseNotesArrived(Result<QByteArray> notes);
    // The feed as it is to be read, or why it is not read at all: a bundle that sets
    // SURequireSignedFeed reads only a feed signed by its SUPublicEDKey, without the block.
    Result<QByteArray> trustedFeed(Result<QByteArray> fetched) const;
    // The fetched notes, or why they are not shown: unsigned notes, for such a bundle.
    Result<QByteArray> trustedReleaseNotes(Result<QByteArray> fetched) const;
    void finish();
    void fail(const std::string& reason);
    void cancel();
    void choose(const UpdateOffer& offer, const std::string& hostVersion, UpdateChoice choice);
    SkippedUpdate skippedUpdate() const;
    std::vector<std::string> allowedChannels() const;
    // The installation's phased rollout identifier; made and stored the first time.
    std::uint32_t updateGroupIdentifier();
    bool isRemindedOfLater(const SUAppcastItem& item) const;
    std::string systemVersion() const;

    Platform _platform;
    UpdateUserInterface& _ui;
    FeedUpdaterOptions _options;
    FeedFetcher _feedFetcher;
    FeedFetcher _notesFetcher;
    SUUpdaterDelegate* _delegate = nullptr;
    std::unique_ptr<Check> _check;
};

}  // namespace quaymark
