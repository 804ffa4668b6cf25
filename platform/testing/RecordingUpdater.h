// An updater that records the checks it is asked for and reaches no verdict by itself.
#pragma once

#include "CallLog.h"
#include "Updater.h"

namespace quaymark {

// Calls are recorded as "Updater.<operation>"; the delegate set last is kept for the test.
class RecordingUpdater : public SUUpdater {
public:
    explicit RecordingUpdater(CallLog& calls) : _calls(calls) {}

    void checkForUpdatesInBackground() override {
        _calls.record("Updater.checkForUpdatesInBackground");
    }
    void checkForUpdates() override { _calls.record("Updater.checkForUpdates"); }
    void checkForUpdateInformation() override {
        _calls.record("Updater.checkForUpdateInformation");
    }
    void setDelegate(SUUpdaterDelegate* delegate) override {
        _calls.record("Updater.setDelegate", delegate ? "delegate" : "nil");
        _delegate = delegate;
    }

    SUUpdaterDelegate* delegate() const { return _delegate; }

private:
    CallLog& _calls;
    SUUpdaterDelegate* _delegate = nullptr;
};

}  // namespace quaymark
