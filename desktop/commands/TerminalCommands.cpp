// The commands that look at the stand-in terminals and at what System Events may do to them.
#include <ostream>
#include <sstream>
#include <thread>

#include "commands/DesktopCommand.h"
#include "scripting/SystemEventsRunner.h"
#include "scripting/TmuxInspection.h"

namespace quaymark {

namespace {

std::string screenLines(const std::string& screen, const std::string& indent) {
    std::ostringstream out;
    std::istringstream lines(screen);
    std::string line;
    while (std::getline(lines, line))
        out << indent << "| " << line << "\n";
    return out.str();
}

}  // namespace

void showTerminals(const Desktop& desktop, const std::string& only, std::ostream& out) {
    for (const std::string name : {"Terminal", "iTerm", "iTerm2"}) {
        if (!only.empty() && only != name)
            continue;
        std::optional<std::vector<TerminalWindowState>> windows = inspectTerminal(
            desktop.systemRoot(), *DesktopServices::bundleIdentifierForApplication(name));
        if (!windows) {
            if (!only.empty())
                out << name << ": not running\n";
            continue;
        }
        out << name << ": " << windows->size() << (windows->size() == 1 ? " window" : " windows")
            << "\n";
        for (std::size_t w = 0; w < windows->size(); ++w) {
            const TerminalWindowState& window = (*windows)[w];
            out << "  window " << w + 1 << (w == 0 ? " (front)" : "") << ": " << window.tabs.size()
                << (window.tabs.size() == 1 ? " tab" : " tabs") << "\n";
            for (std::size_t t = 0; t < window.tabs.size(); ++t) {
                const TerminalTabState& tab = window.tabs[t];
                out << "    tab " << t + 1 << (t == window.selectedTab ? " (selected)" : "")
                    << ", shell in " << tab.shellDirectory << "\n"
                    << screenLines(tab.screen, "      ");
            }
        }
    }
    if (only.empty() || only == "xterm") {
        for (const XtermWindow& xterm : desktop.xtermWindows()) {
            out << "xterm: pid " << xterm.pid << " in " << xterm.workingDirectory << "\n";
        }
    }
}

std::string waitForTerminalIn(const Desktop& desktop, const std::string& folder,
                              std::size_t windowsBefore) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        auto windows = inspectTerminal(desktop.systemRoot(), "com.apple.Terminal");
        if (windows && windows->size() > windowsBefore) {
            const TerminalWindowState& front = windows->front();
            const TerminalTabState& tab = front.tabs[front.selectedTab];
            if (tab.shellDirectory == folder && tab.screen.find(folder) != std::string::npos)
                return tab.screen;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return {};
}

std::size_t terminalWindowCount(const Desktop& desktop) {
    auto windows = inspectTerminal(desktop.systemRoot(), "com.apple.Terminal");
    return windows ? windows->size() : 0;
}

namespace {

int show(const Invocation& call) {
    showTerminals(*call.desktop, call.words.empty() ? "" : call.words[0], call.out);
    return 0;
}

int keystrokes(const Invocation& call) {
    const std::string& choice = call.words[0];
    if (choice != "allow" && choice != "refuse")
        return kWrongArguments;
    if (!SystemEventsRunner::setRefusesKeystrokes(call.desktop->systemRoot(), choice == "refuse")) {
        call.err << "cannot change whether System Events presses keys\n";
        return 1;
    }
    return 0;
}

}  // namespace

const DesktopCommand kShowCommand{
    .name = "show",
    .arguments = "[APP]",
    .usage = "each terminal's windows and tabs, with what their screens show",
    .handler = show,
    .mostWords = 1};

const DesktopCommand kKeystrokesCommand{
    .name = "keystrokes",
    .arguments = "allow|refuse",
    .usage =
        "let System Events press keys, or refuse as a Mac without the\n"
        "permission to control the computer does",
    .handler = keystrokes,
    .fewestWords = 1,
    .mostWords = 1};

}  // namespace quaymark
