// Starting child processes from an argument vector and an environment (never a shell).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Tasks.h"
#include "Workspace.h"

namespace quaymark {

struct SpawnRequest {
    std::string executable;              // a real path
    std::vector<std::string> arguments;  // not counting argv[0], which is the executable
    std::optional<std::string> workingDirectory;
    Environment environment;
    TaskStream standardOutput = TaskStream::Inherit;
    TaskStream standardError = TaskStream::Inherit;
    // When set, both output streams are appended to this file instead (the two settings
    // above are then not looked at).
    std::optional<std::string> logFile;
    // A detached child runs in a session of its own and is not this process's child, so
    // nothing has to wait for it and it outlives us; otherwise waitpid() reaps it.
    bool detached = false;
};

struct SpawnResult {
    int pid = -1;
    std::string error;  // empty on success
    explicit operator bool() const { return pid > 0; }
};

// Standard input of the child is always /dev/null: nothing we start reads our terminal.
SpawnResult spawnProcess(const SpawnRequest& request);

// This process's environment as a map.
Environment currentEnvironment();

// The exit status of a waitpid() status: the code, or 128 + signal.
int exitStatusOf(int waitStatus);

}  // namespace quaymark
