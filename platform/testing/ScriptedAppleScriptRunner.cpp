#include "ScriptedAppleScriptRunner.h"

namespace quaymark {

std::optional<std::string> ScriptedAppleScriptRunner::executeScript(const std::string& source) {
    _sources.push_back(source);
    constexpr std::string_view prefix = "tell application \"System Events\" to tell process \"";
    constexpr std::string_view suffix = "\" to keystroke \"t\" using command down";
    std::string_view process = source;
    if (!process.starts_with(prefix) || !process.ends_with(suffix) ||
        source.size() < prefix.size() + suffix.size()) {
        _calls.record("AppleScript.execute", source);
        return "the script is not understood";
    }
    process = process.substr(prefix.size(), source.size() - prefix.size() - suffix.size());
    _calls.record("SystemEvents.keystroke", "command-t in " + std::string(process));
    if (_refusesKeystrokes)
        return "System Events got an error: this program is not allowed to send keystrokes.";
    auto found = _applications.find(std::string(process));
    if (found == _applications.end() || !found->second->pressCommandT())
        return "System Events got an error: Can't get process \"" + std::string(process) + "\".";
    return std::nullopt;
}

}  // namespace quaymark
