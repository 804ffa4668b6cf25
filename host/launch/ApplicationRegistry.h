// The running applications of one desktop, registered by pid.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Workspace.h"
#include "posix/Posix.h"

namespace quaymark {

// One file per running application in the desktop's runtime folder. An entry counts
// only while its process lives and is the process that registered (its start time
// matches), so a reused pid never passes for an old application.
class ApplicationRegistry {
public:
    explicit ApplicationRegistry(std::string directory);

    // An exclusive lock on the registry, shared by every process of the desktop, held until
    // it is destroyed. Not held (owning no descriptor) when the lock file could not be opened
    // or locked.
    using Lock = FileDescriptor;
    // Waits until no other process holds the lock. Whoever checks that an application runs
    // and starts it when not takes the lock around both, so that two launches at the same
    // moment cannot both find it missing.
    Lock lock();

    // False when the entry could not be written.
    bool add(const RunningApplication& application);
    void remove(int pid);
    // The live entries in the order they were started; stale entries are removed.
    std::vector<RunningApplication> list();
    // The pid most recently brought to the front, if it still runs.
    std::optional<int> frontmost();
    bool setFrontmost(int pid);

    const std::string& directory() const { return _directory; }

private:
    std::string _directory;
};

// The start time of a live, non-zombie process in clock ticks since boot; nothing when
// the process is gone.
std::optional<unsigned long long> processStartTime(int pid);

// Ends a process by pid: SIGTERM, then SIGKILL when it has not ended within `grace`. False
// when it could not be signalled or still lives. A child of the caller must still be reaped.
bool endProcess(int pid, std::chrono::milliseconds grace);

}  // namespace quaymark
