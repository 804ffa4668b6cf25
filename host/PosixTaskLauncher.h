// Child processes of this machine, their executables mapped under the system root.
#pragma once

#include "SystemRoot.h"
#include "Tasks.h"

namespace quaymark {

class PosixTaskLauncher : public TaskLauncher {
public:
    explicit PosixTaskLauncher(SystemRoot root) : _root(std::move(root)) {}

    std::unique_ptr<Task> launch(const TaskOptions& options) override;
    Environment processEnvironment() override;

private:
    SystemRoot _root;
};

}  // namespace quaymark
