#include "RecordingTaskLauncher.h"

#include "PlatformException.h"

namespace quaymark {

namespace {

class FinishedTask : public Task {
public:
    FinishedTask(int pid, int status) : _pid(pid), _status(status) {}
    int processIdentifier() const override { return _pid; }
    int waitUntilExit() override { return _status; }

private:
    int _pid;
    int _status;
};

}  // namespace

std::unique_ptr<Task> RecordingTaskLauncher::launch(const TaskOptions& options) {
    _calls.record("Tasks.launch", options.launchPath);
    _launches.push_back(options);
    if (_launchesFail) {
        throw PlatformException("NSInvalidArgumentException", "launch path not accessible");
    }
    return std::make_unique<FinishedTask>(_nextPid++, _exitStatus);
}

Environment RecordingTaskLauncher::processEnvironment() {
    _calls.record("Tasks.processEnvironment");
    return _environment;
}

}  // namespace quaymark
