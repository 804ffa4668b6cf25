#include "TmuxServer.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sstream>

extern char** environ;

namespace quaymark {

namespace {

std::string findTmux() {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (folder.empty())
            continue;
        std::string candidate = folder + "/tmux";
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return "/usr/bin/tmux";
}

// The client must not take $TMUX (set when this program runs inside some tmux) as the
// session to work on: our sessions are named by their socket and targets only.
bool isInheritedTmuxVariable(const char* entry) {
    return std::strncmp(entry, "TMUX=", 5) == 0 || std::strncmp(entry, "TMUX_PANE=", 10) == 0;
}

bool mentionsNoServer(const std::string& error) {
    return error.find("no server running") != std::string::npos ||
           error.find("error connecting to") != std::string::npos;
}

void closeBoth(int pipeEnds[2]) {
    if (pipeEnds[0] >= 0)
        close(pipeEnds[0]);
    if (pipeEnds[1] >= 0)
        close(pipeEnds[1]);
}

int waitForExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

}  // namespace

const std::string& tmuxExecutable() {
    static const std::string path = findTmux();
    return path;
}

std::string TmuxServer::verbatim(std::string text) {
    if (text.ends_with(';'))
        text.insert(text.size() - 1, "\\");
    return text;
}

TmuxReply TmuxServer::send(const std::vector<TmuxCommand>& commands,
                           std::chrono::milliseconds timeLimit) const {
    std::vector<std::string> arguments = {"tmux", "-u", "-N", "-S", _socketPath};
    for (std::size_t i = 0; i < commands.size(); ++i) {
        if (i > 0)
            arguments.emplace_back(";");
        arguments.insert(arguments.end(), commands[i].begin(), commands[i].end());
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** entry = environ; entry && *entry; ++entry) {
        if (!isInheritedTmuxVariable(*entry))
            envp.push_back(*entry);
    }
    envp.push_back(nullptr);

    TmuxReply reply;
    int output[2] = {-1, -1};
    int error[2] = {-1, -1};
    if (pipe2(output, O_CLOEXEC) != 0 || pipe2(error, O_CLOEXEC) != 0) {
        closeBoth(output);
        reply.error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return reply;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, error[1], STDERR_FILENO);
    pid_t pid = -1;
    int spawnError =
        posix_spawn(&pid, tmuxExecutable().c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    close(error[1]);
    if (spawnError != 0) {
        close(output[0]);
        close(error[0]);
        reply.error = tmuxExecutable() + ": " + std::strerror(spawnError);
        return reply;
    }

    auto deadline = std::chrono::steady_clock::now() + timeLimit;
    pollfd streams[2] = {{output[0], POLLIN, 0}, {error[0], POLLIN, 0}};
    std::string* sinks[2] = {&reply.output, &reply.error};
    int openStreams = 2;
    bool timedOut = false;
    char buffer[4096];
    while (openStreams > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        int ready = poll(streams, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2 && ready > 0; ++i) {
            if (streams[i].fd < 0 || streams[i].revents == 0)
                continue;
            ssize_t got = read(streams[i].fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
                continue;
            }
            close(streams[i].fd);
            streams[i].fd = -1;  // poll ignores negative descriptors
            --openStreams;
        }
    }
    for (pollfd& stream : streams) {
        if (stream.fd >= 0)
            close(stream.fd);
    }
    // The client is our own child: ending it by its pid harms nothing else.
    if (timedOut)
        kill(pid, SIGKILL);
    int status = waitForExit(pid);

    if (timedOut) {
        reply.outcome = TmuxReply::Outcome::TimedOut;
        reply.error = "the tmux server on " + _socketPath + " did not answer within " +
                      std::to_string(timeLimit.count()) + " ms";
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        reply.outcome = TmuxReply::Outcome::Done;
    } else {
        reply.outcome = mentionsNoServer(reply.error) ? TmuxReply::Outcome::NoServer
                                                      : TmuxReply::Outcome::Failed;
        while (!reply.error.empty() && reply.error.back() == '\n')
            reply.error.pop_back();
        if (reply.error.empty())
            reply.error = "tmux ended without saying why";
    }
    return reply;
}

}  // namespace quaymark
