// The program inside every stand-in terminal bundle: it becomes that terminal's tmux server.
#pragma once

namespace quaymark {

// Finds the bundle the running executable lies in, reads its role, and replaces this
// process with the terminal's tmux server running in the foreground, so that the pid launch
// services registered is the server's and ending it ends the application. Returns only when
// that could not be done, after a message on standard error: the exit status then.
int runTerminalStandIn();

}  // namespace quaymark
