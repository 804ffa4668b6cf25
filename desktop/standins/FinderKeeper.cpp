#include "standins/FinderKeeper.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>

#include "launch/ApplicationRegistry.h"
#include "launch/HostWorkspace.h"
#include "plist/PlistCodec.h"
#include "posix/Spawn.h"
#include "preferences/AtomicFile.h"
#include "standins/FinderStandIn.h"

namespace quaymark {

namespace fs = std::filesystem;

namespace {

const char* const kFinderPath = "/Applications/Finder.app";
const char* const kFinderIdentifier = "com.apple.finder";
// After a launch that failed, the next try waits this long, so that a Finder that cannot start
// is not tried again and again.
constexpr auto kRetryAfterFailure = std::chrono::seconds(2);

std::optional<int> runningFinder(HostWorkspace& workspace) {
    for (const RunningApplication& application : workspace.runningApplications()) {
        if (application.bundleIdentifier == kFinderIdentifier)
            return application.pid;
    }
    return std::nullopt;
}

// Waits until the process behind `pidfd` (-1: none) ends, `timeout` milliseconds pass (-1: no
// limit), or a stop signal arrives on `signals`; whether the keeper is to stop. A poll that
// fails stops it too, since it would otherwise spin.
bool stopArrives(int signals, int pidfd, int timeout) {
    pollfd watched[2] = {{signals, POLLIN, 0}, {pidfd, POLLIN, 0}};
    int ready = retryOnInterrupt([&] { return poll(watched, pidfd >= 0 ? 2 : 1, timeout); });
    return ready < 0 || (ready > 0 && (watched[0].revents & POLLIN));
}

}  // namespace

FinderKeeper::FinderKeeper(SystemRoot root, std::string home)
    : _root(std::move(root)), _home(std::move(home)) {}

std::optional<int> FinderKeeper::running(const SystemRoot& root) {
    std::optional<DecodedPlist> record = readPlistFile(FinderChannel(root).keeper);
    const PlistDictionary* fields = record ? record->value.asDictionary() : nullptr;
    const PlistValue* pid = fields ? fields->find("Pid") : nullptr;
    const PlistValue* started = fields ? fields->find("Started") : nullptr;
    if (!pid || !pid->asInteger() || !started || !started->asInteger())
        return std::nullopt;
    // The pid names the keeper only while a process started at the recorded time has it.
    auto since = processStartTime(static_cast<int>(*pid->asInteger()));
    if (!since || static_cast<std::int64_t>(*since) != *started->asInteger())
        return std::nullopt;
    return static_cast<int>(*pid->asInteger());
}

bool FinderKeeper::startUnlessRunning(const SystemRoot& root, const std::string& program) {
    if (running(root))
        return true;
    // Two keepers started at once settle it between them: the second finds the lock held.
    return static_cast<bool>(spawnProcess({.executable = program,
                                           .arguments = {"--keep"},
                                           .environment = currentEnvironment(),
                                           .detached = true}));
}

int FinderKeeper::run() {
    sigset_t stop;
    sigemptyset(&stop);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&stop, signal);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    FileDescriptor signals(signalfd(-1, &stop, SFD_CLOEXEC));

    FinderChannel channel(_root);
    std::error_code error;
    fs::create_directories(channel.folder, error);
    // Held for as long as this keeper runs; close-on-exec, so the Finders it starts do not
    // carry it away.
    FileDescriptor lock = openFile(channel.folder + "/keeper.lock", O_RDWR | O_CREAT, 0600);
    if (!lock || flock(lock.get(), LOCK_EX | LOCK_NB) != 0)
        return 0;
    auto started = processStartTime(getpid());
    if (!signals || !started ||
        !writePlistFileAtomically(
            channel.keeper,
            PlistDictionary{
                {"Pid", PlistValue::integer(getpid())},
                {"Started", PlistValue::integer(static_cast<std::int64_t>(*started))}})) {
        std::fprintf(stderr, "Finder keeper: cannot record itself in %s\n", channel.keeper.c_str());
        return 1;
    }

    HostWorkspace workspace(_root, _home);
    const auto delay = static_cast<int>(kRestartDelay.count());
    const auto retry = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(kRetryAfterFailure).count());
    while (fs::exists(_root.map(kFinderPath), error)) {
        if (std::optional<int> finder = runningFinder(workspace)) {
            FileDescriptor watched(static_cast<int>(syscall(SYS_pidfd_open, *finder, 0)));
            // Without a descriptor the Finder has just ended (or cannot be watched): look again
            // after the delay rather than at once.
            if (stopArrives(signals.get(), watched.get(), watched ? -1 : delay))
                break;
            continue;
        }
        if (stopArrives(signals.get(), -1, delay))
            break;
        // Someone else may have started Finder during the delay; then that one is watched. A
        // launch between this look and the next is ordered by launch services, which bring
        // the running Finder to the front instead of starting another.
        if (runningFinder(workspace))
            continue;
        if (workspace.launchBundle(kFinderPath, {}) <= 0) {
            std::fprintf(stderr, "Finder keeper: cannot start %s\n", kFinderPath);
            if (stopArrives(signals.get(), -1, retry))
                break;
        }
    }
    fs::remove(channel.keeper, error);
    return 0;
}

}  // namespace quaymark
