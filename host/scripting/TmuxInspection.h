// Reading what a stand-in terminal shows: its windows front to back, their tabs, screens.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "launch/SystemRoot.h"
#include "scripting/TmuxApplication.h"

namespace quaymark {

struct TerminalTabState {
    std::string shellDirectory;  // the working folder of the tab's shell; empty when unknown
    // The visible screen, wrapped lines joined, trailing blanks and empty lines dropped.
    std::string screen;
};

struct TerminalWindowState {
    std::string id;  // the tmux session id, such as "$2"
    std::vector<TerminalTabState> tabs;
    std::size_t selectedTab = 0;
};

// The windows front to back with their tabs; nothing when the application's server does
// not answer (it is not running). A window closing while it is read may be left out.
std::optional<std::vector<TerminalWindowState>> inspectTerminal(const TmuxApplication& terminal);
std::optional<std::vector<TerminalWindowState>> inspectTerminal(
    const SystemRoot& root, const std::string& bundleIdentifier);

}  // namespace quaymark
