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

// Windows front to back, as the scripted terminals keep them.
struct ScriptedWindowStack {
    std::vector<ScriptedWindow> windows;
    int nextWindowId = 1;

    // Opens a window in front of the others with `sessions` sessions, the last selected.
    ScriptedWindow& open(std::size_t sessions) {
        ScriptedWindow window{nextWindowId++, {}, 0};
        for (std::size_t i = 0; i < sessions; ++i)
            window.openSession();
        windows.insert(windows.begin(), std::move(window));
        return windows.front();
    }

    // Command-T: a new tab in the front window, or a first window when there is none.
    void pressCommandT() {
        if (windows.empty()) {
            open(1);
        } else {
            windows.front().openSession();
        }
    }
};

}  // namespace quaymark
