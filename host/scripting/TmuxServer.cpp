#include "scripting/TmuxServer.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "posix/Spawn.h"

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

bool mentionsNoServer(const std::string& error) {
    return error.find("no server running") != std::string::npos ||
           error.find("error connecting to") != std::string::npos;
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
    std::vector<std::string> arguments = {"-u", "-N", "-S", _socketPath};
    for (std::size_t i = 0; i < commands.size(); ++i) {
        if (i > 0)
            arguments.emplace_back(";");
        arguments.insert(arguments.end(), commands[i].begin(), commands[i].end());
    }
    // The client must not take $TMUX (set when this program runs inside some tmux) as the
    // session to work on: our sessions are named by their socket and targets only.
    Environment environment = currentEnvironment();
    environment.erase("TMUX");
    environment.erase("TMUX_PANE");
    Result<ProcessOutcome> collected = runAndCollect({.executable = tmuxExecutable(),
                                                      .arguments = std::move(arguments),
                                                      .environment = std::move(environment),
                                                      .capture = Capture::Both},
                                                     timeLimit);
    TmuxReply reply;
    if (!collected) {
        reply.error = collected.error();
        return reply;
    }
    ProcessOutcome& ran = collected.value();
    reply.output = std::move(ran.output);
    reply.error = std::move(ran.errorOutput);

    if (ran.timedOut) {
        reply.outcome = TmuxReply::Outcome::TimedOut;
        reply.error = "the tmux server on " + _socketPath + " did not answer within " +
                      std::to_string(timeLimit.count()) + " ms";
    } else if (ran.exitStatus == 0) {
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
