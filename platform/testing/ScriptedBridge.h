// The scripting bridge over the modelled applications a test holds: each target it hands
// out is a new handle on the one modelled application.
#pragma once

#include "ScriptedFinder.h"
#include "ScriptedITerm.h"
#include "ScriptedTerminal.h"

namespace quaymark {

class ScriptedBridge : public ScriptingBridge {
public:
    // The models are not owned; iTerm answers to "net.sourceforge.iTerm", iTerm2 to
    // "com.googlecode.iterm2".
    ScriptedBridge(CallLog& calls, ScriptedFinder& finder, ScriptedTerminal& terminal,
                   ScriptedITerm& iTerm, ScriptedITerm& iTerm2)
        : _calls(calls), _finder(finder), _terminal(terminal), _iTerm(iTerm), _iTerm2(iTerm2) {}

    // Recorded as "Bridge.<vocabulary> <bundle identifier>"; raises PlatformException for a
    // bundle identifier of no model (compared exactly).
    std::unique_ptr<FinderScripting> finder(const std::string& bundleIdentifier) override {
        _calls.record("Bridge.finder", bundleIdentifier);
        return std::make_unique<ScriptedFinder>(
            pick(bundleIdentifier, "com.apple.Finder", _finder));
    }
    std::unique_ptr<TerminalScripting> terminal(const std::string& bundleIdentifier) override {
        _calls.record("Bridge.terminal", bundleIdentifier);
        return std::make_unique<ScriptedTerminal>(
            pick(bundleIdentifier, "com.apple.Terminal", _terminal));
    }
    std::unique_ptr<ITermScripting> iTerm(const std::string& bundleIdentifier) override {
        _calls.record("Bridge.iTerm", bundleIdentifier);
        if (bundleIdentifier == "com.googlecode.iterm2")
            return std::make_unique<ScriptedITerm>(_iTerm2);
        return std::make_unique<ScriptedITerm>(
            pick(bundleIdentifier, "net.sourceforge.iTerm", _iTerm));
    }

private:
    template <typename Model>
    static Model& pick(const std::string& bundleIdentifier, const std::string& expected,
                       Model& model) {
        if (bundleIdentifier != expected) {
            throw PlatformException("SBErrorDomain",
                                    "no application with identifier " + bundleIdentifier);
        }
        return model;
    }

    CallLog& _calls;
    ScriptedFinder& _finder;
    ScriptedTerminal& _terminal;
    ScriptedITerm& _iTerm;
    ScriptedITerm& _iTerm2;
};

}  // namespace quaymark
