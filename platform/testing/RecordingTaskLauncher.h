// Child processes that are recorded instead of started.
#pragma once

#include "CallLog.h"
#include "Tasks.h"

namespace quaymark {

class RecordingTaskLauncher : public TaskLauncher {
public:
    explicit RecordingTaskLauncher(CallLog& calls) : _calls(calls) {}

    // Recorded as "Tasks.launch <launch path>"; the task has ended with status 0.
    std::unique_ptr<Task> launch(const TaskOptions& options) override {
        _calls.record("Tasks.launch", options.launchPath);
        _launches.push_back(options);
        return std::make_unique<EndedTask>(1000 + static_cast<int>(_launches.size()));
    }
    Environment processEnvironment() override {
        _calls.record("Tasks.processEnvironment");
        return _environment;
    }

    void setProcessEnvironment(Environment environment) { _environment = std::move(environment); }
    const std::vector<TaskOptions>& launches() const { return _launches; }

private:
    class EndedTask : public Task {
    public:
        explicit EndedTask(int pid) : _pid(pid) {}
        int processIdentifier() const override { return _pid; }
        int waitUntilExit() override { return 0; }

    private:
        int _pid;
    };

    CallLog& _calls;
    std::vector<TaskOptions> _launches;
    Environment _environment{{"HOME", "/Users/tester"}, {"PATH", "/usr/bin:/bin"}};
};

}  // namespace quaymark
