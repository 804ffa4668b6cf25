// The windowless check for a newer version that a click starts every few days: the update
// framework's delegate, the probe of the feed's host, the time-out, and the mode itself.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

#include "Bundle.h"
#include "Reachability.h"
#include "System.h"
#include "Updater.h"

namespace quaymark {

// The bundle and the reachability service are used on the main thread while the mode runs;
// the functions are kept, since the time-out thread may outlive the program entry's objects.
struct BackgroundUpdaterServices {
    Bundle& mainBundle;
    NetworkReachability& reachability;
    // Pauses the calling thread.
    std::function<void(std::chrono::seconds)> sleep;
    // Ends the whole process at once with the status, from any thread, running no
    // destructors and no exit handlers.
    std::function<void(int status)> endProcess;
};

// One per process, made by the program entry and never freed before the process ends: the
// time-out thread holds it as long as it runs. Its verdict fields are written on the main
// thread only.
class BackgroundUpdater : public SUUpdaterDelegate {
public:
    explicit BackgroundUpdater(BackgroundUpdaterServices services);

    // Whether the feed's host can be reached now without first setting up a connection:
    // Reachable set, ConnectionRequired and TransientConnection not. No when the bundle has
    // no feed URL, the URL names no host, or the service makes no target for it.
    bool isAppCastReachable();
    // Fifteen one-second sleeps, then ends the process with status 0 if no verdict has come
    // and the program is still windowless; runs on the time-out thread.
    void timeoutTick();
    // From now on the program is the settings application, whose window the user works in
    // and whose install may be between ending Finder and starting it again, so the time-out
    // leaves the process alone. Waits while the time-out is ending the process.
    void settingsApplicationWillStart();

    void updaterDidFindValidUpdate(SUUpdater& updater, const SUAppcastItem& update) override;
    void updaterDidNotFindUpdate(SUUpdater& updater) override;
    void updaterDidFinishLoadingAppcast(SUUpdater& updater, const SUAppcast& appcast) override;

    bool working() const { return _working.load(std::memory_order_relaxed); }
    bool updateFound() const { return _updateFound; }

private:
    BackgroundUpdaterServices _services;
    // The time-out thread reads it once, without waiting for the main thread.
    std::atomic<bool> _working{true};
    bool _updateFound = false;
    // Held while the time-out decides and ends the process, so that the settings application
    // either starts after that decision or never.
    std::mutex _ending;
    bool _settingsStarted = false;
};

// What the program does after the mode.
enum class BackgroundUpdateOutcome {
    // End with status 0: no newer version, no verdict, or nothing left to wait for.
    Finished,
    // Go on into the settings application ("checkUpdates" still to be removed): a newer
    // version was found, or the feed's host cannot be reached now.
    StartSettingsApplication,
};

struct BackgroundUpdateModeServices {
    SUUpdater& updater;
    RunLoop& runLoop;
    // Runs `work` once on a new thread that nobody waits for.
    std::function<void(std::function<void()> work)> detachThread;
};

// The mode, on the main thread: the check for update information, the time-out thread, the
// probe, and the wait for a verdict in the main run loop. When the settings application is
// to start, the time-out has already been told so.
BackgroundUpdateOutcome runBackgroundUpdateMode(const std::shared_ptr<BackgroundUpdater>& delegate,
                                                BackgroundUpdateModeServices services);

}  // namespace quaymark
