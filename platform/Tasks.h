// Child processes: start with an argument vector and an environment, wait for exit.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Workspace.h"

namespace quaymark {

enum class TaskStream {
    Inherit,           // the child shares the stream with this process
    ToStandardOutput,  // the child writes to this process's standard output
    Discard,           // the child's stream goes to /dev/null
};

struct TaskOptions {
    std::string launchPath;
    std::vector<std::string> arguments;
    // Nothing: the child starts in this process's working directory.
    std::optional<std::string> currentDirectory;
    // Nothing: the child gets this process's environment.
    std::optional<Environment> environment;
    TaskStream standardOutput = TaskStream::Inherit;
    TaskStream standardError = TaskStream::Inherit;
};

class Task {
public:
    virtual ~Task() = default;
    virtual int processIdentifier() const = 0;
    // The exit status, or 128 + signal number when a signal ended the child.
    virtual int waitUntilExit() = 0;
};

class TaskLauncher {
public:
    virtual ~TaskLauncher() = default;

    // Starts the child and returns at once; raises PlatformException when it cannot be
    // started (no executable at the path, a working directory that does not exist).
    virtual std::unique_ptr<Task> launch(const TaskOptions& options) = 0;
    // This process's environment.
    virtual Environment processEnvironment() = 0;
};

}  // namespace quaymark
