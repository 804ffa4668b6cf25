// Child processes that are recorded instead of started.
#pragma once

#include <vector>

#include "CallLog.h"
#include "Tasks.h"

namespace quaymark {

class RecordingTaskLauncher : public TaskLauncher {
public:
    explicit RecordingTaskLauncher(CallLog& calls) : _calls(calls) {}

    std::unique_ptr<Task> launch(const TaskOptions& options) override;
    Environment processEnvironment() override;

    // While set, launch records the options and then raises PlatformException.
    void setLaunchesFail(bool fail) { _launchesFail = fail; }
    void setProcessEnvironment(Environment environment) { _environment = std::move(environment); }
    // What waitUntilExit gives for the tasks launched from now on.
    void setExitStatus(int status) { _exitStatus = status; }

    const std::vector<TaskOptions>& launches() const { return _launches; }

private:
    CallLog& _calls;
    std::vector<TaskOptions> _launches;
    Environment _environment{{"HOME", "/Users/tester"}, {"PATH", "/usr/bin:/bin"}};
    bool _launchesFail = false;
    int _exitStatus = 0;
    int _nextPid = 1000;
};

}  // namespace quaymark
