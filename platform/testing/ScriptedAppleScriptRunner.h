// AppleScript that understands the one script the system runs: System Events pressing
// Command-T in a named process, carried out against the modelled application of that name.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "CallLog.h"
#include "Scripting.h"

namespace quaymark {

// A modelled application that can receive the Command-T keystroke.
class KeystrokeTarget {
public:
    virtual ~KeystrokeTarget() = default;
    virtual std::string processName() const = 0;
    // Opens a new tab in the front window (a new window when there is none); false when
    // the application does not run, so there is no process to press the keys in.
    virtual bool pressCommandT() = 0;
};

class ScriptedAppleScriptRunner : public AppleScriptRunner {
public:
    explicit ScriptedAppleScriptRunner(CallLog& calls) : _calls(calls) {}

    // Records "SystemEvents.keystroke command-t in <process>" for the keystroke script and
    // "AppleScript.execute <source>" for any other, which always fails.
    std::optional<std::string> executeScript(const std::string& source) override;

    // Not owned; keyed by its process name.
    void attach(KeystrokeTarget& target) { _targets[target.processName()] = &target; }
    // While set, System Events refuses every keystroke (no assistive access).
    void setRefusesKeystrokes(bool refuses) { _refusesKeystrokes = refuses; }
    const std::vector<std::string>& sources() const { return _sources; }

private:
    CallLog& _calls;
    std::map<std::string, KeystrokeTarget*> _targets;
    std::vector<std::string> _sources;
    bool _refusesKeystrokes = false;
};

}  // namespace quaymark
