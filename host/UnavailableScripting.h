// Scripting for a desktop that offers no scriptable applications.
#pragma once

#include "Scripting.h"

namespace quaymark {

// Every command fails as it does for an application that cannot be reached; running
// tests answer "not running". A desktop with scriptable stand-in applications provides
// its own bridge.
class UnavailableScriptingBridge : public ScriptingBridge {
public:
    std::unique_ptr<FinderScripting> finder(const std::string& bundleIdentifier) override;
    std::unique_ptr<TerminalScripting> terminal(const std::string& bundleIdentifier) override;
    std::unique_ptr<ITermScripting> iTerm(const std::string& bundleIdentifier) override;
};

class UnavailableAppleScriptRunner : public AppleScriptRunner {
public:
    std::optional<std::string> executeScript(const std::string& source) override;
};

}  // namespace quaymark
