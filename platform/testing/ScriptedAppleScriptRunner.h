// AppleScript that understands the one script the system runs, System Events pressing
// Command-T in a named process, and carries it out against the modelled application whose
// process has that name. Any other script fails.
#pragma once

#include "ScriptedApplication.h"

namespace quaymark {

class ScriptedAppleScriptRunner : public AppleScriptRunner {
public:
    // System Events finds each scripted application by its process name; they are not owned.
    ScriptedAppleScriptRunner(CallLog& calls, std::vector<ScriptedApplication*> scripted)
        : _calls(calls), _applications(std::move(scripted)) {}

    // Records "SystemEvents.keystroke command-t in <process>" for the keystroke script,
    // "AppleScript.execute <source>" for any other.
    Result<void> executeScript(const std::string& source) override {
        const std::string prefix = "tell application \"System Events\" to tell process \"";
        const std::string suffix = "\" to keystroke \"t\" using command down";
        if (source.size() < prefix.size() + suffix.size() || !source.starts_with(prefix) ||
            !source.ends_with(suffix)) {
            _calls.record("AppleScript.execute", source);
            return Result<void>::failure("the script is not understood");
        }
        std::string process =
            source.substr(prefix.size(), source.size() - prefix.size() - suffix.size());
        _calls.record("SystemEvents.keystroke", "command-t in " + process);
        if (_refusesKeystrokes)
            return Result<void>::failure(
                "System Events got an error: this program is not allowed to send keystrokes.");
        auto found = std::find_if(_applications.begin(), _applications.end(), [&](auto* scripted) {
            return scripted->processName() == process;
        });
        if (found == _applications.end() || !(*found)->pressCommandT())
            return Result<void>::failure("System Events got an error: Can't get process \"" +
                                         process + "\".");
        return Result<void>::success();
    }

    // While set, System Events refuses every keystroke, as on a Mac where the program lacks
    // the permission to control the computer.
    void setRefusesKeystrokes(bool refuses) { _refusesKeystrokes = refuses; }

private:
    CallLog& _calls;
    std::vector<ScriptedApplication*> _applications;
    bool _refusesKeystrokes = false;
};

}  // namespace quaymark
