#include "ScriptedAppleScriptRunner.h"

namespace quaymark {

namespace {

constexpr std::string_view kKeystrokePrefix =
    "tell application \"System Events\" to tell process \"";
constexpr std::string_view kKeystrokeSuffix = "\" to keystroke \"t\" using command down";

// The process the keystroke script addresses; nothing for any other script.
std::optional<std::string> keystrokeProcess(std::string_view source) {
    if (!source.starts_with(kKeystrokePrefix) || !source.ends_with(kKeystrokeSuffix)) {
        return std::nullopt;
    }
    source.remove_prefix(kKeystrokePrefix.size());
    source.remove_suffix(kKeystrokeSuffix.size());
    if (source.find('"') != std::string_view::npos)
        return std::nullopt;
    return std::string(source);
}

}  // namespace

std::optional<std::string> ScriptedAppleScriptRunner::executeScript(const std::string& source) {
    _sources.push_back(source);
    std::optional<std::string> process = keystrokeProcess(source);
    if (!process) {
        _calls.record("AppleScript.execute", source);
        return "the script is not understood";
    }
    _calls.record("SystemEvents.keystroke", "command-t in " + *process);
    if (_refusesKeystrokes)
        return "System Events got an error: keystrokes are not allowed";
    auto target = _targets.find(*process);
    if (target == _targets.end() || !target->second->pressCommandT()) {
        return "System Events got an error: Can't get process \"" + *process + "\"";
    }
    return std::nullopt;
}

}  // namespace quaymark
