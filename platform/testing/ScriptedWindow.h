// The state the scripted terminal applications share: windows holding tabs (sessions),
// one of them selected, each keeping what it was given to run.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quaymark {

struct ScriptedSession {
    // Each text the session received, in order; a text that was run as a line ends in "\n".
    std::vector<std::string> received;
};

struct ScriptedWindow {
    // Identifies the window while others open in front of it.
    int id = 0;
    std::vector<ScriptedSession> sessions;
    std::size_t selected = 0;

    // Appends a session and selects it, as a new tab does.
    ScriptedSession& openSession() {
        sessions.emplace_back();
        selected = sessions.size() - 1;
        return sessions.back();
    }
};

}  // namespace quaymark
