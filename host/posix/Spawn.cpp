#include "posix/Spawn.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace quaymark {

namespace {

// Everything the child needs is built before fork(): between fork() and exec() only
// async-signal-safe calls are made, since other threads may hold locks.
struct PreparedExec {
    std::vector<std::string> strings;
    std::vector<char*> argv;
    std::vector<char*> envp;
};

PreparedExec prepare(const SpawnRequest& request) {
    PreparedExec prepared;
    prepared.strings.push_back(request.executable);
    for (const auto& argument : request.arguments)
        prepared.strings.push_back(argument);
    std::size_t argumentCount = prepared.strings.size();
    for (const auto& [name, value] : request.environment)
        prepared.strings.push_back(name + "=" + value);
    for (std::size_t i = 0; i < prepared.strings.size(); ++i) {
        (i < argumentCount ? prepared.argv : prepared.envp).push_back(prepared.strings[i].data());
    }
    prepared.argv.push_back(nullptr);
    prepared.envp.push_back(nullptr);
    return prepared;
}

// The descriptors the child reads from before exec. None may be 0 to 3, or setting up the
// child's own 0 to 3 could close it first.
struct ChildDescriptors {
    FileDescriptor devNull;
    FileDescriptor log;
    FileDescriptor report;  // the exec error goes here; closes on exec
    FileDescriptor output;
    FileDescriptor errorOutput;
};

bool liftAboveThree(FileDescriptor& fd) {
    if (!fd || fd.get() > 3)
        return true;
    FileDescriptor lifted(::fcntl(fd.get(), F_DUPFD_CLOEXEC, 4));
    fd = std::move(lifted);
    return bool(fd);
}

void dupTo(const FileDescriptor& from, int to) {
    if (from)
        ::dup2(from.get(), to);
}

// Runs in the child: set up streams and directory, exec, or report errno.
[[noreturn]] void execChild(const SpawnRequest& request, const PreparedExec& prepared,
                            const ChildDescriptors& fds) {
    // A mask is inherited across exec: a parent that blocks signals to take them with
    // sigwait (Finder does) would otherwise start programs that SIGTERM cannot end.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (request.descriptor3) {
        // dup2 onto itself would leave close-on-exec set.
        if (*request.descriptor3 == 3) {
            ::fcntl(3, F_SETFD, 0);
        } else {
            ::dup2(*request.descriptor3, 3);
        }
    }
    dupTo(fds.devNull, STDIN_FILENO);
    if (fds.log) {
        dupTo(fds.log, STDOUT_FILENO);
        dupTo(fds.log, STDERR_FILENO);
    } else {
        if (request.standardOutput == TaskStream::Discard)
            dupTo(fds.devNull, STDOUT_FILENO);
        dupTo(fds.output, STDOUT_FILENO);
        if (request.standardError == TaskStream::Discard)
            dupTo(fds.devNull, STDERR_FILENO);
        if (request.standardError == TaskStream::ToStandardOutput)
            ::dup2(STDOUT_FILENO, STDERR_FILENO);
        dupTo(fds.errorOutput, STDERR_FILENO);
    }
    if (!request.workingDirectory || ::chdir(request.workingDirectory->c_str()) == 0)
        ::execve(prepared.argv[0], prepared.argv.data(), prepared.envp.data());
    int error = errno;
    writeAll(fds.report.get(), std::string_view(reinterpret_cast<char*>(&error), sizeof error));
    _exit(127);
}

// Returns the child's pid in the parent, or -1. The child execs; when detached it starts a new
// session and a grandchild that execs, which init adopts when the child leaves, and sends the
// grandchild's pid up `pidWriteEnd`.
pid_t forkChild(const SpawnRequest& request, const PreparedExec& prepared,
                const ChildDescriptors& child, const FileDescriptor& pidWriteEnd) {
    pid_t forked = ::fork();
    if (forked != 0)
        return forked;
    if (!request.detached)
        execChild(request, prepared, child);
    ::setsid();
    pid_t grandchild = ::fork();
    if (grandchild == 0)
        execChild(request, prepared, child);
    writeAll(pidWriteEnd.get(),
             std::string_view(reinterpret_cast<char*>(&grandchild), sizeof grandchild));
    _exit(grandchild > 0 ? 0 : 1);
}

// The grandchild's pid that the detached child sent, once the child has ended; -1 when none
// came.
pid_t detachedPid(pid_t child, const FileDescriptor& pidReadEnd) {
    pid_t grandchild = -1;
    bool gotPid = readExactly(pidReadEnd.get(), &grandchild, sizeof grandchild);
    waitForChild(child);
    return gotPid ? grandchild : -1;
}

using Started = Result<StartedProcess>;

std::string failure(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

Result<StartedProcess> spawnProcess(const SpawnRequest& request) {
    PreparedExec prepared = prepare(request);
    StartedProcess result;
    ChildDescriptors child;
    child.devNull = openFile("/dev/null", O_RDWR);
    if (!child.devNull)
        return Started::failure(failure("cannot open /dev/null"));
    if (request.logFile) {
        child.log = openFile(*request.logFile, O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (!child.log)
            return Started::failure(failure("cannot open " + *request.logFile));
    }
    // The report pipe closes on exec, so reading end-of-file means the exec succeeded.
    std::optional<Pipe> report = makePipe();
    std::optional<Pipe> pidPipe = request.detached ? makePipe() : Pipe{};
    bool captureOutput =
        request.capture == Capture::StandardOutput || request.capture == Capture::Both;
    bool captureError =
        request.capture == Capture::StandardError || request.capture == Capture::Both;
    std::optional<Pipe> output = captureOutput ? makePipe() : Pipe{};
    std::optional<Pipe> errorOutput = captureError ? makePipe() : Pipe{};
    if (!report || !pidPipe || !output || !errorOutput)
        return Started::failure(failure("cannot create a pipe"));
    child.report = std::move(report->writeEnd);
    child.output = std::move(output->writeEnd);
    result.output = std::move(output->readEnd);
    child.errorOutput = std::move(errorOutput->writeEnd);
    result.errorOutput = std::move(errorOutput->readEnd);
    if (!liftAboveThree(child.devNull) || !liftAboveThree(child.log) ||
        !liftAboveThree(child.report) || !liftAboveThree(child.output) ||
        !liftAboveThree(child.errorOutput) || !liftAboveThree(pidPipe->writeEnd))
        return Started::failure(failure("cannot move a descriptor"));

    pid_t forked = forkChild(request, prepared, child, pidPipe->writeEnd);
    if (forked < 0)
        return Started::failure(failure("fork failed"));
    // Our copies of the child's ends must go, or the pipes would never reach end of file.
    child = ChildDescriptors();
    pidPipe->writeEnd.close();

    result.pid = request.detached ? detachedPid(forked, pidPipe->readEnd) : forked;
    int execError = 0;
    bool failed = readExactly(report->readEnd.get(), &execError, sizeof execError);
    if (failed || result.pid <= 0) {
        if (!request.detached && result.pid > 0)
            waitForChild(result.pid);
        std::string reason = failed ? std::strerror(execError) : "could not start the process";
        return Started::failure(request.executable + ": " + reason);
    }
    return Started::success(std::move(result));
}

Result<ProcessOutcome> runAndCollect(const SpawnRequest& request,
                                     std::chrono::milliseconds timeLimit) {
    ProcessOutcome outcome;
    SpawnRequest attached = request;
    attached.detached = false;
    Result<StartedProcess> spawned = spawnProcess(attached);
    if (!spawned)
        return Result<ProcessOutcome>::failure(spawned.error());
    StartedProcess& started = spawned.value();
    auto deadline = std::chrono::steady_clock::now() + timeLimit;
    pollfd streams[2] = {{started.output.get(), POLLIN, 0}, {started.errorOutput.get(), POLLIN, 0}};
    std::string* sinks[2] = {&outcome.output, &outcome.errorOutput};
    char buffer[4096];
    // poll() skips negative descriptors: a stream not captured, or one at its end.
    while (streams[0].fd >= 0 || streams[1].fd >= 0) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            outcome.timedOut = true;
            break;
        }
        if (::poll(streams, 2, static_cast<int>(left.count())) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (streams[i].fd < 0 || streams[i].revents == 0)
                continue;
            ssize_t got =
                retryOnInterrupt([&] { return ::read(streams[i].fd, buffer, sizeof buffer); });
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            } else {
                streams[i].fd = -1;
            }
        }
    }
    // The child is our own: ending it by its pid harms nothing else.
    if (outcome.timedOut)
        ::kill(started.pid, SIGKILL);
    std::optional<int> status = waitForChild(started.pid);
    if (status && !outcome.timedOut)
        outcome.exitStatus = exitStatusOf(*status);
    return Result<ProcessOutcome>::success(std::move(outcome));
}

Environment currentEnvironment() {
    Environment environment;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string_view text(*entry);
        auto equals = text.find('=');
        if (equals == std::string_view::npos)
            continue;
        environment.emplace(std::string(text.substr(0, equals)),
                            std::string(text.substr(equals + 1)));
    }
    return environment;
}

int exitStatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return -1;
}

}  // namespace quaymark
