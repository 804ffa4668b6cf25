#include "scripting/TmuxScripting.h"

#include <sys/stat.h>

#include <charconv>
#include <thread>

#include "PlatformException.h"

namespace quaymark {

namespace {

constexpr const char* kDefaultSessionProfile = "Default Session";
constexpr std::string_view kWindowsStep = "windows[";

// The name failure messages give the application.
std::string applicationName(const std::string& bundleIdentifier) {
    for (TerminalKind kind :
         {TerminalKind::AppleTerminal, TerminalKind::ITerm, TerminalKind::ITerm2}) {
        if (bundleIdentifierFor(kind) == bundleIdentifier)
            return standInRole(kind);
    }
    return bundleIdentifier;
}

bool socketExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// The N of a "windows[N]" step; nothing for any other step.
std::optional<std::size_t> windowIndexOf(std::string_view step) {
    if (!step.starts_with(kWindowsStep) || !step.ends_with(']'))
        return std::nullopt;
    std::string_view digits =
        step.substr(kWindowsStep.size(), step.size() - kWindowsStep.size() - 1);
    std::size_t index = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return index;
}

PlatformException noSuchObject(const std::string& application, const ObjectSpecifier& reference) {
    return PlatformException("SBErrorDomain -1728",
                             application + " got an error: Can't get " + reference.description());
}

// The session id of the window `step` names among the windows front to back, if it is a
// "windows[N]" step naming one.
std::optional<std::string> windowAtIndexStep(const TmuxApplication& application,
                                             std::string_view step) {
    std::optional<std::size_t> index = windowIndexOf(step);
    if (!index)
        return std::nullopt;
    std::vector<std::string> windows = application.windowsFrontToBack();
    if (*index >= windows.size())
        return std::nullopt;
    return windows[*index];
}

}  // namespace

TmuxStandInTarget::TmuxStandInTarget(TmuxDesktop desktop, std::string bundleIdentifier)
    : _desktop(std::move(desktop)),
      _bundleIdentifier(std::move(bundleIdentifier)),
      _application(applicationName(_bundleIdentifier),
                   tmuxSocketPath(_desktop.root, _bundleIdentifier)) {}

bool TmuxStandInTarget::isRunning() {
    return !_desktop.workspace.runningApplicationsWithBundleIdentifier(_bundleIdentifier).empty();
}

const std::optional<TerminalStandIn>& TmuxStandInTarget::standIn() {
    if (!_standIn) {
        std::optional<std::string> path =
            _desktop.workspace.absolutePathForAppBundleWithIdentifier(_bundleIdentifier);
        _standIn.emplace(path ? readTerminalStandIn(_desktop.root.map(*path)) : std::nullopt);
    }
    return *_standIn;
}

void TmuxStandInTarget::activate() {
    std::vector<RunningApplication> running =
        _desktop.workspace.runningApplicationsWithBundleIdentifier(_bundleIdentifier);
    if (running.empty()) {
        if (!standIn()) {
            throw PlatformException("SBErrorDomain -600", _application.name() +
                                                              " is not installed as a stand-in "
                                                              "terminal on this desktop");
        }
        std::optional<std::string> path =
            _desktop.workspace.absolutePathForAppBundleWithIdentifier(_bundleIdentifier);
        // The shells start in the desktop's home, and the stand-in finds its socket through
        // the system root, whatever this process's own environment says.
        Environment environment = {{"HOME", _desktop.home},
                                   {"QUAYMARK_SYSTEM_ROOT", _desktop.root.root()}};
        int pid = path ? _desktop.workspace.launchBundle(*path, environment) : -1;
        if (pid <= 0) {
            throw PlatformException("SBErrorDomain -600",
                                    _application.name() + " could not be started");
        }
        waitUntilAnswering(pid);
        running = {{pid, _bundleIdentifier, standIn()->processName}};
    } else if (!socketExists(_application.server().socketPath())) {
        // Launched by someone else a moment ago: its server is not listening yet.
        waitUntilAnswering(running.front().pid);
    }
    // Failing only when the application has ended meanwhile, which the next command reports.
    _desktop.workspace.activate(running.front());
}

void TmuxStandInTarget::waitUntilAnswering(int pid) {
    auto deadline = std::chrono::steady_clock::now() + kStartTimeLimit;
    std::string lastError = "its server never listened";
    while (std::chrono::steady_clock::now() < deadline) {
        if (!processStartTime(pid)) {
            throw PlatformException("SBErrorDomain -600",
                                    _application.name() + " quit while starting");
        }
        // Until the socket exists a client would only fail; a stat costs far less.
        if (socketExists(_application.server().socketPath())) {
            // tmux answers clients only once its configuration, which opens the initial
            // window, has run; so one answer listing a window means the window is there.
            TmuxReply reply =
                _application.server().send({{"list-sessions", "-F", "#{session_id}"}});
            if (reply.outcome == TmuxReply::Outcome::Done && !reply.output.empty())
                return;
            lastError =
                reply.outcome == TmuxReply::Outcome::Done ? "it opened no window" : reply.error;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    throw PlatformException("SBErrorDomain -1712",
                            _application.name() + " did not start in time: " + lastError);
}

TmuxTerminal::TmuxTerminal(TmuxDesktop desktop, std::string bundleIdentifier)
    : _target(std::move(desktop), std::move(bundleIdentifier)) {}

bool TmuxTerminal::isRunning() {
    return _target.isRunning();
}

void TmuxTerminal::activate() {
    _target.activate();
}

ObjectSpecifier TmuxTerminal::windowAtIndex(std::size_t index) {
    return ObjectSpecifier({specifier::windowAtIndex(index)});
}

void TmuxTerminal::doScript(const std::string& command,
                            const std::optional<ObjectSpecifier>& window) {
    const TmuxApplication& application = _target.application();
    if (!window) {
        application.openWindow(command);
        return;
    }
    std::optional<std::string> target;
    if (window->steps().size() == 1)
        target = windowAtIndexStep(application, window->steps().front());
    if (!target)
        throw noSuchObject(application.name(), *window);
    application.type(*target, command, LineEnd::Return);
}

TmuxITerm::TmuxITerm(TmuxDesktop desktop, std::string bundleIdentifier)
    : _target(std::move(desktop), std::move(bundleIdentifier)) {}

bool TmuxITerm::speaks(TerminalVocabulary vocabulary) {
    const std::optional<TerminalStandIn>& standIn = _target.standIn();
    return standIn && standIn->vocabulary() == vocabulary;
}

void TmuxITerm::requireVocabulary(TerminalVocabulary vocabulary, const char* selector) {
    if (!speaks(vocabulary)) {
        throw PlatformException("NSInvalidArgumentException",
                                std::string("unrecognized selector ") + selector + " for " +
                                    _target.application().name());
    }
}

void TmuxITerm::refuseFile(const std::optional<std::string>& file) const {
    if (file) {
        throw PlatformException("SBErrorDomain -10000", _target.application().name() +
                                                            " stand-in writes text only, not "
                                                            "the contents of a file");
    }
}

void TmuxITerm::activate() {
    _target.activate();
}

bool TmuxITerm::respondsToTerminals() {
    return speaks(TerminalVocabulary::ITermClassic);
}

std::optional<ObjectSpecifier> TmuxITerm::terminals() {
    requireVocabulary(TerminalVocabulary::ITermClassic, "terminals");
    return ObjectSpecifier({specifier::kTerminals});
}

ObjectSpecifier TmuxITerm::makeTerminal() {
    requireVocabulary(TerminalVocabulary::ITermClassic, "classForScriptingClass:");
    std::string step = specifier::newTerminal(_madeTerminals.size() + 1);
    _madeTerminals[step] = MadeTerminal{};
    return ObjectSpecifier({step});
}

TmuxITerm::MadeTerminal* TmuxITerm::madeTerminal(const ObjectSpecifier& reference) {
    if (reference.steps().size() != 1)
        return nullptr;
    auto found = _madeTerminals.find(reference.steps().front());
    return found == _madeTerminals.end() ? nullptr : &found->second;
}

void TmuxITerm::addObject(const ObjectSpecifier& list, const ObjectSpecifier& terminal) {
    requireVocabulary(TerminalVocabulary::ITermClassic, "addObject:");
    MadeTerminal* made = madeTerminal(terminal);
    if (list != ObjectSpecifier({specifier::kTerminals}) || !made || made->window) {
        throw PlatformException("SBErrorDomain -10000",
                                _target.application().name() + " got an error: cannot add " +
                                    terminal.description() + " to " + list.description());
    }
    made->window = _target.application().openWindow();
}

void TmuxITerm::launchSession(const ObjectSpecifier& terminal, const std::string& name) {
    requireVocabulary(TerminalVocabulary::ITermClassic, "launchSession:");
    if (name != kDefaultSessionProfile) {
        throw PlatformException("SBErrorDomain -10000", _target.application().name() +
                                                            " got an error: no session profile "
                                                            "named \"" +
                                                            name + "\"");
    }
    // tmux holds no window without a shell, so the window addObject opened already runs the
    // session its first launch would start; that launch takes it over.
    MadeTerminal* made = madeTerminal(terminal);
    if (made && made->window && !made->launched) {
        made->launched = true;
        return;
    }
    _target.application().openTab(resolveWindow(terminal));
}

ObjectSpecifier TmuxITerm::currentTerminal() {
    requireVocabulary(TerminalVocabulary::ITermClassic, "currentTerminal");
    return ObjectSpecifier({specifier::kCurrentTerminal});
}

ObjectSpecifier TmuxITerm::currentSession(const ObjectSpecifier& container) {
    return container.child(specifier::kCurrentSession);
}

void TmuxITerm::writeContentsOfFile(const ObjectSpecifier& session,
                                    const std::optional<std::string>& file,
                                    const std::string& text) {
    refuseFile(file);
    _target.application().type(resolveSession(session), text, LineEnd::Return);
}

ObjectSpecifier TmuxITerm::currentWindow() {
    requireVocabulary(TerminalVocabulary::ITermNextGeneration, "currentWindow");
    return ObjectSpecifier({specifier::kCurrentWindow});
}

bool TmuxITerm::get(const ObjectSpecifier& window) {
    requireVocabulary(TerminalVocabulary::ITermNextGeneration, "get");
    return findWindow(window).has_value();
}

void TmuxITerm::createTabWithDefaultProfile(const ObjectSpecifier& window,
                                            const std::optional<std::string>& command) {
    requireVocabulary(TerminalVocabulary::ITermNextGeneration,
                      "createTabWithDefaultProfileCommand:");
    _target.application().openTab(resolveWindow(window), command);
}

void TmuxITerm::createWindowWithDefaultProfile(const std::optional<std::string>& command) {
    requireVocabulary(TerminalVocabulary::ITermNextGeneration,
                      "createWindowWithDefaultProfileCommand:");
    _target.application().openWindow(command);
}

bool TmuxITerm::sessionRespondsToWriteWithNewline(const ObjectSpecifier&) {
    return speaks(TerminalVocabulary::ITermNextGeneration);
}

void TmuxITerm::writeContentsOfFile(const ObjectSpecifier& session,
                                    const std::optional<std::string>& file, const std::string& text,
                                    bool newline) {
    requireVocabulary(TerminalVocabulary::ITermNextGeneration, "writeContentsOfFile:text:newline:");
    refuseFile(file);
    _target.application().type(resolveSession(session), text,
                               newline ? LineEnd::Return : LineEnd::None);
}

std::optional<std::string> TmuxITerm::findWindow(const ObjectSpecifier& reference) {
    if (reference.steps().size() != 1)
        return std::nullopt;
    const std::string& step = reference.steps().front();
    const TmuxApplication& application = _target.application();
    if (MadeTerminal* made = madeTerminal(reference))
        return made->window;
    const char* front = speaks(TerminalVocabulary::ITermClassic) ? specifier::kCurrentTerminal
                                                                 : specifier::kCurrentWindow;
    if (step == front)
        return application.frontWindow();
    return windowAtIndexStep(application, step);
}

std::string TmuxITerm::resolveWindow(const ObjectSpecifier& reference) {
    std::optional<std::string> window = findWindow(reference);
    if (!window)
        throw noSuchObject(_target.application().name(), reference);
    return *window;
}

std::string TmuxITerm::resolveSession(const ObjectSpecifier& reference) {
    const std::vector<std::string>& steps = reference.steps();
    if (steps.size() != 2 || steps.back() != specifier::kCurrentSession) {
        throw noSuchObject(_target.application().name(), reference);
    }
    ObjectSpecifier container({steps.front()});
    // A made terminal has no session until one is launched in it.
    if (MadeTerminal* made = madeTerminal(container); made && !made->launched) {
        throw noSuchObject(_target.application().name(), reference);
    }
    return resolveWindow(container);
}

TmuxScriptingBridge::TmuxScriptingBridge(TmuxDesktop desktop, FinderSource finder)
    : _desktop(std::move(desktop)), _finder(std::move(finder)) {}

std::unique_ptr<FinderScripting> TmuxScriptingBridge::finder(const std::string& bundleIdentifier) {
    return _finder(bundleIdentifier);
}

std::unique_ptr<TerminalScripting> TmuxScriptingBridge::terminal(
    const std::string& bundleIdentifier) {
    return std::make_unique<TmuxTerminal>(_desktop, bundleIdentifier);
}

std::unique_ptr<ITermScripting> TmuxScriptingBridge::iTerm(const std::string& bundleIdentifier) {
    return std::make_unique<TmuxITerm>(_desktop, bundleIdentifier);
}

}  // namespace quaymark
