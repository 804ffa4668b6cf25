#include "PosixTaskLauncher.h"

#include <sys/wait.h>

#include <cerrno>

#include "PlatformException.h"
#include "Spawn.h"

namespace quaymark {

namespace {

class PosixTask : public Task {
public:
    explicit PosixTask(int pid) : _pid(pid) {}

    int processIdentifier() const override { return _pid; }

    int waitUntilExit() override {
        if (_status)
            return *_status;
        int status = 0;
        while (waitpid(_pid, &status, 0) < 0) {
            if (errno != EINTR)
                return -1;
        }
        _status = exitStatusOf(status);
        return *_status;
    }

private:
    int _pid;
    std::optional<int> _status;
};

}  // namespace

std::unique_ptr<Task> PosixTaskLauncher::launch(const TaskOptions& options) {
    SpawnRequest request;
    request.executable = _root.map(options.launchPath);
    request.arguments = options.arguments;
    request.workingDirectory = options.currentDirectory;
    request.environment = options.environment ? *options.environment : currentEnvironment();
    request.standardOutput = options.standardOutput;
    request.standardError = options.standardError;
    SpawnResult started = spawnProcess(request);
    if (!started)
        throw PlatformException("NSInvalidArgumentException", started.error);
    return std::make_unique<PosixTask>(started.pid);
}

Environment PosixTaskLauncher::processEnvironment() {
    return currentEnvironment();
}

}  // namespace quaymark
