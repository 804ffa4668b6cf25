// Starting child processes from an argument vector and an environment (never a shell).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "Result.h"
#include "Tasks.h"
#include "Workspace.h"
#include "posix/Posix.h"

namespace quaymark {

// Which output streams of the child come back to us through pipes (see StartedProcess).
enum class Capture { None, StandardOutput, StandardError, Both };

// Built with designated initialisers: spawnProcess({.executable = "/bin/true"}).
struct SpawnRequest {
    std::string executable{};              // a real path
    std::vector<std::string> arguments{};  // not counting argv[0], which is the executable
    std::optional<std::string> workingDirectory{};
    Environment environment{};
    TaskStream standardOutput = TaskStream::Inherit;
    TaskStream standardError = TaskStream::Inherit;
    // When set, both output streams are appended to this file instead (the two settings
    // above are then not looked at).
    std::optional<std::string> logFile{};
    // A captured stream goes to a pipe whatever is set above; a standard error sent
    // ToStandardOutput follows standard output into its pipe.
    Capture capture = Capture::None;
    // A descriptor of ours the child gets as its descriptor 3 (`Xvfb -displayfd 3`).
    std::optional<int> descriptor3{};
    // A detached child runs in a session of its own and is not this process's child, so
    // nothing has to wait for it and it outlives us; otherwise waitpid() reaps it.
    bool detached = false;
};

struct StartedProcess {
    int pid = -1;
    // The reading ends of the captured streams.
    FileDescriptor output{};
    FileDescriptor errorOutput{};
};

// Standard input of the child is always /dev/null: nothing we start reads our terminal.
// Fails with why the child could not be started, its exec's error among them.
Result<StartedProcess> spawnProcess(const SpawnRequest& request);

struct ProcessOutcome {
    // As exitStatusOf; -1 when the child could not be started or did not end in time.
    int exitStatus = -1;
    bool timedOut = false;
    std::string output;
    std::string errorOutput;
};

// Starts the child (never detached), collects its captured streams until they end, and waits
// for it. When the streams have not ended within the time limit the child is killed by its
// pid; the limit bounds only that collection, so a child that captures nothing is waited for.
// A child that cannot be started is a failure with the reason.
Result<ProcessOutcome> runAndCollect(const SpawnRequest& request,
                                     std::chrono::milliseconds timeLimit);

// This process's environment as a map.
Environment currentEnvironment();

// The exit status of a waitpid() status: the code, or 128 + signal.
int exitStatusOf(int waitStatus);

}  // namespace quaymark
