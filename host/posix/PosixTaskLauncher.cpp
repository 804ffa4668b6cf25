#include "posix/PosixTaskLauncher.h"

#include "PlatformException.h"
#include "posix/Spawn.h"

namespace quaymark {

namespace {

class PosixTask : public Task {
public:
    explicit PosixTask(int pid) : _pid(pid) {}

    int processIdentifier() const override { return _pid; }

    int waitUntilExit() override {
        if (_status)
            return *_status;
        std::optional<int> status = waitForChild(_pid);
        if (!status)
            return -1;
        _status = exitStatusOf(*status);
        return *_status;
    }

private:
    int _pid;
    std::optional<int> _status;
};

}  // namespace

std::unique_ptr<Task> PosixTaskLauncher::launch(const TaskOptions& options) {
    Result<StartedProcess> started = spawnProcess({
        .executable = _mapPath(options.launchPath),
        .arguments = options.arguments,
        .workingDirectory = options.currentDirectory,
        .environment = options.environment ? *options.environment : currentEnvironment(),
        .standardOutput = options.standardOutput,
        .standardError = options.standardError,
    });
    if (!started)
        throw PlatformException("NSInvalidArgumentException", started.error());
    return std::make_unique<PosixTask>(started->pid);
}

Environment PosixTaskLauncher::processEnvironment() {
    return currentEnvironment();
}

}  // namespace quaymark
