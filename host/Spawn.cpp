#include "Spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

void writeAll(int fd, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t written = write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
}

bool readAll(int fd, void* data, std::size_t size) {
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        ssize_t got = read(fd, bytes, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// Runs in the child: set up streams and directory, exec, or report errno on `reportFd`.
[[noreturn]] void execChild(const SpawnRequest& request, const PreparedExec& prepared, int reportFd,
                            int devNull, int logFd) {
    // A mask is inherited across exec: a parent that blocks signals to take them with
    // sigwait (Finder does) would otherwise start programs that SIGTERM cannot end.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(devNull, STDIN_FILENO);
    if (logFd >= 0) {
        dup2(logFd, STDOUT_FILENO);
        dup2(logFd, STDERR_FILENO);
    } else {
        if (request.standardOutput == TaskStream::Discard)
            dup2(devNull, STDOUT_FILENO);
        if (request.standardError == TaskStream::Discard)
            dup2(devNull, STDERR_FILENO);
        if (request.standardError == TaskStream::ToStandardOutput)
            dup2(STDOUT_FILENO, STDERR_FILENO);
    }
    if (request.workingDirectory && chdir(request.workingDirectory->c_str()) != 0) {
        int error = errno;
        writeAll(reportFd, &error, sizeof error);
        _exit(127);
    }
    execve(prepared.argv[0], prepared.argv.data(), prepared.envp.data());
    int error = errno;
    writeAll(reportFd, &error, sizeof error);
    _exit(127);
}

}  // namespace

SpawnResult spawnProcess(const SpawnRequest& request) {
    PreparedExec prepared = prepare(request);
    int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull < 0)
        return {-1, std::string("cannot open /dev/null: ") + std::strerror(errno)};
    int logFd = -1;
    if (request.logFile) {
        logFd = open(request.logFile->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (logFd < 0) {
            int error = errno;
            close(devNull);
            return {-1, "cannot open " + *request.logFile + ": " + std::strerror(error)};
        }
    }
    // The error pipe closes on exec, so reading end-of-file means the exec succeeded.
    int errorPipe[2];
    int pidPipe[2] = {-1, -1};
    if (pipe2(errorPipe, O_CLOEXEC) != 0 || (request.detached && pipe2(pidPipe, O_CLOEXEC) != 0)) {
        close(devNull);
        if (logFd >= 0)
            close(logFd);
        return {-1, std::string("cannot create a pipe: ") + std::strerror(errno)};
    }

    pid_t child = fork();
    if (child == 0) {
        close(errorPipe[0]);
        if (!request.detached)
            execChild(request, prepared, errorPipe[1], devNull, logFd);
        // Detached: a new session, then a grandchild that init adopts when we leave.
        close(pidPipe[0]);
        setsid();
        pid_t grandchild = fork();
        if (grandchild == 0)
            execChild(request, prepared, errorPipe[1], devNull, logFd);
        writeAll(pidPipe[1], &grandchild, sizeof grandchild);
        _exit(grandchild > 0 ? 0 : 1);
    }

    close(errorPipe[1]);
    if (request.detached)
        close(pidPipe[1]);
    close(devNull);
    if (logFd >= 0)
        close(logFd);
    if (child < 0) {
        int error = errno;
        close(errorPipe[0]);
        if (request.detached)
            close(pidPipe[0]);
        return {-1, std::string("fork failed: ") + std::strerror(error)};
    }

    pid_t started = child;
    if (request.detached) {
        pid_t grandchild = -1;
        bool gotPid = readAll(pidPipe[0], &grandchild, sizeof grandchild);
        close(pidPipe[0]);
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        started = gotPid ? grandchild : -1;
    }

    int execError = 0;
    bool failed = readAll(errorPipe[0], &execError, sizeof execError);
    close(errorPipe[0]);
    if (failed || started <= 0) {
        if (!request.detached && started > 0) {
            int status = 0;
            while (waitpid(started, &status, 0) < 0 && errno == EINTR) {
            }
        }
        std::string reason = failed ? std::strerror(execError) : "could not start the process";
        return {-1, request.executable + ": " + reason};
    }
    return {started, ""};
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
