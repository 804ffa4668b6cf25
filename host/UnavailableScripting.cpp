#include "UnavailableScripting.h"

#include "PlatformException.h"

namespace quaymark {

namespace {

[[noreturn]] void unreachable(const std::string& bundleIdentifier) {
    throw PlatformException("SBApplicationUnreachable",
                            "application " + bundleIdentifier + " cannot be reached for scripting");
}

class UnavailableFinder : public FinderScripting {
public:
    explicit UnavailableFinder(std::string identifier) : _identifier(std::move(identifier)) {}
    std::optional<std::string> frontWindowTargetUrl() override { unreachable(_identifier); }

private:
    std::string _identifier;
};

class UnavailableTerminal : public TerminalScripting {
public:
    explicit UnavailableTerminal(std::string identifier) : _identifier(std::move(identifier)) {}
    bool isRunning() override { return false; }
    void activate() override { unreachable(_identifier); }
    ObjectSpecifier windowAtIndex(std::size_t index) override {
        return ObjectSpecifier({specifier::windowAtIndex(index)});
    }
    void doScript(const std::string&, const std::optional<ObjectSpecifier>&) override {
        unreachable(_identifier);
    }

private:
    std::string _identifier;
};

class UnavailableITerm : public ITermScripting {
public:
    explicit UnavailableITerm(std::string identifier) : _identifier(std::move(identifier)) {}
    void activate() override { unreachable(_identifier); }
    bool respondsToTerminals() override { return false; }
    std::optional<ObjectSpecifier> terminals() override { unreachable(_identifier); }
    ObjectSpecifier makeTerminal() override { unreachable(_identifier); }
    void addObject(const ObjectSpecifier&, const ObjectSpecifier&) override {
        unreachable(_identifier);
    }
    void launchSession(const ObjectSpecifier&, const std::string&) override {
        unreachable(_identifier);
    }
    ObjectSpecifier currentTerminal() override {
        return ObjectSpecifier({specifier::kCurrentTerminal});
    }
    ObjectSpecifier currentSession(const ObjectSpecifier& container) override {
        return container.child(specifier::kCurrentSession);
    }
    void writeContentsOfFile(const ObjectSpecifier&, const std::optional<std::string>&,
                             const std::string&) override {
        unreachable(_identifier);
    }
    ObjectSpecifier currentWindow() override {
        return ObjectSpecifier({specifier::kCurrentWindow});
    }
    bool get(const ObjectSpecifier&) override { unreachable(_identifier); }
    void createTabWithDefaultProfile(const ObjectSpecifier&,
                                     const std::optional<std::string>&) override {
        unreachable(_identifier);
    }
    void createWindowWithDefaultProfile(const std::optional<std::string>&) override {
        unreachable(_identifier);
    }
    bool sessionRespondsToWriteWithNewline(const ObjectSpecifier&) override { return false; }
    void writeContentsOfFile(const ObjectSpecifier&, const std::optional<std::string>&,
                             const std::string&, bool) override {
        unreachable(_identifier);
    }

private:
    std::string _identifier;
};

}  // namespace

std::unique_ptr<FinderScripting> UnavailableScriptingBridge::finder(
    const std::string& bundleIdentifier) {
    return std::make_unique<UnavailableFinder>(bundleIdentifier);
}

std::unique_ptr<TerminalScripting> UnavailableScriptingBridge::terminal(
    const std::string& bundleIdentifier) {
    return std::make_unique<UnavailableTerminal>(bundleIdentifier);
}

std::unique_ptr<ITermScripting> UnavailableScriptingBridge::iTerm(
    const std::string& bundleIdentifier) {
    return std::make_unique<UnavailableITerm>(bundleIdentifier);
}

std::optional<std::string> UnavailableAppleScriptRunner::executeScript(const std::string&) {
    return "System Events cannot be reached";
}

}  // namespace quaymark
