// The scripting bridge over the modelled applications: hands out targets that act on the
// models a test holds.
#pragma once

#include <map>
#include <string>

#include "CallLog.h"
#include "Scripting.h"

namespace quaymark {

class ScriptedBridge : public ScriptingBridge {
public:
    explicit ScriptedBridge(CallLog& calls) : _calls(calls) {}

    // Recorded as "Bridge.<vocabulary> <bundle identifier>"; raises PlatformException for a
    // bundle identifier that no model was added under (compared exactly).
    std::unique_ptr<FinderScripting> finder(const std::string& bundleIdentifier) override;
    std::unique_ptr<TerminalScripting> terminal(const std::string& bundleIdentifier) override;
    std::unique_ptr<ITermScripting> iTerm(const std::string& bundleIdentifier) override;

    // The models are not owned and must outlive the targets handed out.
    void add(const std::string& bundleIdentifier, FinderScripting& finder) {
        _finders[bundleIdentifier] = &finder;
    }
    void add(const std::string& bundleIdentifier, TerminalScripting& terminal) {
        _terminals[bundleIdentifier] = &terminal;
    }
    void add(const std::string& bundleIdentifier, ITermScripting& iTerm) {
        _iTerms[bundleIdentifier] = &iTerm;
    }

private:
    CallLog& _calls;
    std::map<std::string, FinderScripting*> _finders;
    std::map<std::string, TerminalScripting*> _terminals;
    std::map<std::string, ITermScripting*> _iTerms;
};

}  // namespace quaymark
