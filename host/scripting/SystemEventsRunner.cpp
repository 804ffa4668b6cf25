#include "scripting/SystemEventsRunner.h"

#include <filesystem>

#include "PlatformException.h"
#include "preferences/AtomicFile.h"
#include "scripting/TerminalStandIn.h"
#include "scripting/TmuxApplication.h"

namespace quaymark {

namespace {

constexpr std::string_view kKeystrokePrefix =
    "tell application \"System Events\" to tell process \"";
constexpr std::string_view kKeystrokeSuffix = "\" to keystroke \"t\" using command down";

std::string refusalFlag(const SystemRoot& root) {
    return root.runtimeDirectory() + "/system-events-refuses-keystrokes";
}

}  // namespace

std::optional<std::string> SystemEventsRunner::keystrokeProcess(std::string_view source) {
    if (source.size() < kKeystrokePrefix.size() + kKeystrokeSuffix.size() ||
        !source.starts_with(kKeystrokePrefix) || !source.ends_with(kKeystrokeSuffix)) {
        return std::nullopt;
    }
    source.remove_prefix(kKeystrokePrefix.size());
    source.remove_suffix(kKeystrokeSuffix.size());
    if (source.empty() || source.find('"') != std::string_view::npos)
        return std::nullopt;
    return std::string(source);
}

Result<void> SystemEventsRunner::executeScript(const std::string& source) {
    std::optional<std::string> process = keystrokeProcess(source);
    if (!process) {
        return Result<void>::failure(
            "System Events cannot run this script: it only presses Command-T in a process "
            "(tell application \"System Events\" to tell process \"<name>\" to keystroke "
            "\"t\" using command down)");
    }
    if (refusesKeystrokes(_root)) {
        // What System Events answers on a Mac to a program without the permission (1002).
        return Result<void>::failure(
            "System Events got an error: this program is not allowed to send keystrokes.");
    }
    // Several applications may run under one name (iTerm and iTerm2 before 3 both run as
    // "iTerm"): the frontmost of them has the keystroke, else the one started last.
    std::optional<RunningApplication> chosen;
    std::optional<int> frontmost = _workspace.registry().frontmost();
    for (const RunningApplication& application : _workspace.runningApplications()) {
        if (application.processName != *process)
            continue;
        if (!chosen || chosen->pid != frontmost)
            chosen = application;
    }
    if (!chosen)
        return Result<void>::failure("System Events got an error: Can't get process \"" + *process +
                                     "\".");

    std::optional<std::string> bundle =
        _workspace.absolutePathForAppBundleWithIdentifier(chosen->bundleIdentifier);
    if (!bundle || !readTerminalStandIn(_root.map(*bundle))) {
        return Result<void>::failure("System Events got an error: process \"" + *process +
                                     "\" is no terminal and opens no tab on Command-T.");
    }
    TmuxApplication terminal(*process, tmuxSocketPath(_root, chosen->bundleIdentifier));
    try {
        if (std::optional<std::string> front = terminal.frontWindow()) {
            terminal.openTab(*front);
        } else {
            terminal.openWindow();  // Command-T with no window open opens one, as Terminal does
        }
    } catch (const PlatformException& exception) {
        return Result<void>::failure("System Events got an error: " + exception.reason());
    }
    return Result<void>::success();
}

bool SystemEventsRunner::refusesKeystrokes(const SystemRoot& root) {
    std::error_code error;
    return std::filesystem::exists(refusalFlag(root), error);
}

bool SystemEventsRunner::setRefusesKeystrokes(const SystemRoot& root, bool refuses) {
    std::error_code error;
    if (!refuses) {
        std::filesystem::remove(refusalFlag(root), error);
        return !error;
    }
    std::filesystem::create_directories(root.runtimeDirectory(), error);
    return writeFileAtomically(refusalFlag(root), "");
}

}  // namespace quaymark
