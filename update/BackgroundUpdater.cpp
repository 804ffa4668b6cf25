#include "BackgroundUpdater.h"

#include <cstdint>
#include <optional>
#include <string>

#include "Url.h"

namespace quaymark {

namespace {

constexpr int kTimeoutSleeps = 15;
constexpr auto kTimeoutSleep = std::chrono::seconds(1);

}  // namespace

BackgroundUpdater::BackgroundUpdater(BackgroundUpdaterServices services)
    : _services(std::move(services)) {}

bool BackgroundUpdater::isAppCastReachable() {
    std::optional<PlistValue> feed = _services.mainBundle.objectForInfoDictionaryKey("SUFeedURL");
    const std::string* text = feed ? feed->asString() : nullptr;
    std::optional<Url> url = text ? Url::fromString(*text) : std::nullopt;
    std::string host = url ? url->host() : std::string();
    // No feed URL and no host both reach the service as an empty name, which it refuses.
    std::optional<std::uint32_t> flags = _services.reachability.flagsForHostName(host);
    if (!flags)
        return false;
    using namespace reachability_flag;
    return (*flags & kReachable) != 0 && (*flags & kConnectionRequired) == 0 &&
           (*flags & kTransientConnection) == 0;
}

void BackgroundUpdater::timeoutTick() {
    for (int i = 0; i < kTimeoutSleeps; ++i)
        _services.sleep(kTimeoutSleep);
    std::lock_guard lock(_ending);
    if (working() && !_settingsStarted)
        _services.endProcess(0);
}

void BackgroundUpdater::settingsApplicationWillStart() {
    std::lock_guard lock(_ending);
    _settingsStarted = true;
}

void BackgroundUpdater::updaterDidFindValidUpdate(SUUpdater&, const SUAppcastItem&) {
    _updateFound = true;
    _working.store(false, std::memory_order_relaxed);
}

void BackgroundUpdater::updaterDidNotFindUpdate(SUUpdater&) {
    _updateFound = false;
    _working.store(false, std::memory_order_relaxed);
}

void BackgroundUpdater::updaterDidFinishLoadingAppcast(SUUpdater&, const SUAppcast&) {}

BackgroundUpdateOutcome runBackgroundUpdateMode(const std::shared_ptr<BackgroundUpdater>& delegate,
                                                BackgroundUpdateModeServices services) {
    services.updater.setDelegate(delegate.get());
    services.updater.checkForUpdateInformation();
    // The thread's own reference keeps the delegate alive for as long as it counts, whatever
    // the main thread has done meanwhile.
    services.detachThread([delegate] { delegate->timeoutTick(); });
    // The probe runs after the time-out has started, so a slow name lookup counts toward it.
    if (!delegate->isAppCastReachable()) {
        // The delegate stays set: a verdict from the settings application's own launch-time
        // check still reaches it.
        delegate->settingsApplicationWillStart();
        return BackgroundUpdateOutcome::StartSettingsApplication;
    }
    while (delegate->working()) {
        if (!services.runLoop.runOnce())
            break;
    }
    services.updater.setDelegate(nullptr);
    if (!delegate->updateFound())
        return BackgroundUpdateOutcome::Finished;
    delegate->settingsApplicationWillStart();
    return BackgroundUpdateOutcome::StartSettingsApplication;
}

}  // namespace quaymark
