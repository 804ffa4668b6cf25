// AppleScript that understands the one script the system runs, System Events pressing
// Command-T in a named process, and carries it out against the modelled application whose
// process has that name. Any other script fails.
#pragma once

#include "ScriptedApplication.h"

namespace quaymark {

class ScriptedAppleScriptRunner : public AppleScriptRunner {
public:
    explicit ScriptedAppleScriptRunner(CallLog& calls) : _calls(calls) {}

    // Records "SystemEvents.keystroke command-t in <process>" for the keystroke script,
    // "AppleScript.execute <source>" for any other.
    std::optional<std::string> executeScript(const std::string& source) override {
        _sources.push_back(source);
        const std::string prefix = "tell application \"System Events\" to tell process \"";
        const std::string suffix = "\" to keystroke \"t\" using command down";
        if (source.size() < prefix.size() + suffix.size() || !source.starts_with(prefix) ||
            !source.ends_with(suffix)) {
            _calls.record("AppleScript.execute", source);
            return "the script is not understood";
        }
        std::string process =
            source.substr(prefix.size(), source.size() - prefix.size() - suffix.size());
        _calls.record("SystemEvents.keystroke", "command-t in " + process);
        if (_refusesKeystrokes)
            return "System Events got an error: this program is not allowed to send keystrokes.";
        auto found = _applications.find(process);
        if (found == _applications.end() || !found->second->pressCommandT())
            return "System Events got an error: Can't get process \"" + process + "\".";
        return std::nullopt;
    }

    // Not owned; keyed by its process name.
    void attach(ScriptedApplication& application) {
        _applications[application.processName()] = &application;
    }
    // While set, System Events refuses every keystroke, as on a Mac where the program lacks
    // the permission to control the computer.
    void setRefusesKeystrokes(bool refuses) { _refusesKeystrokes = refuses; }
    const std::vector<std::string>& sources() const { return _sources; }

private:
    CallLog& _calls;
    std::map<std::string, ScriptedApplication*> _applications;
    std::vector<std::string> _sources;
    bool _refusesKeystrokes = false;
};

}  // namespace quaymark
