// One tmux server, reached through its socket by short-lived tmux client processes.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace quaymark {

// A tmux command as its argument vector, such as {"send-keys", "-t", "$0:", "Enter"}.
using TmuxCommand = std::vector<std::string>;

struct TmuxReply {
    enum class Outcome {
        Done,      // every command succeeded
        Failed,    // a command failed; tmux ran none after it
        NoServer,  // no server listens on the socket
        NoClient,  // the tmux client could not be started
        TimedOut,  // the server did not answer in time; the client was ended
    };
    Outcome outcome = Outcome::NoClient;
    std::string output;  // the client's standard output
    std::string error;   // the client's standard error, or why it did not run
};

class TmuxServer {
public:
    explicit TmuxServer(std::string socketPath) : _socketPath(std::move(socketPath)) {}

    const std::string& socketPath() const { return _socketPath; }

    // Runs the commands in order through one tmux client, which never starts a server;
    // never raises: the reply says what went wrong.
    TmuxReply send(const std::vector<TmuxCommand>& commands,
                   std::chrono::milliseconds timeLimit = kTimeLimit) const;

    // The argument that reaches a tmux command as exactly `text`: tmux takes an argument
    // ending in ";" as the end of a command, and "\;" at the end as a plain ";".
    static std::string verbatim(std::string text);

    // A tmux server answers in milliseconds; one that takes seconds is stuck.
    static constexpr std::chrono::milliseconds kTimeLimit{5000};

private:
    std::string _socketPath;
};

// The tmux program: the first "tmux" on PATH, else /usr/bin/tmux.
const std::string& tmuxExecutable();

}  // namespace quaymark
