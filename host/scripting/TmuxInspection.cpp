#include "scripting/TmuxInspection.h"

#include <filesystem>
#include <map>
#include <random>
#include <sstream>

#include "PlatformException.h"
#include "scripting/TerminalStandIn.h"

namespace quaymark {

namespace {

struct Pane {
    std::string window;
    bool selected;
    std::string id;
    std::string pid;
};

std::string cleanScreen(const std::string& captured) {
    std::istringstream lines(captured);
    std::string line;
    std::string screen;
    std::size_t keep = 0;
    while (std::getline(lines, line)) {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
            line.pop_back();
        screen += line;
        screen += '\n';
        if (!line.empty())
            keep = screen.size();
    }
    screen.resize(keep);
    return screen;
}

std::string shellDirectory(const std::string& pid) {
    std::error_code error;
    std::filesystem::path directory = std::filesystem::read_symlink("/proc/" + pid + "/cwd", error);
    return error ? "" : directory.string();
}

// A line no screen will show by chance, to cut the captures of several panes apart.
std::string captureSeparator() {
    std::random_device random;
    std::ostringstream text;
    text << "quaymark-capture-" << std::hex << random() << random();
    return text.str();
}

// One pane a line of `listing`, as list-windows prints them.
std::vector<Pane> parsePanes(const std::string& listing) {
    std::vector<Pane> panes;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        Pane pane;
        std::string index;
        std::string active;
        if (fields >> pane.window >> index >> active >> pane.id >> pane.pid) {
            pane.selected = active == "1";
            panes.push_back(pane);
        }
    }
    return panes;
}

// The screen of each pane, in one call to tmux; empty when a pane went away meanwhile.
std::vector<std::string> captureScreens(const TmuxApplication& terminal,
                                        const std::vector<Pane>& panes) {
    std::vector<TmuxCommand> captures;
    std::string separator = captureSeparator();
    for (const Pane& pane : panes) {
        if (!captures.empty())
            captures.push_back({"display-message", "-p", separator});
        captures.push_back({"capture-pane", "-p", "-J", "-t", pane.id});
    }
    std::vector<std::string> screens;
    try {
        std::string captured = terminal.run(captures);
        std::size_t start = 0;
        while (true) {
            std::size_t found = captured.find(separator + "\n", start);
            screens.push_back(cleanScreen(captured.substr(start, found - start)));
            if (found == std::string::npos)
                break;
            start = found + separator.size() + 1;
        }
    } catch (const PlatformException&) {
        // A tab closed between listing and capturing: read what is left, screens unknown.
        screens.clear();
    }
    return screens;
}

// The panes gathered into their windows, which come in the order `order` names them.
std::vector<TerminalWindowState> windowsInOrder(const std::vector<Pane>& panes,
                                                const std::vector<std::string>& screens,
                                                const std::vector<std::string>& order) {
    std::map<std::string, TerminalWindowState> windows;
    for (std::size_t i = 0; i < panes.size(); ++i) {
        TerminalWindowState& window = windows[panes[i].window];
        window.id = panes[i].window;
        if (panes[i].selected)
            window.selectedTab = window.tabs.size();
        window.tabs.push_back({shellDirectory(panes[i].pid), i < screens.size() ? screens[i] : ""});
    }
    std::vector<TerminalWindowState> frontToBack;
    for (const std::string& id : order) {
        auto found = windows.find(id);
        if (found != windows.end())
            frontToBack.push_back(std::move(found->second));
    }
    return frontToBack;
}

}  // namespace

std::optional<std::vector<TerminalWindowState>> inspectTerminal(const TmuxApplication& terminal) {
    std::vector<std::string> order;
    std::string listing;
    try {
        order = terminal.windowsFrontToBack();
        listing = terminal.run({{"list-windows", "-a", "-F",
                                 "#{session_id} #{window_index} #{window_active} #{pane_id} "
                                 "#{pane_pid}"}});
    } catch (const PlatformException&) {
        return std::nullopt;  // no server answers: nothing runs to be read
    }
    const std::vector<Pane> panes = parsePanes(listing);
    return windowsInOrder(panes, captureScreens(terminal, panes), order);
}

std::optional<std::vector<TerminalWindowState>> inspectTerminal(
    const SystemRoot& root, const std::string& bundleIdentifier) {
    return inspectTerminal(
        TmuxApplication(bundleIdentifier, tmuxSocketPath(root, bundleIdentifier)));
}

}  // namespace quaymark
