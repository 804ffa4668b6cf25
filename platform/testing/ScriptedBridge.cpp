#include "ScriptedBridge.h"

#include "PlatformException.h"

namespace quaymark {

namespace {

// Targets are handles: each scripting command goes to the one modelled application, as
// every target of a real application addresses the same process.
class FinderTarget : public FinderScripting {
public:
    explicit FinderTarget(FinderScripting& model) : _model(model) {}
    std::optional<std::string> frontWindowTargetUrl() override {
        return _model.frontWindowTargetUrl();
    }

private:
    FinderScripting& _model;
};

class TerminalTarget : public TerminalScripting {
public:
    explicit TerminalTarget(TerminalScripting& model) : _model(model) {}
    bool isRunning() override { return _model.isRunning(); }
    void activate() override { _model.activate(); }
    ObjectSpecifier windowAtIndex(std::size_t index) override {
        return _model.windowAtIndex(index);
    }
    void doScript(const std::string& command,
                  const std::optional<ObjectSpecifier>& window) override {
        _model.doScript(command, window);
    }

private:
    TerminalScripting& _model;
};

class ITermTarget : public ITermScripting {
public:
    explicit ITermTarget(ITermScripting& model) : _model(model) {}
    void activate() override { _model.activate(); }
    bool respondsToTerminals() override { return _model.respondsToTerminals(); }
    std::optional<ObjectSpecifier> terminals() override { return _model.terminals(); }
    ObjectSpecifier makeTerminal() override { return _model.makeTerminal(); }
    void addObject(const ObjectSpecifier& list, const ObjectSpecifier& terminal) override {
        _model.addObject(list, terminal);
    }
    void launchSession(const ObjectSpecifier& terminal, const std::string& name) override {
        _model.launchSession(terminal, name);
    }
    ObjectSpecifier currentTerminal() override { return _model.currentTerminal(); }
    ObjectSpecifier currentSession(const ObjectSpecifier& container) override {
        return _model.currentSession(container);
    }
    void writeContentsOfFile(const ObjectSpecifier& session, const std::optional<std::string>& file,
                             const std::string& text) override {
        _model.writeContentsOfFile(session, file, text);
    }
    ObjectSpecifier currentWindow() override { return _model.currentWindow(); }
    bool get(const ObjectSpecifier& window) override { return _model.get(window); }
    void createTabWithDefaultProfile(const ObjectSpecifier& window,
                                     const std::optional<std::string>& command) override {
        _model.createTabWithDefaultProfile(window, command);
    }
    void createWindowWithDefaultProfile(const std::optional<std::string>& command) override {
        _model.createWindowWithDefaultProfile(command);
    }
    bool sessionRespondsToWriteWithNewline(const ObjectSpecifier& session) override {
        return _model.sessionRespondsToWriteWithNewline(session);
    }
    void writeContentsOfFile(const ObjectSpecifier& session, const std::optional<std::string>& file,
                             const std::string& text, bool newline) override {
        _model.writeContentsOfFile(session, file, text, newline);
    }

private:
    ITermScripting& _model;
};

template <typename Model>
Model& lookUp(const std::map<std::string, Model*>& models, const std::string& bundleIdentifier) {
    auto found = models.find(bundleIdentifier);
    if (found == models.end()) {
        throw PlatformException("SBErrorDomain",
                                "no application with identifier " + bundleIdentifier);
    }
    return *found->second;
}

}  // namespace

std::unique_ptr<FinderScripting> ScriptedBridge::finder(const std::string& bundleIdentifier) {
    _calls.record("Bridge.finder", bundleIdentifier);
    return std::make_unique<FinderTarget>(lookUp(_finders, bundleIdentifier));
}

std::unique_ptr<TerminalScripting> ScriptedBridge::terminal(const std::string& bundleIdentifier) {
    _calls.record("Bridge.terminal", bundleIdentifier);
    return std::make_unique<TerminalTarget>(lookUp(_terminals, bundleIdentifier));
}

std::unique_ptr<ITermScripting> ScriptedBridge::iTerm(const std::string& bundleIdentifier) {
    _calls.record("Bridge.iTerm", bundleIdentifier);
    return std::make_unique<ITermTarget>(lookUp(_iTerms, bundleIdentifier));
}

}  // namespace quaymark
